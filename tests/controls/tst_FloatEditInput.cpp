// The numeric field driven as a user drives it: typing, Enter, arrows, Page Up/Down, the wheel
// and leaving the field, with its questions answered through the question handler.
#include "FloatEditFixture.h"
#include "TestMain.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <limits>
#include <stdexcept>

class tst_FloatEditInput : public QObject, public TFloatEditFixture {
    Q_OBJECT

private slots:
    void initTestCase() { InstallQuestionHandler(); }
    void init() { QVERIFY(OpenForm()); }
    void cleanup() { CloseForm(); }

    void typingOutOfRangeAndEnter() {
        Type("150");
        QCOMPARE(FEdit->text(), QStringLiteral("150"));
        PressEnter();
        QCOMPARE(FEdit->text(), QStringLiteral("100"));
        QCOMPARE(FValidations, 1);
        QCOMPARE(FLastSender, FEdit);
        QVERIFY(FQuestions.isEmpty());
        QCOMPARE(FEdit->selectedText(), QStringLiteral("100"));
    }

    // A typed value outside the range by less than the display's tolerance is corrected to the
    // bound like any other: the value sent on validation lies inside the range.
    void typedJustOutsideRangeIsCorrected_data() {
        QTest::addColumn<bool>("ask");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<double>("value");
        QTest::newRow("below the minimum") << false << "-0.004"
                                           << "0.00" << 0.0;
        QTest::newRow("above the maximum") << false << "100.004"
                                           << "100.00" << 100.0;
        QTest::newRow("below the minimum, asked, Yes") << true << "-0.004"
                                                       << "0.00" << 0.0;
    }
    void typedJustOutsideRangeIsCorrected() {
        QFETCH(bool, ask);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(double, value);
        FEdit->SetIntegerMode(false);
        FEdit->SetAutoCorretion(!ask);
        FAnswer = true;
        long double validated = -1;
        FEdit->OnValidate = [&](QObject *) { validated = FEdit->ValueFloat(); };
        Type(typed);
        PressEnter();
        QCOMPARE(FQuestions.size(), ask ? 1 : 0);
        QCOMPARE(FEdit->text(), shown);
        QCOMPARE(double(validated), value);
        QCOMPARE(double(FEdit->ValueFloat()), value);
        QCOMPARE(FEdit->doValidate(), 0);
    }

    void rangeQuestion_data() {
        QTest::addColumn<bool>("integerMode");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("question");
        const QString intQ = QStringLiteral(
            "Значение в поле ввода Ток должно находиться в диапазоне от 0 до 100\rИсправить значение?");
        const QString floatQ = QStringLiteral(
            "Значение в поле ввода Ток должно находиться в диапазоне от 0.00 до 100.00\rИсправить значение?");
        QTest::newRow("integer, No") << true << false << "150" << -1 << "150" << intQ;
        QTest::newRow("integer, Yes") << true << true << "150" << 0 << "100" << intQ;
        QTest::newRow("integer below, Yes") << true << true << "-5" << 0 << "0" << intQ;
        QTest::newRow("float, No") << false << false << "100.5" << -1 << "100.5" << floatQ;
        QTest::newRow("float, Yes") << false << true << "100.5" << 0 << "100.00" << floatQ;
    }
    void rangeQuestion() {
        QFETCH(bool, integerMode);
        QFETCH(bool, answer);
        QFETCH(QString, typed);
        QFETCH(int, result);
        QFETCH(QString, text);
        QFETCH(QString, question);
        FEdit->SetIntegerMode(integerMode);
        FEdit->SetFieldName("Ток");
        FEdit->SetAutoCorretion(false);
        FAnswer = answer;
        Type(typed);
        QCOMPARE(FEdit->doValidate(), result);
        QCOMPARE(FQuestions.size(), 1);
        QCOMPARE(FQuestions[0].Caption, QStringLiteral("Неверное значение"));
        QCOMPARE(FQuestions[0].Text, question);
        QCOMPARE(FEdit->text(), text);
        QCOMPARE(FEdit->selectedText(), text);
        QCOMPARE(FValidations, 1);
        // The same through the Enter key.
        Type(typed);
        PressEnter();
        QCOMPARE(FQuestions.size(), 2);
        QCOMPARE(FEdit->text(), text);
        QCOMPARE(FValidations, 2);
    }

    void parseQuestion_data() {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::newRow("No leaves it marked") << false << 3 << "12x4";
        QTest::newRow("Yes corrects") << true << 0 << "100";
    }
    void parseQuestion() {
        QFETCH(bool, answer);
        QFETCH(int, result);
        QFETCH(QString, text);
        FEdit->SetFieldName("Ток");
        FEdit->SetAutoCorretion(false);
        FAnswer = answer;
        FEdit->setText("12x4"); // pasted: typing would drop the letter
        QCOMPARE(FEdit->doValidate(), result);
        QCOMPARE(FQuestions.size(), 1);
        QCOMPARE(FQuestions[0].Text,
                 QStringLiteral("Неверное значение в поле ввода Ток\rИсправить значение?"));
        QCOMPARE(FEdit->text(), text);
        QCOMPARE(FValidations, 1);
        if (result > 0) {
            QCOMPARE(FEdit->cursorPosition(), result);
            QVERIFY(!FEdit->hasSelectedText());
            // Enter with an uncorrected error is swallowed.
            QSignalSpy returns(FEdit, &QLineEdit::returnPressed);
            PressEnter();
            QCOMPARE(returns.count(), 0);
        }
    }

    void noQuestionWithoutAsk() {
        FEdit->SetAutoCorretion(false);
        FEdit->SetAutoCorretionAsk(false);
        FEdit->setText("7-");
        QCOMPARE(FEdit->doValidate(), 2);
        FEdit->setText("700");
        QCOMPARE(FEdit->doValidate(), -1);
        QVERIFY(FQuestions.isEmpty());
        QCOMPARE(FEdit->text(), QStringLiteral("700"));
    }

    void typedMaximumIsInRange() {
        // 99.9 as an extended bound lies below the double nearest to 99.9.
        FEdit->SetIntegerMode(false);
        FEdit->SetMaxValueFloat(99.9L);
        FEdit->SetMinValueFloat(0.1L);
        FEdit->SetAutoCorretion(false);
        Type("99.9");
        QCOMPARE(FEdit->doValidate(), 0);
        Type("0.1");
        QCOMPARE(FEdit->doValidate(), 0);
        QVERIFY(FQuestions.isEmpty());
    }

    void corrections_data() {
        QTest::addColumn<bool>("integerMode");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("cleaned");
        QTest::addColumn<QString>("shown");
        QTest::newRow("trailing letter") << false << "1.5e+3x"
                                         << "1.5e+3"
                                         << "1500.00";
        QTest::newRow("double minus") << false << "--12"
                                      << "-12"
                                      << "-12.00";
        QTest::newRow("second point") << false << "1.2.3"
                                      << "1.23"
                                      << "1.23";
        QTest::newRow("comma to point") << false << "2,5,1"
                                        << "2.51"
                                        << "2.51";
        QTest::newRow("sign inside") << false << "4-2"
                                     << "42"
                                     << "42.00";
        // What cannot be read after cleaning becomes the minimum.
        QTest::newRow("letters only") << false << "abc"
                                      << ""
                                      << "-5000.00";
        QTest::newRow("exponent without digits") << false << "1e"
                                                 << "1e"
                                                 << "-5000.00";
        QTest::newRow("too large") << false << "1e9999"
                                   << "1e9999"
                                   << "-5000.00";
        QTest::newRow("integer: point removed") << true << "12.5"
                                                << "125"
                                                << "125";
        QTest::newRow("integer: double minus") << true << "--12"
                                               << "-12"
                                               << "-12";
        QTest::newRow("integer: lone sign") << true << "-"
                                            << "-"
                                            << "-5000";
        QTest::newRow("integer: clamped") << true << "9x9x9x9"
                                          << "9999"
                                          << "5000";
    }
    void corrections() {
        QFETCH(bool, integerMode);
        QFETCH(QString, pasted);
        QFETCH(QString, cleaned);
        QFETCH(QString, shown);
        FEdit->SetIntegerMode(integerMode);
        FEdit->SetMaxValueInt(5000);
        FEdit->SetMinValueInt(-5000);
        FEdit->SetMaxValueFloat(5000);
        FEdit->SetMinValueFloat(-5000);
        FEdit->SetValueDefaultFloat(0);
        FEdit->SetValueInt(0);
        FEdit->setText(pasted);
        QSignalSpy changes(FEdit, &QLineEdit::textChanged);
        PressEnter();
        // The cleaned text is set as a normal change; the value's display follows silently.
        if (cleaned != pasted) {
            QVERIFY(!changes.isEmpty());
            QCOMPARE(changes.last().at(0).toString(), cleaned);
        }
        QCOMPARE(FEdit->text(), shown);
        QCOMPARE(FEdit->ConvertErrorPos(), 0);
        QCOMPARE(FValidations, 1);
        QVERIFY(FQuestions.isEmpty());
    }

    void unreadableTextIsReplacedEvenWhenNothingIsRemoved_data() {
        QTest::addColumn<bool>("integerMode");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("shown");
        QTest::newRow("float") << false << "1e"
                               << "0.00";
        QTest::newRow("integer") << true << "-"
                                 << "0";
    }
    void unreadableTextIsReplacedEvenWhenNothingIsRemoved() {
        // The failed reading gives 0, the same as the minimum the correction falls back to.
        QFETCH(bool, integerMode);
        QFETCH(QString, pasted);
        QFETCH(QString, shown);
        FEdit->SetIntegerMode(integerMode);
        FEdit->setText(pasted);
        PressEnter();
        QCOMPARE(FEdit->text(), shown);
        FEdit->setText(pasted);
        QTest::keyClick(FEdit, Qt::Key_Tab);
        QCOMPARE(FEdit->text(), shown);
        QVERIFY(FOther->hasFocus());
    }

    void integerModeFractionCorrectedThenClamped() {
        FEdit->setText("12.5");
        PressEnter();
        QCOMPARE(FEdit->text(), QStringLiteral("100"));
    }

    void characterFilter_data() {
        QTest::addColumn<bool>("integerMode");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::newRow("integer") << true << false << "-1a2.5e+3,"
                                 << "-125+3";
        QTest::newRow("float, exponent lower case") << false << false << "1a2,5E-3 "
                                                    << "12,5e-3";
        QTest::newRow("read-only") << false << true << "123"
                                   << "0.00";
    }
    void characterFilter() {
        QFETCH(bool, integerMode);
        QFETCH(bool, readOnly);
        QFETCH(QString, typed);
        QFETCH(QString, text);
        FEdit->SetIntegerMode(integerMode);
        FEdit->setReadOnly(readOnly);
        FEdit->selectAll();
        if (!readOnly) QTest::keyClick(FEdit, Qt::Key_Backspace);
        QTest::keyClicks(FEdit, typed);
        QCOMPARE(FEdit->text(), text);
    }

    // Editing keys in the middle of a value, each with the text the window system gives it:
    // X11 sends Delete with the text "\x7f", Backspace with "\b", Escape with "\x1b".
    void controlKeys_data() {
        QTest::addColumn<bool>("integerMode");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("keyText");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("cursor");
        // Every row starts from "12.5" (or "125") with the caret after the "2".
        const int none = int(Qt::NoModifier);
        QTest::newRow("Delete, X11 text") << false << false << int(Qt::Key_Delete) << none << "\x7f"
                                          << "125" << 2;
        QTest::newRow("Delete, no text") << false << false << int(Qt::Key_Delete) << none << ""
                                         << "125" << 2;
        QTest::newRow("integer: Delete, X11 text") << true << false << int(Qt::Key_Delete) << none << "\x7f"
                                                   << "12" << 2;
        QTest::newRow("Backspace") << false << false << int(Qt::Key_Backspace) << none << "\b"
                                   << "1.5" << 1;
        QTest::newRow("Ctrl+Delete, X11 text")
            << false << false << int(Qt::Key_Delete) << int(Qt::ControlModifier) << "\x7f"
            << "125" << 2; // the next word: the point
        QTest::newRow("Ctrl+Backspace")
            << false << false << int(Qt::Key_Backspace) << int(Qt::ControlModifier) << "\b"
            << ".5" << 0;
        QTest::newRow("Home") << false << false << int(Qt::Key_Home) << none << ""
                              << "12.5" << 0;
        QTest::newRow("End") << false << false << int(Qt::Key_End) << none << ""
                             << "12.5" << 4;
        QTest::newRow("Left") << false << false << int(Qt::Key_Left) << none << ""
                              << "12.5" << 1;
        QTest::newRow("Right") << false << false << int(Qt::Key_Right) << none << ""
                               << "12.5" << 3;
        QTest::newRow("Escape") << false << false << int(Qt::Key_Escape) << none << "\x1b"
                                << "12.5" << 2;
        QTest::newRow("read-only: Delete, X11 text") << false << true << int(Qt::Key_Delete) << none << "\x7f"
                                                     << "12.5" << 2;
        QTest::newRow("read-only: Home") << false << true << int(Qt::Key_Home) << none << ""
                                         << "12.5" << 0;
    }
    void controlKeys() {
        QFETCH(bool, integerMode);
        QFETCH(bool, readOnly);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, keyText);
        QFETCH(QString, text);
        QFETCH(int, cursor);
        FEdit->SetIntegerMode(integerMode);
        FEdit->setText(integerMode ? "125" : "12.5");
        FEdit->setReadOnly(readOnly);
        FEdit->setCursorPosition(2);
        QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), keyText);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::KeyboardModifiers(modifiers), keyText);
        QApplication::sendEvent(FEdit, &press);
        QApplication::sendEvent(FEdit, &release);
        QCOMPARE(FEdit->text(), text);
        QCOMPARE(FEdit->cursorPosition(), cursor);
        QCOMPARE(FValidations, 0);
    }

    // Values from outside (a device) arriving while the user types "42" over the shown "50".
    void valueFromOutsideWhileTyping_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("arrived"); // 6 and then 7 arrived while typing
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("validations");
        QTest::addColumn<int>("shows");
        QTest::addColumn<bool>("keepsFocus");
        QTest::newRow("Enter commits the typed value") << "enter" << true << "42" << 1 << 0 << true;
        QTest::newRow("a step commits the typed value") << "up" << true << "43" << 1 << 0 << true;
        QTest::newRow("Escape shows the latest value") << "escape" << true << "7" << 0 << 1 << true;
        QTest::newRow("leaving shows the latest value") << "tab" << true << "7" << 0 << 1 << false;
        QTest::newRow("Escape, nothing arrived: back to the shown value")
            << "escape" << false << "50" << 0 << 0 << true;
        QTest::newRow("leaving, nothing arrived: the typed value is validated")
            << "tab" << false << "42" << 1 << 0 << false;
        QTest::newRow("Enter, nothing arrived") << "enter" << false << "42" << 1 << 0 << true;
    }
    void valueFromOutsideWhileTyping() {
        QFETCH(QString, ending);
        QFETCH(bool, arrived);
        QFETCH(QString, text);
        QFETCH(int, validations);
        QFETCH(int, shows);
        QFETCH(bool, keepsFocus);
        int shown = 0;
        auto fromOutside = [&](qint64 value) {
            return FEdit->ShowUnlessEditing([&, value] {
                FEdit->SetValueInt(value);
                ++shown;
            });
        };
        FEdit->SetValueInt(50);
        QVERIFY(!FEdit->IsUserEditing());
        Type("42");
        QVERIFY(FEdit->IsUserEditing());
        if (arrived) {
            QVERIFY(!fromOutside(6));
            QVERIFY(!fromOutside(7));
        }
        QCOMPARE(FEdit->text(), QStringLiteral("42"));
        QCOMPARE(shown, 0);
        if (ending == "enter")
            PressEnter();
        else if (ending == "up")
            QTest::keyClick(FEdit, Qt::Key_Up);
        else if (ending == "escape")
            QTest::keyClick(FEdit, Qt::Key_Escape);
        else
            QTest::keyClick(FEdit, Qt::Key_Tab);
        QCOMPARE(FEdit->text(), text);
        QCOMPARE(FEdit->ValueInt(), text.toLongLong());
        QCOMPARE(FValidations, validations);
        QCOMPARE(shown, shows);
        QCOMPARE(FEdit->hasFocus(), keepsFocus);
        // The edit has ended: the next value from outside is shown at once.
        QVERIFY(!FEdit->IsUserEditing());
        QVERIFY(fromOutside(9));
        QCOMPARE(FEdit->text(), QStringLiteral("9"));
    }

    void valueFromOutsideShownAtOnce_data() {
        QTest::addColumn<QString>("before");
        QTest::newRow("focus, nothing typed") << "";
        QTest::newRow("typed back to the shown text") << "retyped";
        QTest::newRow("text set by the program") << "setText";
        QTest::newRow("shown empty, then a program's text") << "empty";
    }
    void valueFromOutsideShownAtOnce() {
        QFETCH(QString, before);
        FEdit->SetEnableEmpty(true);
        FEdit->SetValueInt(50);
        if (before == "retyped") {
            Type("42");
            Type("50");
        } else if (before == "setText") {
            FEdit->setText("42");
        } else if (before == "empty") {
            FEdit->SetValueVar(QVariant());
            FEdit->setText("42");
        }
        QVERIFY(FEdit->hasFocus());
        QVERIFY(!FEdit->IsUserEditing());
        QVERIFY(FEdit->ShowUnlessEditing([this] { FEdit->SetValueInt(7); }));
        QCOMPARE(FEdit->text(), QStringLiteral("7"));
        // Escape without an edit leaves the text alone and goes to the window.
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, "\x1b");
        QApplication::sendEvent(FEdit, &escape);
        QVERIFY(!escape.isAccepted());
        QCOMPARE(FEdit->text(), QStringLiteral("7"));
    }

    void escapeAfterEmptyShownRestoresEmpty() {
        FEdit->SetEnableEmpty(true);
        FEdit->SetValueVar(QVariant());
        Type("42");
        QVERIFY(FEdit->IsUserEditing());
        QTest::keyClick(FEdit, Qt::Key_Escape);
        QCOMPARE(FEdit->text(), QString());
        QVERIFY(!FEdit->ValueVar().isValid());
        QCOMPARE(FValidations, 0);
    }

    void stepping_data() {
        QTest::addColumn<bool>("integerMode");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<double>("value");
        QTest::newRow("up") << false << false << "up" << int(Qt::NoModifier) << 51.0;
        QTest::newRow("ctrl up") << false << false << "up" << int(Qt::ControlModifier) << 50.1;
        QTest::newRow("shift down") << false << false << "down" << int(Qt::ShiftModifier) << 49.9;
        QTest::newRow("alt up") << false << false << "up" << int(Qt::AltModifier) << 50.1;
        QTest::newRow("page up") << false << false << "pgup" << int(Qt::NoModifier) << 60.0;
        QTest::newRow("page down") << false << false << "pgdown" << int(Qt::NoModifier) << 40.0;
        QTest::newRow("wheel up") << false << false << "wheelup" << 0 << 51.0;
        QTest::newRow("wheel down") << false << false << "wheeldown" << 0 << 49.0;
        QTest::newRow("read-only up") << false << true << "up" << int(Qt::NoModifier) << 50.0;
        QTest::newRow("read-only page down") << false << true << "pgdown" << int(Qt::NoModifier) << 50.0;
        QTest::newRow("read-only wheel") << false << true << "wheelup" << 0 << 50.0;
        QTest::newRow("integer: small step of 0.1 changes nothing")
            << true << false << "up" << int(Qt::ControlModifier) << 50.0;
        QTest::newRow("integer: page up") << true << false << "pgup" << int(Qt::NoModifier) << 60.0;
    }
    void stepping() {
        QFETCH(bool, integerMode);
        QFETCH(bool, readOnly);
        QFETCH(QString, action);
        QFETCH(int, modifiers);
        QFETCH(double, value);
        FEdit->SetIntegerMode(integerMode);
        FEdit->SetIncrementSM(-0.1L); // stored as its absolute value
        FEdit->SetIncrementPg(10);
        FEdit->SetValueInt(50);
        FEdit->setReadOnly(readOnly);
        const auto mods = Qt::KeyboardModifiers(modifiers);
        if (action == "up")
            QTest::keyClick(FEdit, Qt::Key_Up, mods);
        else if (action == "down")
            QTest::keyClick(FEdit, Qt::Key_Down, mods);
        else if (action == "pgup")
            QTest::keyClick(FEdit, Qt::Key_PageUp, mods);
        else if (action == "pgdown")
            QTest::keyClick(FEdit, Qt::Key_PageDown, mods);
        else
            Wheel(action == "wheelup" ? 120 : -120);
        QCOMPARE(double(FEdit->ValueFloat()), value);
        QCOMPARE(FValidations, readOnly ? 0 : 1);
    }

    void steppingStopsAtBounds() {
        FEdit->SetValueInt(95);
        QTest::keyClick(FEdit, Qt::Key_PageUp);
        QCOMPARE(FEdit->text(), QStringLiteral("100"));
        QTest::keyClick(FEdit, Qt::Key_Up);
        QCOMPARE(FEdit->text(), QStringLiteral("100"));
        FEdit->SetMaxValueInt(std::numeric_limits<qint64>::max());
        FEdit->SetIncrementPg(1e30L);
        QTest::keyClick(FEdit, Qt::Key_PageUp);
        QCOMPARE(FEdit->ValueInt(), std::numeric_limits<qint64>::max());
        FEdit->IncrementValue(1, true);
        QCOMPARE(FEdit->ValueInt(), std::numeric_limits<qint64>::max());
        // A step of half a unit never moves an integer.
        FEdit->SetIncrement(0.5L);
        FEdit->SetValueInt(10);
        FEdit->IncrementValue(1, false);
        QCOMPARE(FEdit->ValueInt(), qint64(10));
        FEdit->IncrementValue(3, 7); // an unknown mode takes the normal step
        QCOMPARE(FEdit->ValueInt(), qint64(11));
    }

    void wheelHandledByUser() {
        bool called = false;
        FEdit->OnMouseWheelUp = [&](QObject *, QWheelEvent *, bool &handled) {
            called = true;
            handled = true;
        };
        FEdit->SetValueInt(5);
        Wheel(120);
        QVERIFY(called);
        QCOMPARE(FEdit->ValueInt(), qint64(5));
        Wheel(-120);
        QCOMPARE(FEdit->ValueInt(), qint64(4));
        // A fine-grained wheel steps once a whole notch has been turned.
        Wheel(-60);
        QCOMPARE(FEdit->ValueInt(), qint64(4));
        Wheel(-60);
        QCOMPARE(FEdit->ValueInt(), qint64(3));
    }

    void leaving_data() {
        QTest::addColumn<bool>("softValidate");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<bool>("focusBack");
        QTest::addColumn<int>("cursor");
        QTest::newRow("parse error takes focus back") << false << "12x4" << true << 2;
        QTest::newRow("range error takes focus back") << false << "500" << true << -1;
        QTest::newRow("soft: parse error lets go") << true << "12x4" << false << -1;
        QTest::newRow("soft: range error lets go") << true << "500" << false << -1;
        QTest::newRow("valid text lets go") << false << "42" << false << -1;
    }
    void leaving() {
        QFETCH(bool, softValidate);
        QFETCH(QString, pasted);
        QFETCH(bool, focusBack);
        QFETCH(int, cursor);
        FEdit->SetSoftValidate(softValidate);
        FEdit->SetAutoCorretion(false);
        FEdit->SetAutoCorretionAsk(false);
        FEdit->setText(pasted);
        QTest::keyClick(FEdit, Qt::Key_Tab);
        QCOMPARE(FValidations, 1);
        QCOMPARE(FEdit->hasFocus(), focusBack);
        QCOMPARE(FOther->hasFocus(), !focusBack);
        QCOMPARE(FEdit->text(), pasted);
        if (cursor >= 0) {
            QCOMPARE(FEdit->cursorPosition(), cursor);
            QVERIFY(!FEdit->hasSelectedText());
        }
    }

    void leavingWithCorrection() {
        FEdit->setText("500");
        QTest::keyClick(FEdit, Qt::Key_Tab);
        QVERIFY(FOther->hasFocus());
        QCOMPARE(FEdit->text(), QStringLiteral("100"));
    }

    void noSecondValidationWhileAsking() {
        FEdit->SetAutoCorretion(false);
        FAnswer = false;
        // The question takes the focus away from the field, as a message box does.
        FWhileAsking = [this] { FOther->setFocus(Qt::OtherFocusReason); };
        FEdit->setText("12x4");
        PressEnter();
        QCOMPARE(FQuestions.size(), 1);
        QCOMPARE(FValidations, 1);
        QVERIFY(!FEdit->IsValidating());

        // Leaving the field asks once as well, and the field keeps the focus afterwards.
        FQuestions.clear();
        FValidations = 0;
        FEdit->setFocus();
        QTest::keyClick(FEdit, Qt::Key_Tab);
        QCOMPARE(FQuestions.size(), 1);
        QCOMPARE(FValidations, 1);
        QVERIFY(FEdit->hasFocus());
    }

    void applicationMessageBox_data() {
        QTest::addColumn<bool>("answerYes");
        QTest::addColumn<QString>("text");
        QTest::newRow("No") << false << "150";
        QTest::newRow("Yes") << true << "100";
    }
    void applicationMessageBox() {
        // Without a handler the field asks through a real modal box; answer it from inside its loop.
        QFETCH(bool, answerYes);
        QFETCH(QString, text);
        const TFloatEdit::TQuestionHandler previous = TFloatEdit::SetQuestionHandler(nullptr);
        FEdit->SetFieldName("Период");
        FEdit->SetAutoCorretion(false);
        Type("150");
        QString title, shown;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool answered = false;
        QTimer::singleShot(0, FEdit, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) return;
            title = box->windowTitle();
            shown = box->text();
            icon = box->icon();
            // The box has the focus now; the field must not validate a second time meanwhile.
            QTest::keyClick(box, answerYes ? Qt::Key_Y : Qt::Key_N, Qt::AltModifier);
            if (box->isVisible()) box->button(answerYes ? QMessageBox::Yes : QMessageBox::No)->click();
            answered = true;
        });
        PressEnter();
        TFloatEdit::SetQuestionHandler(previous);
        QVERIFY(answered);
        QCOMPARE(title, QStringLiteral("Неверное значение"));
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(shown, QStringLiteral("Значение в поле ввода Период должно находиться в диапазоне от 0 до "
                                       "100\nИсправить значение?"));
        QCOMPARE(FEdit->text(), text);
        QCOMPARE(FValidations, 1);
    }

    void notificationMayReplaceItselfOrDeleteTheField() {
        int first = 0, second = 0;
        FEdit->OnValidate = [&](QObject *) {
            ++first;
            FEdit->OnValidate = [&](QObject *) { ++second; };
        };
        FEdit->doValidate();
        FEdit->doValidate();
        QCOMPARE(first, 1);
        QCOMPARE(second, 1);
        QVERIFY(!FEdit->IsValidating());

        auto *doomed = new TFloatEdit(FForm.get());
        doomed->OnValidate = [](QObject *sender) { delete sender; };
        QPointer<TFloatEdit> watch(doomed);
        doomed->doValidate();
        QVERIFY(watch.isNull());
    }

    void notificationRunsWhenHandlerFails() {
        FEdit->SetAutoCorretion(false);
        FWhileAsking = [] { throw std::runtime_error("no box"); };
        FEdit->setText("150");
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, FEdit->doValidate());
        QCOMPARE(FValidations, 1);
        QVERIFY(!FEdit->IsValidating());
    }
};

TAMREL_TEST_MAIN(tst_FloatEditInput)
#include "tst_FloatEditInput.moc"

// The numeric edit field driven as a user drives it: keys, wheel and focus changes on a real
// window (offscreen), with the field's questions answered through its question handler.
#include "CompFloatEdit.h"
#include "TestMain.h"

#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <limits>
#include <memory>

class tst_FloatEdit : public QObject {
    Q_OBJECT

    struct TQuestion {
        QString Caption;
        QString Text;
    };

    std::unique_ptr<QWidget> FForm;
    TFloatEdit *FEdit = nullptr;
    QLineEdit *FOther = nullptr;
    QList<TQuestion> FQuestions;
    bool FAnswer = false;
    std::function<void()> FWhileAsking;
    int FValidations = 0;
    QObject *FLastSender = nullptr;

    void Type(const QString &Text) {
        FEdit->setFocus();
        FEdit->selectAll();
        QTest::keyClick(FEdit, Qt::Key_Delete);
        QTest::keyClicks(FEdit, Text);
    }
    void PressEnter() { QTest::keyClick(FEdit, Qt::Key_Return); }
    void Wheel(int Delta) {
        const QPointF pos(FEdit->width() / 2.0, FEdit->height() / 2.0);
        QWheelEvent event(pos, FEdit->mapToGlobal(pos), QPoint(), QPoint(0, Delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(FEdit, &event);
    }

private slots:
    void initTestCase() {
        TFloatEdit::SetQuestionHandler([this](QWidget *, const QString &Caption, const QString &Text) {
            FQuestions.append({Caption, Text});
            if (FWhileAsking) FWhileAsking();
            return FAnswer;
        });
    }

    void init() {
        QLocale::setDefault(QLocale::c());
        FForm = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(FForm.get());
        FEdit = new TFloatEdit(FForm.get());
        FOther = new QLineEdit(FForm.get());
        layout->addWidget(FEdit);
        layout->addWidget(FOther);
        FForm->show();
        FForm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
        FEdit->setFocus();
        QTRY_VERIFY(FEdit->hasFocus());
        FQuestions.clear();
        FAnswer = false;
        FWhileAsking = nullptr;
        FValidations = 0;
        FLastSender = nullptr;
        FEdit->OnValidate = [this](QObject *Sender) {
            FLastSender = Sender;
            ++FValidations;
        };
    }

    void cleanup() {
        FForm.reset();
        QLocale::setDefault(QLocale::c());
    }

    void defaultsOfNewField() {
        TFloatEdit edit;
        QCOMPARE(edit.text(), QStringLiteral("0"));
        QCOMPARE(edit.MaxValueFloat(), 100.0L);
        QCOMPARE(edit.MinValueFloat(), 0.0L);
        QCOMPARE(edit.MaxValueInt(), qint64(100));
        QCOMPARE(edit.MinValueInt(), qint64(0));
        QCOMPARE(edit.ValueDefaultInt(), qint64(0));
        QCOMPARE(edit.ValueDefaultFloat(), 0.0L);
        QCOMPARE(edit.Precision(), 10);
        QCOMPARE(edit.Digits(), 2);
        QVERIFY(edit.IntegerMode());
        QVERIFY(!edit.EnableEmpty());
        QCOMPARE(edit.IncrementSM(), 1.0L);
        QCOMPARE(edit.Increment(), 1.0L);
        QCOMPARE(edit.IncrementPg(), 10.0L);
        QVERIFY(edit.FieldName().isEmpty());
        QVERIFY(edit.AutoCorretion());
        QVERIFY(edit.AutoCorretionAsk());
        QVERIFY(!edit.SoftValidate());
        QVERIFY(!edit.TextChanged());
        QVERIFY(edit.alignment() & Qt::AlignRight);
        QCOMPARE(edit.ValueFloatComp(), 0.005L);
    }

    void display_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("integerMode");
        QTest::addColumn<int>("precision");
        QTest::addColumn<int>("digits");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("float, point locale") << "C" << false << 10 << 2 << 3.0 << "3.00";
        QTest::newRow("float, comma locale") << "de_DE" << false << 10 << 2 << 3.0 << "3,00";
        QTest::newRow("no thousands separator") << "de_DE" << false << 10 << 2 << 12345.5 << "12345,50";
        QTest::newRow("rounded to digits") << "C" << false << 10 << 1 << 2.46 << "2.5";
        QTest::newRow("negative") << "C" << false << 10 << 2 << -7.125 << "-7.13";
        QTest::newRow("rounds to zero without sign") << "C" << false << 10 << 2 << -0.001 << "0.00";
        QTest::newRow("significant digits limit") << "C" << false << 4 << 2 << 12.3456 << "12.35";
        QTest::newRow("precision limits fraction") << "C" << false << 3 << 2 << 12.3456 << "12.30";
        QTest::newRow("integer part longer than precision")
            << "C" << false << 4 << 2 << 123456.0 << "1.23e+05";
        QTest::newRow("integer mode") << "de_DE" << true << 10 << 2 << -42.0 << "-42";
    }
    void display() {
        QFETCH(QString, locale);
        QFETCH(bool, integerMode);
        QFETCH(int, precision);
        QFETCH(int, digits);
        QFETCH(double, value);
        QFETCH(QString, shown);
        QLocale::setDefault(QLocale(locale));
        FEdit->SetMinValueInt(-1000000);
        FEdit->SetMaxValueInt(1000000);
        FEdit->SetMaxValueFloat(1e6L);
        FEdit->SetMinValueFloat(-1e6L);
        FEdit->SetIntegerMode(integerMode);
        FEdit->SetPrecisionDigits(precision, digits);
        QSignalSpy changes(FEdit, &QLineEdit::textChanged);
        FEdit->SetValueFloat(value);
        QCOMPARE(FEdit->text(), shown);
        // The display does not count as a change of the text.
        QCOMPARE(changes.count(), 0);
        QVERIFY(!FEdit->TextChanged());
    }

    void reading_data() {
        QTest::addColumn<bool>("integerMode");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("valueFloat");
        QTest::addColumn<qint64>("valueInt");
        QTest::addColumn<int>("errorPos");
        QTest::newRow("comma") << false << "1,5" << 1.5 << qint64(1) << 0;
        QTest::newRow("point") << false << "1.5" << 1.5 << qint64(1) << 0;
        QTest::newRow("blanks and exponent") << false << "  -2.5e2" << -250.0 << qint64(-250) << 0;
        QTest::newRow("missing exponent digits") << false << "1e" << 0.0 << qint64(0) << 3;
        QTest::newRow("second point") << false << "1.2.3" << 0.0 << qint64(0) << 4;
        QTest::newRow("empty fails at 1") << false << "" << 0.0 << qint64(0) << 1;
        QTest::newRow("integer: fraction truncated") << true << "12.5" << 12.0 << qint64(12) << 3;
        QTest::newRow("integer: negative fraction") << true << "-12.9" << -12.0 << qint64(-12) << 4;
        QTest::newRow("integer: garbage") << true << "x1" << 0.0 << qint64(0) << 1;
        QTest::newRow("integer: plain") << true << "+42" << 42.0 << qint64(42) << 0;
        QTest::newRow("integer: 64-bit limit") << true << "-9223372036854775808" << -9223372036854775808.0
                                               << std::numeric_limits<qint64>::min() << 0;
        QTest::newRow("integer: beyond 64 bits saturates")
            << true << "99999999999999999999" << 9223372036854775807.0 << std::numeric_limits<qint64>::max()
            << 19;
    }
    void reading() {
        QFETCH(bool, integerMode);
        QFETCH(QString, text);
        QFETCH(double, valueFloat);
        QFETCH(qint64, valueInt);
        QFETCH(int, errorPos);
        FEdit->SetIntegerMode(integerMode);
        FEdit->setText(text);
        QVERIFY(FEdit->TextChanged());
        if (integerMode) QCOMPARE(FEdit->ValueInt(), valueInt);
        QCOMPARE(double(FEdit->ValueFloat()), valueFloat);
        QCOMPARE(FEdit->ValueInt(), valueInt);
        QCOMPARE(FEdit->ConvertErrorPos(), errorPos);
        // Reading never rewrites what the user typed.
        QCOMPARE(FEdit->text(), text);
    }

    void floatModeIntegerReadKeepsFraction() {
        FEdit->SetIntegerMode(false);
        FEdit->setText("1.5");
        QCOMPARE(FEdit->ValueInt(), qint64(1));
        QCOMPARE(FEdit->ValueFloat(), 1.5L);
    }

    void emptyText() {
        FEdit->SetEnableEmpty(true);
        FEdit->SetAutoCorretion(false);
        FEdit->setText("x");
        QCOMPARE(FEdit->ValueInt(), qint64(0));
        QCOMPARE(FEdit->ConvertErrorPos(), 1);
        FEdit->setText("");
        QCOMPARE(FEdit->ValueInt(), qint64(0));
        QCOMPARE(FEdit->ConvertErrorPos(), 1);
        QVERIFY(FEdit->ValueVar().isNull());
        // An allowed empty text is valid even though the earlier read failed.
        QCOMPARE(FEdit->Validate(false, true), 0);
        QVERIFY(FQuestions.isEmpty());
        QCOMPARE(FEdit->text(), QString());
        // ...and is range-checked as 0.
        FEdit->SetMaxValueInt(10);
        FEdit->SetMinValueInt(5);
        FEdit->setText("");
        QCOMPARE(FEdit->Validate(false, false), -1);
        QCOMPARE(FEdit->Validate(true, false), 0);
        QCOMPARE(FEdit->text(), QStringLiteral("5"));
        // Switching empty text off while the text is empty puts a zero in.
        FEdit->SetMinValueInt(0);
        FEdit->setText("");
        FEdit->SetEnableEmpty(false);
        QCOMPARE(FEdit->text(), QStringLiteral("0"));
    }

    void valueVar() {
        FEdit->SetValueVar(QVariant(qlonglong(42)));
        QCOMPARE(FEdit->text(), QStringLiteral("42"));
        QCOMPARE(FEdit->ValueVar(), QVariant(qlonglong(42)));
        FEdit->SetValueDefaultInt(7);
        FEdit->SetValueVar(QVariant());
        QCOMPARE(FEdit->text(), QStringLiteral("7"));
        FEdit->SetValueVar(QVariant(QStringLiteral("abc")));
        QCOMPARE(FEdit->text(), QStringLiteral("7"));
        FEdit->SetEnableEmpty(true);
        FEdit->SetValueVar(QVariant());
        QCOMPARE(FEdit->text(), QString());
        FEdit->SetIntegerMode(false);
        FEdit->SetValueVar(QVariant(2.5));
        QCOMPARE(FEdit->text(), QStringLiteral("2.50"));
        QCOMPARE(FEdit->ValueVar().toDouble(), 2.5);
        // NaN stands for no value.
        FEdit->SetValueFloat(std::numeric_limits<long double>::quiet_NaN());
        QCOMPARE(FEdit->text(), QString());
    }

    void writingClampsSilently() {
        FEdit->SetValueInt(150);
        QCOMPARE(FEdit->text(), QStringLiteral("100"));
        FEdit->SetValueInt(-3);
        QCOMPARE(FEdit->text(), QStringLiteral("0"));
        FEdit->SetIntegerMode(false);
        FEdit->SetValueFloat(1e300L);
        QCOMPARE(FEdit->text(), QStringLiteral("100.00"));
        QVERIFY(FQuestions.isEmpty());
        QCOMPARE(FValidations, 0);
    }

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

    void tolerance() {
        FEdit->SetIntegerMode(false);
        FEdit->SetDigits(3);
        QCOMPARE(FEdit->ValueFloatComp(), 0.0005L);
        FEdit->SetValueFloat(1.0L);
        QCOMPARE(FEdit->text(), QStringLiteral("1.000"));
        FEdit->SetValueFloat(1.0004L);
        QCOMPARE(FEdit->text(), QStringLiteral("1.000"));
        QCOMPARE(FEdit->ValueFloat(), 1.0L);
        FEdit->SetValueFloat(1.0006L);
        QCOMPARE(FEdit->text(), QStringLiteral("1.001"));
        QCOMPARE(FEdit->ValueFloat(), 1.0006L);
        // An unsynchronized text is always replaced, however close the value.
        FEdit->setText("1.0006");
        FEdit->SetValueFloat(1.0006L);
        QCOMPARE(FEdit->text(), QStringLiteral("1.001"));
    }

    void rangeRepairs() {
        FEdit->SetIntegerMode(false);
        FEdit->SetMaxValueFloat(-5);
        QCOMPARE(FEdit->MaxValueFloat(), 1.0L);
        FEdit->SetMinValueFloat(3);
        QCOMPARE(FEdit->MinValueFloat(), 0.0L);
        FEdit->SetMaxValueFloat(50);
        FEdit->SetValueFloat(40);
        FEdit->SetValueDefaultFloat(45);
        FEdit->SetMaxValueFloat(30);
        QCOMPARE(FEdit->text(), QStringLiteral("30.00"));
        QCOMPARE(FEdit->ValueDefaultFloat(), 30.0L);
        FEdit->SetMinValueFloat(35);
        QCOMPARE(FEdit->MinValueFloat(), 29.0L);
        QCOMPARE(FEdit->text(), QStringLiteral("30.00"));
        FEdit->SetValueDefaultFloat(-100);
        QCOMPARE(FEdit->ValueDefaultFloat(), 29.0L);

        FEdit->SetIntegerMode(true);
        FEdit->SetMaxValueInt(-5);
        QCOMPARE(FEdit->MaxValueInt(), qint64(1));
        FEdit->SetMaxValueInt(100);
        FEdit->SetValueInt(80);
        FEdit->SetValueDefaultInt(90);
        FEdit->SetMaxValueInt(50);
        QCOMPARE(FEdit->text(), QStringLiteral("50"));
        QCOMPARE(FEdit->ValueDefaultInt(), qint64(50));
        FEdit->SetMinValueInt(60);
        QCOMPARE(FEdit->MinValueInt(), qint64(49));
        // At the ends of the 64-bit range the repair does not overflow.
        FEdit->SetMaxValueInt(std::numeric_limits<qint64>::max());
        FEdit->SetMinValueInt(std::numeric_limits<qint64>::max());
        QCOMPARE(FEdit->MinValueInt(), std::numeric_limits<qint64>::max() - 1);
        FEdit->SetMinValueInt(std::numeric_limits<qint64>::min());
        FEdit->SetMaxValueInt(std::numeric_limits<qint64>::min());
        QCOMPARE(FEdit->MaxValueInt(), std::numeric_limits<qint64>::min() + 1);
        QVERIFY(FQuestions.isEmpty());
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
        FEdit->OnMouseWheelUp = [&](QObject *, QWheelEvent *, bool &Handled) {
            called = true;
            Handled = true;
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

    void notificationRunsWhenHandlerFails() {
        FEdit->SetAutoCorretion(false);
        FWhileAsking = [] { throw std::runtime_error("no box"); };
        FEdit->setText("150");
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, FEdit->doValidate());
        QCOMPARE(FValidations, 1);
        QVERIFY(!FEdit->IsValidating());
    }

    void textChangedAndSynchronization() {
        QSignalSpy changes(FEdit, &QLineEdit::textChanged);
        FEdit->selectAll();
        QTest::keyClicks(FEdit, "7");
        QVERIFY(FEdit->TextChanged());
        QCOMPARE(changes.count(), 1);
        QCOMPARE(FEdit->ValueInt(), qint64(7));
        FEdit->ShowValue();
        QVERIFY(!FEdit->TextChanged());
        QCOMPARE(changes.count(), 1);
        FEdit->SetTextChanged(true);
        QVERIFY(FEdit->TextChanged());
    }

    void passwordField() {
        FEdit->setEchoMode(QLineEdit::Password);
        FEdit->SetValueInt(5);
        FEdit->ShowValue();
        QCOMPARE(FEdit->text(), QStringLiteral("----"));
        FEdit->setText("zz");
        QCOMPARE(FEdit->ValueInt(), qint64(5));
        QCOMPARE(FEdit->doValidate(), 0);
        QCOMPARE(FValidations, 0);
    }

    void assignTo() {
        FEdit->SetIntegerMode(false);
        FEdit->SetMaxValueFloat(500);
        FEdit->SetMinValueFloat(-500);
        FEdit->SetPrecisionDigits(8, 3);
        FEdit->SetIncrementPg(25);
        FEdit->SetFieldName("Напряжение");
        FEdit->SetAutoCorretion(false);
        FEdit->SetAutoCorretionAsk(false);
        FEdit->SetSoftValidate(true);
        FEdit->SetValueFloat(-123.25L);
        TFloatEdit dest;
        FEdit->AssignTo(&dest);
        QCOMPARE(dest.MaxValueFloat(), 500.0L);
        QCOMPARE(dest.MinValueFloat(), -500.0L);
        QCOMPARE(dest.Precision(), 8);
        QCOMPARE(dest.Digits(), 3);
        QVERIFY(!dest.IntegerMode());
        QCOMPARE(dest.IncrementPg(), 25.0L);
        QCOMPARE(dest.FieldName(), QStringLiteral("Напряжение"));
        QVERIFY(!dest.AutoCorretion());
        QVERIFY(dest.AutoCorretionAsk()); // not copied
        QVERIFY(!dest.SoftValidate());    // not copied
        QCOMPARE(dest.text(), QStringLiteral("-123.250"));
        QCOMPARE(dest.ValueFloat(), -123.25L);
        dest.doValidate();
        QCOMPARE(FValidations, 1); // the notification came along
        QCOMPARE(FLastSender, &dest);

        QLineEdit plain;
        FEdit->AssignTo(&plain);
        QCOMPARE(plain.text(), QStringLiteral("-123.250"));
        QVERIFY(plain.alignment() & Qt::AlignRight);
    }

    void looks() {
        // Right-aligned numbers: the text's ink lies in the right half of the field. With
        // TAMREL_GRAB_DIR set the faces are written there as PNG files for a look by eye.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        FEdit->SetIntegerMode(false);
        FEdit->setMinimumWidth(160);
        FEdit->SetValueFloat(3);
        QCOMPARE(FEdit->text(), QStringLiteral("3,00"));
        auto grab = [this](const QString &Name) {
            const QImage image = FEdit->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QByteArray dir = qgetenv("TAMREL_GRAB_DIR");
            if (!dir.isEmpty())
                image.scaled(image.size() * 3)
                    .save(QString::fromLocal8Bit(dir) + "/floatedit_" + Name + ".png");
            return image;
        };
        auto ink = [](const QImage &Image) {
            QRect box;
            for (int y = 3; y < Image.height() - 3; ++y)
                for (int x = 3; x < Image.width() - 3; ++x)
                    if (qGray(Image.pixel(x, y)) < 90) box |= QRect(x, y, 1, 1);
            return box;
        };
        const QImage shown = grab("value");
        const QRect text = ink(shown);
        QVERIFY(!text.isEmpty());
        QVERIFY(text.left() > shown.width() / 2);
        FEdit->SetAutoCorretion(false);
        FEdit->SetAutoCorretionAsk(false);
        Type("150");
        FEdit->doValidate();
        QCOMPARE(FEdit->selectedText(), QStringLiteral("150"));
        grab("range_error_selected");
        FEdit->setReadOnly(true);
        FEdit->SetValueFloat(-12.5L);
        grab("read_only");
        FEdit->setEnabled(false);
        grab("disabled");
    }

    void associatedUpDownFollowsEnabled() {
        auto *upDown = new QSpinBox(FForm.get());
        FEdit->SetAssociateUpDn(upDown);
        FEdit->setEnabled(false);
        QVERIFY(!upDown->isEnabled());
        FEdit->setEnabled(true);
        QVERIFY(upDown->isEnabled());
        delete upDown; // not owned: the field forgets it
        QCOMPARE(FEdit->AssociateUpDn(), nullptr);
        FEdit->setEnabled(false);
    }
};

TAMREL_TEST_MAIN(tst_FloatEdit)
#include "tst_FloatEdit.moc"

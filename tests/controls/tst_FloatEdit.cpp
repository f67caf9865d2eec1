// The numeric field's value: defaults, display, reading and writing, ranges and their repairs,
// the display tolerance, copying settings, and how it looks (offscreen window).
#include "FloatEditFixture.h"
#include "TestMain.h"

#include <QSpinBox>
#include <limits>

class tst_FloatEdit : public QObject, public TFloatEditFixture {
    Q_OBJECT

private slots:
    void initTestCase() { InstallQuestionHandler(); }
    void init() { QVERIFY(OpenForm()); }
    void cleanup() { CloseForm(); }

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
        // One rounding, at the significant digit or the decimal that comes first: rounding to the
        // significant digits and then again to the decimals would carry a 5 into the shown digits.
        QTest::newRow("rounded once at the decimals") << "C" << false << 10 << 2 << 1.2349999999 << "1.23";
        QTest::newRow("rounded once, small value") << "C" << false << 2 << 3 << 0.00149 << "0.001";
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
        // Beyond the extended range: too small reads as zero, too large is unreadable, whatever
        // the exponent says on its own (a pasted text can be thousands of digits long).
        const QString zeros(4960, QLatin1Char('0'));
        QTest::newRow("too small") << false << "1e-5000" << 0.0 << qint64(0) << 0;
        QTest::newRow("too large") << false << "1e5000" << 0.0 << qint64(0) << 1;
        QTest::newRow("too small, long fraction") << false << "0." + zeros + "1" << 0.0 << qint64(0) << 0;
        QTest::newRow("too small, positive exponent")
            << false << "0." + zeros + "1e5" << 0.0 << qint64(0) << 0;
        QTest::newRow("too large, negative exponent")
            << false << "1" + zeros + "e-1" << 0.0 << qint64(0) << 1;
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
    void looks() {
        // Right-aligned numbers: the text's ink lies in the right half of the field. With
        // TAMREL_GRAB_DIR set the faces are written there as PNG files for a look by eye.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        FEdit->SetIntegerMode(false);
        FEdit->setMinimumWidth(160);
        FEdit->SetValueFloat(3);
        QCOMPARE(FEdit->text(), QStringLiteral("3,00"));
        auto grab = [this](const QString &name) {
            const QImage image = FEdit->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QByteArray dir = qgetenv("TAMREL_GRAB_DIR");
            if (!dir.isEmpty())
                image.scaled(image.size() * 3)
                    .save(QString::fromLocal8Bit(dir) + "/floatedit_" + name + ".png");
            return image;
        };
        auto ink = [](const QImage &image) {
            QRect box;
            for (int y = 3; y < image.height() - 3; ++y)
                for (int x = 3; x < image.width() - 3; ++x)
                    if (qGray(image.pixel(x, y)) < 90) box |= QRect(x, y, 1, 1);
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
};

TAMREL_TEST_MAIN(tst_FloatEdit)
#include "tst_FloatEdit.moc"

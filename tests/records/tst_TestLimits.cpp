// The verdict of a sweep's figures against the limits of its head type, and the limits kept
// in the program's settings.
#include "TestMain.h"
#include "uTestLimits.h"

#include <QSettings>
#include <QTemporaryDir>

namespace {

THysteresisFigures Figures(double maxVolts, double maxPercent, double spanVolts, int compared = 5) {
    THysteresisFigures figures;
    figures.ComparedPoints = compared;
    figures.MaxVolts = maxVolts;
    figures.MaxPercent = maxPercent;
    figures.SpanVolts = spanVolts;
    return figures;
}

TTestLimits Limits(std::optional<double> maxVolts, std::optional<double> maxPercent,
                   std::optional<double> minSpan) {
    return TTestLimits{maxVolts, maxPercent, minSpan};
}

} // namespace

class TestTestLimits : public QObject {
    Q_OBJECT
private slots:
    void verdict_data();
    void verdict();
    void storedPerPumpAndHead();
    void unreadableEntryIsUnset();
};

void TestTestLimits::verdict_data() {
    QTest::addColumn<THysteresisFigures>("figures");
    QTest::addColumn<TTestLimits>("limits");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QStringList>("failures");
    const auto none = std::nullopt;
    const TTestLimits volts = Limits(0.30, none, none);
    const TTestLimits percent = Limits(none, 10.0, none);
    const TTestLimits span = Limits(none, none, 2.0);

    QTest::newRow("no limits") << Figures(5.0, 90.0, 0.1) << TTestLimits{} << int(tvNone) << QStringList{};
    QTest::newRow("volts below") << Figures(0.29, 5, 4) << volts << int(tvPass) << QStringList{};
    QTest::newRow("volts at") << Figures(0.30, 5, 4) << volts << int(tvPass) << QStringList{};
    QTest::newRow("volts above") << Figures(0.42, 5, 4) << volts << int(tvFail)
                                 << QStringList{"Max hysteresis 0.42 V > 0.30 V"};
    // Measured 1.3 V against 1.0 V: the difference is 0.30000000000000004 in doubles.
    QTest::newRow("volts at, as measured")
        << ComputeHysteresisFigures({{10, 1.0}, {20, 1.0}}, {{20, 1.3}, {10, 1.0}}) << volts << int(tvPass)
        << QStringList{};
    // Over the limit by less than the display's two decimals: shown with as many as it takes.
    QTest::newRow("volts just above")
        << Figures(0.3004, 5, 4) << volts << int(tvFail) << QStringList{"Max hysteresis 0.3004 V > 0.3000 V"};
    QTest::newRow("percent below") << Figures(1.0, 9.9, 4) << percent << int(tvPass) << QStringList{};
    QTest::newRow("percent at") << Figures(1.0, 10.0, 4) << percent << int(tvPass) << QStringList{};
    QTest::newRow("percent above") << Figures(1.0, 10.1, 4) << percent << int(tvFail)
                                   << QStringList{"Max hysteresis 10.1 % > 10.0 %"};
    QTest::newRow("span below") << Figures(0.1, 5, 1.99) << span << int(tvFail)
                                << QStringList{"Span 1.99 V < 2.00 V"};
    QTest::newRow("span at") << Figures(0.1, 5, 2.0) << span << int(tvPass) << QStringList{};
    QTest::newRow("span above") << Figures(0.1, 5, 2.01) << span << int(tvPass) << QStringList{};
    QTest::newRow("all limits, two failing")
        << Figures(0.5, 8, 1.5) << Limits(0.3, 10, 2.0) << int(tvFail)
        << QStringList{"Max hysteresis 0.50 V > 0.30 V", "Span 1.50 V < 2.00 V"};
    QTest::newRow("all limits met") << Figures(0.3, 10, 2.0) << Limits(0.3, 10, 2.0) << int(tvPass)
                                    << QStringList{};
    // A sweep stopped before its branches overlap has not shown the hysteresis is in limits.
    QTest::newRow("hysteresis not measured")
        << Figures(0, 0, 3.0, 0) << volts << int(tvFail)
        << QStringList{"Hysteresis not measured: the branches share no duty range"};
    QTest::newRow("only span limited, hysteresis not measured")
        << Figures(0, 0, 3.0, 0) << span << int(tvPass) << QStringList{};
    QTest::newRow("percent of no span") << Figures(0.2, 0, 0.0, 1) << percent << int(tvFail)
                                        << QStringList{"Max hysteresis in % not measured: the span is 0 V"};
}

void TestTestLimits::verdict() {
    QFETCH(THysteresisFigures, figures);
    QFETCH(TTestLimits, limits);
    QFETCH(int, verdict);
    QFETCH(QStringList, failures);
    const TTestJudgement judgement = JudgeHysteresis(figures, limits);
    QCOMPARE(int(judgement.Verdict), verdict);
    QCOMPARE(judgement.Failures, failures);
    QCOMPARE(TestVerdictText(judgement.Verdict), verdict == tvPass   ? QStringLiteral("PASS")
                                                 : verdict == tvFail ? QStringLiteral("FAIL")
                                                                     : QString());
}

void TestTestLimits::storedPerPumpAndHead() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tamrel.ini"));
    const TTestLimits veInductive = Limits(0.3, std::nullopt, 2.5);
    const TTestLimits veResistive = Limits(std::nullopt, 7.5, std::nullopt);
    // A name with the settings' group separator stays one name.
    const TTestLimits odd = Limits(0.125, 12.0, 0.1);
    {
        QSettings settings(path, QSettings::IniFormat);
        SaveTestLimits(settings, "VE", "Inductive", veInductive);
        SaveTestLimits(settings, "VE", "Resistive", veResistive);
        SaveTestLimits(settings, "PE/2", "Inductive", odd);
        SaveTestLimits(settings, "Zexel", "Inductive", Limits(1, 1, 1));
        SaveTestLimits(settings, "Zexel", "Inductive", TTestLimits{}); // unset again
    }
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(LoadTestLimits(settings, "VE", "Inductive"), veInductive);
    QCOMPARE(LoadTestLimits(settings, "VE", "Resistive"), veResistive);
    QCOMPARE(LoadTestLimits(settings, "PE/2", "Inductive"), odd);
    QCOMPARE(LoadTestLimits(settings, "PE", "Inductive"), TTestLimits{});
    QVERIFY(LoadTestLimits(settings, "Zexel", "Inductive").IsEmpty());
    QVERIFY(LoadTestLimits(settings, "VE", "inductive").IsEmpty());
}

void TestTestLimits::unreadableEntryIsUnset() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tamrel.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[TestLimits]\nVE\\Inductive\\MaxHysteresisVolts=0,3\nVE\\Inductive\\MinSpanVolts=inf\n"
               "VE\\Inductive\\MaxHysteresisPercent=8.5\n");
    file.close();
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(LoadTestLimits(settings, "VE", "Inductive"), Limits(std::nullopt, 8.5, std::nullopt));
}

TAMREL_TEST_MAIN_CORE(TestTestLimits)
#include "tst_TestLimits.moc"

// The sweep core with a tester of the test's own: the duties it writes, the samples it takes
// and skips, how it ends, for a tester that answers inside the request (as tamrel-cli's
// blocking connection does) and one that answers later (as the window's link does).
#include "TestMain.h"
#include "uSweepRecord.h"
#include "uSweepRun.h"

#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <optional>

namespace {

// A head that reads duty / 10 V on its rising branch and 0.3 V more on its falling one,
// answering each position request with the duty in force when the request arrives.
class TFakeTester final : public ISweepTester {
public:
    TSweepRun Run{*this};
    bool Blocking = true;
    QSet<int> NoNumberAt; // requests (counted from 0) answered with a reading that is no number
    QVector<qint64> Writes;
    int Requests = 0;
    int PeriodMs = 0;
    int StepsEndedCount = 0;
    int AwaitMs = -1;
    QVector<TTestRecordPoint> Shown;
    QVector<TSweepOutcome> Finished;

    void WriteDuty(qint64 duty) override {
        FFalling = !Writes.isEmpty() && duty < Writes.last();
        Writes << duty;
    }
    void RequestPosition() override {
        const int n = Requests++;
        const std::optional<qint64> reading =
            NoNumberAt.contains(n) ? std::nullopt
                                   : std::optional<qint64>(Writes.last() * 100 + (FFalling ? 300 : 0));
        if (Blocking)
            Run.PositionReceived(reading);
        else
            FPending << reading;
    }
    void StartSteps(int periodMs) override { PeriodMs = periodMs; }
    void StepsEnded() override { ++StepsEndedCount; }
    void AwaitLastSample(int timeoutMs) override { AwaitMs = timeoutMs; }
    void SampleTaken(const TTestRecordPoint &point) override { Shown << point; }
    void SweepFinished(const TSweepOutcome &outcome) override { Finished << outcome; }

    // The answers of the asynchronous tester arrive.
    void Answer() {
        const QVector<std::optional<qint64>> pending = FPending;
        FPending.clear();
        for (const std::optional<qint64> &reading : pending)
            Run.PositionReceived(reading);
    }
    // A sweep to its end (at most maxTicks steps), its answers arriving before each step.
    void Sweep(const TSweepSettings &settings, int maxTicks = 100) {
        Run.Start(settings);
        for (int i = 0; i < maxTicks && Run.Running(); ++i) {
            Answer();
            Run.Tick();
        }
        Answer();
        // Nothing more comes from this tester.
        if (Run.AwaitingLastSample()) Run.GiveUpLastSample();
    }

private:
    bool FFalling = false;
    QVector<std::optional<qint64>> FPending;
};

// "r0 r10 f40": the points' branches and duties.
QString PointsText(const QVector<TTestRecordPoint> &points) {
    QStringList parts;
    for (const TTestRecordPoint &p : points)
        parts << QStringLiteral("%1%2").arg(p.Branch == sbRising ? 'r' : 'f').arg(p.Duty);
    return parts.join(QLatin1Char(' '));
}

QString NumbersText(const QVector<qint64> &values) {
    QStringList parts;
    for (qint64 v : values)
        parts << QString::number(v);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestSweepRun : public QObject {
    Q_OBJECT

private slots:
    void sweep_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("afterStep");
        QTest::addColumn<bool>("blocking");
        QTest::addColumn<QList<int>>("noNumberAt");
        QTest::addColumn<QString>("points");
        QTest::addColumn<QString>("writes");
        for (const bool blocking : {true, false}) {
            const char *tester = blocking ? "answered at once" : "answered later";
            for (const bool afterStep : {false, true}) {
                const char *sampling = afterStep ? "after each step" : "settled";
                auto row = [&](const char *name) {
                    return &QTest::addRow("%s, %s, %s", name, sampling, tester);
                };
                *row("0 to 50 by 10") << 0 << 50 << 10 << afterStep << blocking << QList<int>{}
                                      << "r0 r10 r20 r30 r40 r50 f40 f30 f20 f10"
                                      << "0 10 20 30 40 50 40 30 20 10 0";
                *row("a top between steps")
                    << 10 << 47 << 15 << afterStep << blocking << QList<int>{} << "r10 r25 r40 f25"
                    << "10 25 40 25 10";
                *row("start above end") << 60 << 50 << 5 << afterStep << blocking << QList<int>{} << "r60"
                                        << "60 60";
                *row("start equals end") << 30 << 30 << 5 << afterStep << blocking << QList<int>{} << "r30"
                                         << "30 30";
                *row("end 100") << 80 << 100 << 10 << afterStep << blocking << QList<int>{}
                                << "r80 r90 r100 f90"
                                << "80 90 100 90 80";
                *row("step beyond the span") << 0 << 50 << 51 << afterStep << blocking << QList<int>{} << "r0"
                                             << "0 0";
                *row("step as wide as the span")
                    << 0 << 50 << 50 << afterStep << blocking << QList<int>{} << "r0 r50"
                    << "0 50 0";
                // The third request is the one for duty 20 on the way up; the step gets no point,
                // the next request is answered as usual.
                *row("no number at 20 rising")
                    << 0 << 30 << 10 << afterStep << blocking << QList<int>{2} << "r0 r10 r30 f20 f10"
                    << "0 10 20 30 20 10 0";
                *row("no number at the first point")
                    << 0 << 30 << 10 << afterStep << blocking << QList<int>{0} << "r10 r20 r30 f20 f10"
                    << "0 10 20 30 20 10 0";
                *row("no number at the last point")
                    << 0 << 30 << 10 << afterStep << blocking << QList<int>{5} << "r0 r10 r20 r30 f20"
                    << "0 10 20 30 20 10 0";
                *row("no reading a number")
                    << 0 << 20 << 10 << afterStep << blocking << QList<int>{0, 1, 2, 3, 4} << ""
                    << "0 10 20 10 0";
            }
        }
    }
    void sweep() {
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, step);
        QFETCH(bool, afterStep);
        QFETCH(bool, blocking);
        QFETCH(QList<int>, noNumberAt);
        QFETCH(QString, points);
        QFETCH(QString, writes);
        TFakeTester tester;
        tester.Blocking = blocking;
        tester.NoNumberAt = QSet<int>(noNumberAt.begin(), noNumberAt.end());
        const TSweepSettings settings{start, end, step, 150, afterStep ? smAfterStep : smSettled};
        tester.Sweep(settings);
        QVERIFY(!tester.Run.Running());
        QCOMPARE(tester.PeriodMs, 150);
        QCOMPARE(tester.StepsEndedCount, 1);
        QCOMPARE(NumbersText(tester.Writes), writes);
        QCOMPARE(tester.Finished.size(), 1);
        const TSweepOutcome &outcome = tester.Finished.first();
        QCOMPARE(PointsText(outcome.Points), points);
        QVERIFY(outcome.Complete);
        QCOMPARE(outcome.Settings, settings);
        QCOMPARE(tester.Shown, outcome.Points);
        // Each point is the position at its own duty, on its own branch.
        for (const TTestRecordPoint &p : outcome.Points)
            QCOMPARE(p.Volts, p.Duty / 10 + (p.Branch == sbFalling ? 0.3 : 0));
    }

    // A step of 0 measures the start again at every step until the technician stops it.
    void stepZeroRepeatsStart() {
        TFakeTester tester;
        tester.Sweep({20, 50, 0, 100, smSettled}, 5);
        QVERIFY(tester.Run.Running());
        QCOMPARE(PointsText(tester.Run.Points()), QStringLiteral("r20 r20 r20 r20 r20"));
        tester.Run.Stop(ssUser);
        QVERIFY(!tester.Run.Running());
        QCOMPARE(tester.Finished.size(), 1);
        QVERIFY(!tester.Finished.first().Complete);
        QCOMPARE(tester.Writes.last(), 20);
    }

    // Stopped while the last sample is on its way: the technician's stop waits for it (the
    // face gives it up after LastSampleWaitMs); a lost link does not; a reading after the end
    // belongs to no sweep.
    void stopAndTheLastSample_data() {
        QTest::addColumn<int>("why");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("points");
        QTest::newRow("stopped, answer comes") << int(ssUser) << true << "r0 r10";
        QTest::newRow("stopped, answer given up") << int(ssUser) << false << "r0";
        QTest::newRow("link lost") << int(ssLinkLost) << true << "r0";
    }
    void stopAndTheLastSample() {
        QFETCH(int, why);
        QFETCH(bool, answered);
        QFETCH(QString, points);
        TFakeTester tester;
        tester.Blocking = false;
        tester.Run.Start({0, 50, 10, 100, smSettled});
        tester.Run.Tick(); // asks for 0, writes 10
        tester.Answer();
        tester.Run.Tick(); // asks for 10, writes 20
        tester.Run.Stop(TSweepStop(why));
        QVERIFY(!tester.Run.Running());
        QCOMPARE(tester.Writes.last(), 0); // back at the start at once
        const bool waits = why == ssUser;
        QCOMPARE(tester.Run.AwaitingLastSample(), waits);
        QCOMPARE(tester.AwaitMs, waits ? TSweepRun::LastSampleWaitMs : -1);
        QCOMPARE(tester.Finished.size(), waits ? 0 : 1);
        if (answered)
            tester.Answer();
        else
            tester.Run.GiveUpLastSample();
        QCOMPARE(tester.Finished.size(), 1);
        QCOMPARE(PointsText(tester.Finished.first().Points), points);
        QVERIFY(!tester.Finished.first().Complete);
        // Late readings change nothing.
        tester.Run.PositionReceived(4000);
        tester.Run.GiveUpLastSample();
        QCOMPARE(tester.Finished.size(), 1);
        QCOMPARE(tester.Shown.size(), tester.Finished.first().Points.size());
    }

    // A new sweep started while the last one waits for its last sample finishes that one
    // first, with what it has.
    void startWhileAwaitingLastSample() {
        TFakeTester tester;
        tester.Blocking = false;
        tester.Run.Start({0, 50, 10, 100, smSettled});
        tester.Run.Tick();
        tester.Run.Stop(ssUser);
        QVERIFY(tester.Run.AwaitingLastSample());
        tester.Run.Start({0, 20, 10, 100, smAfterStep});
        QCOMPARE(tester.Finished.size(), 1);
        QVERIFY(tester.Finished.first().Points.isEmpty());
        // The old request's answer now arrives: it is the new sweep's, asked for at its start.
        tester.Answer();
        QCOMPARE(PointsText(tester.Run.Points()), QStringLiteral("r0"));
    }

    // The window's fields may change during a sweep: the next step follows them.
    void followChangesTheNextStep() {
        TFakeTester tester;
        tester.Run.Start({0, 50, 10, 100, smSettled});
        tester.Run.Tick(); // 0 -> 10
        tester.Run.Follow(10, 0, 15, 10);
        tester.Run.Tick(); // 10 + 10 > 15: turns, 10 - 10 <= 0: the loop is closed
        QVERIFY(!tester.Run.Running());
        QCOMPARE(PointsText(tester.Finished.first().Points), QStringLiteral("r0 r10"));
        // The record keeps the settings the sweep started with.
        QCOMPARE(tester.Finished.first().Settings.EndDuty, 50);
    }

    // The record: limits of its pump and head type, kept or not.
    void record_data() {
        QTest::addColumn<QString>("points");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<double>("maxVolts"); // < 0: no limit
        QTest::addColumn<bool>("made");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<bool>("kept");
        QTest::newRow("closed loop within the limit")
            << "0..30" << true << 0.5 << true << int(tvPass) << true;
        QTest::newRow("closed loop beyond the limit")
            << "0..30" << true << 0.2 << true << int(tvFail) << true;
        QTest::newRow("no limits") << "0..30" << true << -1.0 << true << int(tvNone) << true;
        QTest::newRow("stopped on the way up") << "up" << false << 0.5 << true << int(tvFail) << false;
        QTest::newRow("stopped after a falling point")
            << "0..30" << false << 0.5 << true << int(tvPass) << true;
        QTest::newRow("no points") << "" << true << 0.5 << false << 0 << false;
    }
    void record() {
        QFETCH(QString, points);
        QFETCH(bool, complete);
        QFETCH(double, maxVolts);
        QFETCH(bool, made);
        QFETCH(int, verdict);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("tamrel.ini")), QSettings::IniFormat);
        if (maxVolts >= 0)
            SaveTestLimits(settings, QStringLiteral("PE"), QStringLiteral("Resistive"),
                           {maxVolts, std::nullopt, std::nullopt});
        TSweepOutcome outcome;
        outcome.Settings = {0, 30, 10, 100, smSettled};
        outcome.StartedAt = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);
        outcome.Complete = complete;
        if (points == QLatin1String("up"))
            outcome.Points = {{0, 0, sbRising}, {10, 1, sbRising}};
        else if (!points.isEmpty())
            outcome.Points = {{0, 0, sbRising},  {10, 1, sbRising},    {20, 2, sbRising},
                              {30, 3, sbRising}, {20, 2.3, sbFalling}, {10, 1.3, sbFalling}};
        const TSweepSubject subject{QStringLiteral("H-1"), QStringLiteral("/dev/ttyX"), QStringLiteral("fw"),
                                    QStringLiteral("PE"), QStringLiteral("Resistive")};
        const std::optional<TTestRecord> record = MakeSweepRecord(subject, outcome, settings);
        QCOMPARE(record.has_value(), made);
        if (!record) return;
        QVERIFY(!record->Id.isEmpty());
        QCOMPARE(record->TakenAt, outcome.StartedAt);
        QCOMPARE(record->HeadSerial, subject.HeadSerial);
        QCOMPARE(record->TesterId, subject.TesterId);
        QCOMPARE(record->Firmware, subject.Firmware);
        QCOMPARE(record->Sweep, outcome.Settings);
        QCOMPARE(record->Points, outcome.Points);
        QCOMPARE(int(record->Verdict), verdict);
        QCOMPARE(SweepRecordWorthKeeping(*record, complete), kept);
    }
};

TAMREL_TEST_MAIN_CORE(TestSweepRun)
#include "tst_SweepRun.moc"

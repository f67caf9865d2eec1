// The two faces of the sweep against the simulated tester over a pseudo-terminal, with the
// same settings: the window, connected through its port search, and tamrel-cli, started as
// the technician starts it. Both must drive the tester through the same duties, take their
// points at the same duties on the same branches, and come to the same figures within what
// one step's timing may change on the simulated head.
#include "CompFloatEdit.h"
#include "TestMain.h"
#include "uChildProcess.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uPrivateRuntime.h"
#include "uSimFrameValue.h"
#include "uSimPty.h"
#include "uTamrelRegisterMap.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <memory>

namespace {

struct TFaceRun {
    QVector<qint64> Duties; // the duties written to the tester, repeats of one duty taken once
    QVector<TTestRecordPoint> Points;
    THysteresisFigures Figures;
};

QVector<qint64> DutiesWritten(const TSimPty &sim) {
    QVector<qint64> duties;
    for (const TSimFrameRecord &f : sim.FrameLog())
        if (f.Received && (f.Command == 7 || f.Command == 18) &&
            f.Register == TamrelReg::regManualControlPWM1) {
            const qint64 duty = WrittenValue(f);
            if (duties.isEmpty() || duties.last() != duty) duties << duty;
        }
    return duties;
}

QString Text(const QVector<TTestRecordPoint> &points) {
    QStringList parts;
    for (const TTestRecordPoint &p : points)
        parts << QStringLiteral("%1%2:%3")
                     .arg(p.Branch == sbRising ? 'r' : 'f')
                     .arg(p.Duty)
                     .arg(p.Volts, 0, 'f', 3);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestSweepFaces : public QObject {
    Q_OBJECT

    // A runtime folder of the test's own: its simulator is the only port the window finds.
    TPrivateRuntime FRuntime;
    // The command's settings and data folders (the window's are the test mode's own).
    QTemporaryDir FHome;

    static std::unique_ptr<TSimPty> StartSim() {
        auto sim = std::make_unique<TSimPty>();
        QString error;
        if (!sim->Start(TSimOptions(), &error)) qWarning("simulator: %s", qPrintable(error));
        return sim;
    }

    void RunWindow(const TSweepSettings &s, TFaceRun &run) {
        std::unique_ptr<TSimPty> sim = StartSim();
        QVERIFY(sim->Running());
        QTemporaryDir records;
        TFormTamrel form;
        form.RecordFolder = records.path();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.DeviceLink->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(form.DeviceLink->IsConnected(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(sim->Device()->RegisterInt(TamrelReg::regStartStop), qint64(1), 5000);
        QVERIFY(!form.CheckBoxSampleAfterStep->isChecked()); // settled, as the command samples
        form.FloatEditDutyStart->SetValueInt(s.StartDuty);
        form.FloatEditDutyEnd->SetValueInt(s.EndDuty);
        form.FloatEditStep->SetValueInt(s.StepDuty);
        form.FloatEditPeriod->SetValueInt(s.PeriodMs);
        form.ButtonStartStop->click();
        QCOMPARE(form.DiagramMode, dmForward);
        QTRY_VERIFY_WITH_TIMEOUT(form.DiagramMode == dmNone && form.LastRecord(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(sim->Device()->RegisterInt(TamrelReg::regManualControlPWM1),
                                  qint64(s.StartDuty), 5000);
        run.Duties = DutiesWritten(*sim);
        run.Points = form.LastRecord()->Points;
        run.Figures = form.LastRecord()->Figures;
    }

    void RunCli(const TSweepSettings &s, TFaceRun &run) {
        std::unique_ptr<TSimPty> sim = StartSim();
        QVERIFY(sim->Running());
        TChildProcess cli;
        QVERIFY(cli.Start(QStringLiteral(TAMREL_CLI_EXE),
                          {QStringLiteral("sweep"), QStringLiteral("--port"), sim->PortName(),
                           QStringLiteral("--start"), QString::number(s.StartDuty), QStringLiteral("--end"),
                           QString::number(s.EndDuty), QStringLiteral("--step"), QString::number(s.StepDuty),
                           QStringLiteral("--period"), QString::number(s.PeriodMs),
                           QStringLiteral("--serial"), QStringLiteral("FACES-1"), QStringLiteral("--json")}));
        QVERIFY(cli.WaitForFinished(120000));
        const QByteArray out = cli.ReadAll();
        QVERIFY2(cli.NormalExit() && cli.ExitCode() == 0, out.constData());
        const QJsonObject result = QJsonDocument::fromJson(out).object();
        QVERIFY2(!result.isEmpty(), out.constData());
        for (const QJsonValue &v : result.value(QStringLiteral("points")).toArray()) {
            const QJsonObject p = v.toObject();
            run.Points.append({p.value(QStringLiteral("duty_percent")).toDouble(),
                               p.value(QStringLiteral("volts")).toDouble(),
                               p.value(QStringLiteral("branch")).toString() == QLatin1String("falling")
                                   ? sbFalling
                                   : sbRising});
        }
        const QJsonObject f = result.value(QStringLiteral("figures")).toObject();
        run.Figures.ComparedPoints = f.value(QStringLiteral("compared_points")).toInt();
        run.Figures.SpanVolts = f.value(QStringLiteral("span_v")).toDouble();
        run.Figures.MaxVolts = f.value(QStringLiteral("max_hysteresis_v")).toDouble();
        run.Figures.MeanVolts = f.value(QStringLiteral("mean_hysteresis_v")).toDouble();
        run.Figures.MaxAtDuty = f.value(QStringLiteral("max_at_duty_percent")).toDouble();
        run.Duties = DutiesWritten(*sim);
    }

private slots:
    void initTestCase() {
        QVERIFY(FRuntime.InUse());
        QVERIFY(FHome.isValid());
        // The command is a child of this process and takes its folders from the environment.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(FHome.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(FHome.filePath(QStringLiteral("data"))));
    }

    void sameSweepBothFaces_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("branches");
        QTest::newRow("0 to 50 by 10") << 0 << 50 << 10 << "r0 r10 r20 r30 r40 r50 f40 f30 f20 f10";
        QTest::newRow("5 to 23 by 5") << 5 << 23 << 5 << "r5 r10 r15 r20 f15 f10";
    }
    void sameSweepBothFaces() {
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, step);
        QFETCH(QString, branches);
        // A period long enough for the head to settle and for each reading to arrive before the
        // next step, also on a loaded machine.
        const TSweepSettings settings{start, end, step, 300, smSettled};
        TFaceRun window, cli;
        RunWindow(settings, window);
        if (QTest::currentTestFailed()) return;
        RunCli(settings, cli);
        if (QTest::currentTestFailed()) return;
        qInfo("window: %s", qPrintable(Text(window.Points)));
        qInfo("cli:    %s", qPrintable(Text(cli.Points)));
        qInfo(
            "figures, window / cli: max %.3f / %.3f V at %g / %g %%, mean %.3f / %.3f V, span %.3f / %.3f V",
            window.Figures.MaxVolts, cli.Figures.MaxVolts, window.Figures.MaxAtDuty, cli.Figures.MaxAtDuty,
            window.Figures.MeanVolts, cli.Figures.MeanVolts, window.Figures.SpanVolts, cli.Figures.SpanVolts);

        // The same duties on the line: up from the start, down to one step above it, back at it.
        QCOMPARE(window.Duties, cli.Duties);
        QCOMPARE(window.Duties.first(), qint64(start));
        QCOMPARE(window.Duties.last(), qint64(start));
        // The same points, at the same duties on the same branches.
        auto branchesOf = [](const QVector<TTestRecordPoint> &points) {
            QStringList parts;
            for (const TTestRecordPoint &p : points)
                parts << QStringLiteral("%1%2").arg(p.Branch == sbRising ? 'r' : 'f').arg(p.Duty);
            return parts.join(QLatin1Char(' '));
        };
        QCOMPARE(branchesOf(window.Points), branches);
        QCOMPARE(branchesOf(cli.Points), branches);
        // Settled readings of the same simulated head: each point, from the second on (the
        // first shows whatever the head did before), and the figures agree within what one
        // step's timing changes.
        constexpr double NoiseVolts = 0.15;
        for (int i = 1; i < window.Points.size(); ++i)
            QVERIFY2(qAbs(window.Points[i].Volts - cli.Points[i].Volts) <= NoiseVolts,
                     qPrintable(QStringLiteral("point %1: %2 V and %3 V")
                                    .arg(i)
                                    .arg(window.Points[i].Volts)
                                    .arg(cli.Points[i].Volts)));
        QCOMPARE(window.Figures.ComparedPoints, cli.Figures.ComparedPoints);
        QVERIFY(window.Figures.Available());
        QVERIFY(qAbs(window.Figures.MaxVolts - cli.Figures.MaxVolts) <= NoiseVolts);
        QVERIFY(qAbs(window.Figures.MeanVolts - cli.Figures.MeanVolts) <= NoiseVolts);
        QVERIFY(qAbs(window.Figures.SpanVolts - cli.Figures.SpanVolts) <= NoiseVolts);
        QVERIFY(qAbs(window.Figures.MaxAtDuty - cli.Figures.MaxAtDuty) <= step);
    }
};

TAMREL_TEST_MAIN(TestSweepFaces)
#include "tst_SweepFaces.moc"

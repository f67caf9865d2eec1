// tamrel-cli as a user runs it: the built program, started as a process, talks to the
// simulated tester over a pseudo-terminal. Each test checks what the user sees (the output,
// the exit code, the message on stderr) and what the tester and the program's files end up
// holding (registers, the firmware image, the stored test record).
#include "TestMain.h"
#include "uFirmwareUpdate.h"
#include "uKvFrameCodec.h"
#include "uPostgresTestServer.h"
#include "uPrivateRuntime.h"
#include "uSimActuator.h"
#include "uSimPty.h"
#include "uTamrelRegisterMap.h"
#include "uTestRecordStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

namespace {

struct TCliRun {
    int ExitCode = -1;
    QByteArray Out;
    QByteArray Err;
};

QByteArray U16(quint16 value) {
    return QByteArray(1, char(value & 0xFF)) + char(value >> 8);
}

QByteArray S32(qint32 value) {
    QByteArray raw(4, 0);
    for (int i = 0; i < 4; ++i)
        raw[i] = char(quint32(value) >> (8 * i));
    return raw;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

    // A runtime folder of this test's own: its simulators are the only ports in its port
    // folder, and simulators of tests running at the same time never appear in it.
    TPrivateRuntime FRuntime;
    // The user's data and configuration folders of the program as the child sees them.
    QTemporaryDir FHome;
    std::unique_ptr<TSimPty> FSim;

    QString DataFolder() const {
        return FDataHome.isEmpty() ? FHome.filePath(QStringLiteral("data")) : FDataHome;
    }
    // Another data folder for the child, when a test needs one it cannot use.
    QString FDataHome;
    QString ConfigFolder() const { return FHome.filePath(QStringLiteral("config")); }
    QString SettingsFile() const { return ConfigFolder() + QStringLiteral("/tamrel/tamrel.ini"); }
    QString RecordFolder() const { return DataFolder() + QStringLiteral("/tamrel"); }

    void StartSim(const TSimOptions &options = {}) {
        FSim = std::make_unique<TSimPty>();
        QString error;
        QVERIFY2(FSim->Start(options, &error), qPrintable(error));
    }
    QString Port() const { return FSim->PortName(); }

    void StartCli(QProcess &process, const QStringList &arguments) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), DataFolder());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), ConfigFolder());
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TAMREL_CLI_EXE), arguments);
    }

    TCliRun Run(const QStringList &arguments, int timeoutMs = 60000) const {
        QProcess process;
        StartCli(process, arguments);
        TCliRun run;
        if (!process.waitForStarted(10000) || !process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            run.Err = "tamrel-cli did not finish: " + process.readAllStandardError();
            return run;
        }
        run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        run.Out = process.readAllStandardOutput();
        run.Err = process.readAllStandardError();
        return run;
    }

    int ReceivedFrames(int command) const {
        int count = 0;
        for (const TSimFrameRecord &frame : FSim->FrameLog())
            if (frame.Received && frame.Command == command) ++count;
        return count;
    }

    // A firmware image of size bytes under fileName in the test's folder.
    QString WriteImage(const QString &fileName, int size, QByteArray *image = nullptr) const {
        QByteArray bytes(size, 0);
        for (int i = 0; i < size; ++i)
            bytes[i] = char((i * 7 + i / 256) & 0xFF);
        const QString path = FHome.filePath(fileName);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size) return {};
        if (image) *image = bytes;
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY(FRuntime.InUse());
        QVERIFY(FHome.isValid());
    }

    void cleanup() {
        FDataHome.clear();
        if (FSim) FSim->Stop();
        FSim.reset();
        QDir(DataFolder()).removeRecursively();
        QDir(ConfigFolder()).removeRecursively();
    }

    void helpOfEveryCommand_data() {
        QTest::addColumn<QString>("command");
        for (const char *command : {"ports", "find", "read", "write", "watch", "sweep", "flash"})
            QTest::newRow(command) << QString::fromLatin1(command);
    }
    void helpOfEveryCommand() {
        QFETCH(QString, command);
        const TCliRun run = Run({command, QStringLiteral("--help")});
        QCOMPARE(run.ExitCode, 0);
        QVERIFY2(run.Out.startsWith("Usage: tamrel-cli " + command.toLatin1() + " [options]"),
                 run.Out.constData());
        QVERIFY(run.Out.contains("Exit codes:"));
        QVERIFY(run.Out.contains("--json"));
    }

    void portsListsTheSimulatedTester() {
        StartSim();
        const TCliRun plain = Run({QStringLiteral("ports")});
        QCOMPARE(plain.ExitCode, 0);
        // A virtual port's name is one the USB selection takes, as --only-usb searches it.
        const QString line = QStringLiteral("%1\t\\Device\\VirtualSerial0\tusb").arg(Port());
        QVERIFY2(QString::fromUtf8(plain.Out).split(QLatin1Char('\n')).contains(line), plain.Out.constData());

        const TCliRun json = Run({QStringLiteral("ports"), QStringLiteral("--json")});
        QCOMPARE(json.ExitCode, 0);
        const QJsonArray ports = QJsonDocument::fromJson(json.Out).object().value("ports").toArray();
        bool found = false;
        for (const QJsonValue &entry : ports) {
            const QJsonObject o = entry.toObject();
            if (o.value("port").toString() != Port()) continue;
            found = true;
            QCOMPARE(o.value("device").toString(), QStringLiteral("\\Device\\VirtualSerial0"));
            QCOMPARE(o.value("usb").toBool(false), true);
        }
        QVERIFY2(found, json.Out.constData());
    }

    void findSearchesThePorts() {
        TSimOptions options;
        options.Ident = QStringLiteral("tavik bench 7");
        StartSim(options);
        const TCliRun run = Run({QStringLiteral("find")});
        QCOMPARE(run.ExitCode, 0);
        QCOMPARE(run.Out, (Port() + QStringLiteral("\ttavik bench 7\n")).toUtf8());
        const TCliRun json = Run({QStringLiteral("find"), QStringLiteral("--json")});
        QCOMPARE(json.ExitCode, 0);
        QCOMPARE(QJsonDocument::fromJson(json.Out).object().value("port").toString(), Port());
    }

    // A search that finds no tester says what it saw on each port: here another device.
    void findExplainsWhatItSaw() {
        TSimOptions options;
        options.Ident = QStringLiteral("Other 1.0");
        StartSim(options);
        const TCliRun run = Run({QStringLiteral("find")});
        QCOMPARE(run.ExitCode, 2);
        QVERIFY2(run.Err.contains(("\n  Other 1.0 on " + Port() + " is not a Tamrel tester\n").toUtf8()),
                 run.Err.constData());
    }

    void readByNumberAndName_data() {
        QTest::addColumn<QStringList>("registers");
        QTest::addColumn<QString>("expected");
        QTest::newRow("number") << QStringList{"6"} << "6 vin1 = 2500 mV\n";
        QTest::newRow("short name, any case") << QStringList{"VIN1"} << "6 vin1 = 2500 mV\n";
        QTest::newRow("long name") << QStringList{"SetupVin1"} << "6 vin1 = 2500 mV\n";
        QTest::newRow("measured, signed") << QStringList{"pos1"} << "2 pos1 = 1234 mV\n";
        QTest::newRow("text") << QStringList{"0"} << "0 ident = Tavik TAMREL sim 1.0\n";
        QTest::newRow("several, in order")
            << QStringList{"pump", "2", "head"} << "10 pump = 2\n2 pos1 = 1234 mV\n3 head = 0\n";
    }
    void readByNumberAndName() {
        QFETCH(QStringList, registers);
        QFETCH(QString, expected);
        StartSim();
        FSim->SetRegister(TamrelReg::regPosition1, S32(1234));
        FSim->SetRegister(TamrelReg::regPumpType, U16(2));
        const TCliRun run = Run(QStringList{"read", "--port", Port()} + registers);
        QVERIFY2(run.ExitCode == 0, run.Err.constData());
        QCOMPARE(QString::fromUtf8(run.Out), expected);
    }

    void readAsJson() {
        StartSim();
        FSim->SetRegister(TamrelReg::regPosition1, S32(-5));
        const TCliRun run = Run({"read", "--port", Port(), "--json", "pos1", "ident"});
        QCOMPARE(run.ExitCode, 0);
        const QJsonArray regs = QJsonDocument::fromJson(run.Out).object().value("registers").toArray();
        QCOMPARE(regs.size(), 2);
        QCOMPARE(regs[0].toObject().value("register").toInt(), 2);
        QCOMPARE(regs[0].toObject().value("name").toString(), QStringLiteral("pos1"));
        QCOMPARE(regs[0].toObject().value("value").toInt(), -5);
        QCOMPARE(regs[1].toObject().value("value").toString(), QStringLiteral("Tavik TAMREL sim 1.0"));
    }

    void writeThenReadBack() {
        StartSim();
        const TCliRun write = Run({"write", "--port", Port(), "PWM1", "40"});
        QVERIFY2(write.ExitCode == 0, write.Err.constData());
        QCOMPARE(write.Out, QByteArray("5 pwm1 = 40 %\n"));
        QCOMPARE(FSim->Register(TamrelReg::regManualControlPWM1), U16(40));
        const TCliRun read = Run({"read", "--port", Port(), "5"});
        QCOMPARE(read.ExitCode, 0);
        QCOMPARE(read.Out, QByteArray("5 pwm1 = 40 %\n"));
    }

    void writeRefused_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("sent");
        QTest::newRow("tester refuses the value") << QStringList{"pwm1", "150"}
                                                  << "tamrel-cli: refused: the tester refused the write to "
                                                     "register 5 (pwm1): value out of range (code 17)"
                                                  << true;
        QTest::newRow("read-only register")
            << QStringList{"pos1", "100"}
            << "tamrel-cli: refused: register 2 (pos1) is read-only; nothing was sent" << false;
        QTest::newRow("beyond the register's type")
            << QStringList{"pwm1", "70000"}
            << "tamrel-cli: bad arguments: 70000 is out of range for register 5 (pwm1): 0 to 65535" << false;
        QTest::newRow("negative into unsigned")
            << QStringList{"vin1", "--", "-1"}
            << "tamrel-cli: bad arguments: -1 is out of range for register 6 (vin1): 0 to 65535" << false;
        QTest::newRow("no number")
            << QStringList{"vin1", "2.5"}
            << "tamrel-cli: bad arguments: register 6 (vin1) takes a whole number, not \"2.5\"" << false;
    }
    void writeRefused() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QFETCH(bool, sent);
        StartSim();
        const QByteArray before = FSim->Register(TamrelReg::regManualControlPWM1);
        const TCliRun run = Run(QStringList{"write", "--port", Port()} + arguments);
        QCOMPARE(run.ExitCode, 2);
        QVERIFY2(run.Err.startsWith(message.toUtf8() + '\n'), run.Err.constData());
        QVERIFY(run.Out.isEmpty());
        QCOMPARE(FSim->Register(TamrelReg::regManualControlPWM1), before);
        QCOMPARE(ReceivedFrames(KvCodec::CmdWriteReg) > 0, sent);
    }

    void watchPrintsCsvLines() {
        StartSim();
        FSim->SetRegister(TamrelReg::regPosition1, S32(3210));
        const TCliRun run =
            Run({"watch", "--port", Port(), "--count", "3", "--period", "50", "vin1", "pos1"});
        QVERIFY2(run.ExitCode == 0, run.Err.constData());
        const QStringList lines = QString::fromUtf8(run.Out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QStringLiteral("time,vin1,pos1"));
        // Local time, ISO 8601 with milliseconds and the offset from UTC ("Z" where that is 0).
        const QRegularExpression row(QStringLiteral(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d),2500,3210$"));
        for (int i = 1; i < 4; ++i)
            QVERIFY2(row.match(lines[i]).hasMatch(), qPrintable(lines[i]));
    }

    void watchEndsCleanlyOnCtrlC() {
        StartSim();
        QProcess process;
        StartCli(process, {"watch", "--port", Port(), "--period", "50", "pwm1"});
        QVERIFY(process.waitForStarted(10000));
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += process.readAllStandardOutput(), out.count('\n') >= 3), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(FSim->HostPresent(), 10000);
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!FSim->HostPresent(), 10000);
    }

    void sweepJudgesAndStores_data() {
        QTest::addColumn<bool>("withLimits");
        QTest::addColumn<double>("maxHysteresisVolts");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("verdictLine");
        QTest::addColumn<int>("verdict");
        QTest::newRow("no limits: no verdict")
            << false << 0.0 << 0 << "Verdict: none (no limits set for VE / Inductive)" << int(tvNone);
        QTest::newRow("within the limit") << true << 5.0 << 0 << "Verdict: PASS" << int(tvPass);
        QTest::newRow("beyond the limit") << true << 0.05 << 1 << "Verdict: FAIL" << int(tvFail);
    }
    void sweepJudgesAndStores() {
        QFETCH(bool, withLimits);
        QFETCH(double, maxHysteresisVolts);
        QFETCH(int, exitCode);
        QFETCH(QString, verdictLine);
        QFETCH(int, verdict);
        StartSim();
        if (withLimits) {
            QSettings settings(SettingsFile(), QSettings::IniFormat);
            TTestLimits limits;
            limits.MaxHysteresisVolts = maxHysteresisVolts;
            SaveTestLimits(settings, QStringLiteral("VE"), QStringLiteral("Inductive"), limits);
            settings.sync();
            QCOMPARE(settings.status(), QSettings::NoError);
        }
        const QString csv = FHome.filePath(QStringLiteral("points.csv"));
        const TCliRun run = Run({"sweep", "--port", Port(), "--start", "0", "--end", "50", "--step", "10",
                                 "--period", "150", "--serial", "HX-17", "--out", csv});
        QVERIFY2(run.ExitCode == exitCode, run.Err.constData());
        const QStringList lines = QString::fromUtf8(run.Out).split(QLatin1Char('\n'));
        QVERIFY2(lines.contains(QStringLiteral("Points: 10 (6 rising, 4 falling)")), run.Out.constData());
        QVERIFY(lines.contains(verdictLine));
        // The simulated head's backlash puts the falling branch visibly apart from the rising one.
        const QRegularExpression maxLine(QStringLiteral("^Max hysteresis: (\\d+\\.\\d{3}) V at \\d+ %$"));
        double shown = -1;
        for (const QString &line : lines)
            if (const QRegularExpressionMatch m = maxLine.match(line); m.hasMatch())
                shown = m.captured(1).toDouble();
        QVERIFY2(shown > 0.1, run.Out.constData());

        // The record is where the program keeps its records, and says what was shown.
        QVERIFY2(QFile::exists(RecordFolder() + QLatin1Char('/') + QLatin1String(TTestRecordStore::FileName)),
                 "no record store in the program's data folder");
        TTestRecordStore store(RecordFolder(), TTestRecordStore::saReadOnly);
        TTestRecordFilter filter;
        filter.Serial = QStringLiteral("HX-17");
        filter.SerialExact = true;
        const QVector<TTestRecordSummary> summaries = store.ListRecords(filter);
        QCOMPARE(summaries.size(), 1);
        const std::optional<TTestRecord> record = store.LoadRecord(summaries[0].Id);
        QVERIFY(record);
        QCOMPARE(int(record->Verdict), verdict);
        QCOMPARE(record->PumpType, QStringLiteral("VE"));
        QCOMPARE(record->HeadType, QStringLiteral("Inductive"));
        QCOMPARE(record->Firmware, QStringLiteral("Tavik TAMREL sim 1.0"));
        QCOMPARE(record->TesterId, Port());
        QCOMPARE(record->Sweep, (TSweepSettings{0, 50, 10, 150, smSettled}));
        // The start is measured once, on the rising branch.
        QCOMPARE(record->Points.size(), 10);
        const double duties[] = {0, 10, 20, 30, 40, 50, 40, 30, 20, 10};
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(record->Points[i].Duty, duties[i]);
            QCOMPARE(record->Points[i].Branch, i < 6 ? sbRising : sbFalling);
        }
        // Settled samples: each point is the head's position after a period at that duty, which for
        // the simulated head is its backlash curve (from the second point on; the first follows
        // whatever the head did before).
        for (int i = 1; i < 10; ++i) {
            const TTestRecordPoint &p = record->Points[i];
            const double play = p.Branch == sbRising ? p.Duty - TSimActuatorChannel::HalfWidthPercent
                                                     : p.Duty + TSimActuatorChannel::HalfWidthPercent;
            QVERIFY2(qAbs(p.Volts - TSimActuatorChannel::CurveMv(play) / 1000.0) < 0.15,
                     qPrintable(QStringLiteral("point %1 at %2 %: %3 V").arg(i).arg(p.Duty).arg(p.Volts)));
        }
        QCOMPARE(QString::number(record->Figures.MaxVolts, 'f', 3).toDouble(), shown);
        QVERIFY(lines.contains(QStringLiteral("Record: %1 in %2").arg(record->Id, store.FilePath())));
        // The tester is left at the first duty.
        QCOMPARE(FSim->Register(TamrelReg::regManualControlPWM1), U16(0));

        QFile points(csv);
        QVERIFY(points.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = points.readAll().split('\n');
        QCOMPARE(rows.size(), 12); // header, 10 points, and the empty rest after the last line end
        QVERIFY(rows[0].startsWith("record_id,head_serial,"));
        QVERIFY(rows[6].contains(",rising,5,50.0,"));
        QVERIFY(rows[10].contains(",falling,9,10.0,"));
    }

    // With a record server in the settings, the sweep's record goes through the program's
    // store: sent to the server when it answers; kept in the local queue as waiting when the
    // server is stopped or hangs (SIGSTOP), and the command says so and still succeeds.
    void sweepStoresThroughTheServer_data() {
        QTest::addColumn<QString>("server");
        QTest::newRow("up") << "up";
        QTest::newRow("stopped") << "stopped";
        QTest::newRow("stalled") << "stalled";
    }
    void sweepStoresThroughTheServer() {
        QFETCH(QString, server);
        TPostgresServer postgres;
        QVERIFY2(postgres.Error.isEmpty(), qPrintable(postgres.Error));
        {
            // The tables made beforehand, as by the benches that use the server already.
            TTestRecordServerStore store(postgres.Settings());
        }
        {
            QSettings settings(SettingsFile(), QSettings::IniFormat);
            SaveRecordServerSettings(settings, postgres.Settings());
            settings.sync();
            QCOMPARE(settings.status(), QSettings::NoError);
        }
        if (server == QLatin1String("stopped")) QVERIFY(postgres.Stop());
        if (server == QLatin1String("stalled")) QVERIFY(postgres.Stall());
        StartSim();
        const TCliRun run = Run({"sweep", "--port", Port(), "--start", "0", "--end", "20", "--step", "10",
                                 "--period", "100", "--serial", "HX-SRV"});
        if (server == QLatin1String("stalled")) QVERIFY(postgres.Resume());
        QVERIFY2(run.ExitCode == 0, run.Err.constData());
        const QStringList lines = QString::fromUtf8(run.Out).split(QLatin1Char('\n'));
        const QRegularExpression recordLine(QStringLiteral("^Record: ([0-9a-f-]{36}) in (.*)$"));
        QString id, where;
        for (const QString &line : lines)
            if (const QRegularExpressionMatch m = recordLine.match(line); m.hasMatch()) {
                id = m.captured(1);
                where = m.captured(2);
            }
        QVERIFY2(!id.isEmpty(), run.Out.constData());
        TTestRecordStore local(RecordFolder());
        if (server == QLatin1String("up")) {
            QCOMPARE(where, QStringLiteral("the test-record server"));
            QCOMPARE(local.WaitingCount(), 0); // sent, so no longer in the queue
            TTestRecordServerStore store(postgres.Settings());
            const std::optional<TTestRecord> record = store.LoadRecord(id);
            QVERIFY(record);
            QCOMPARE(record->HeadSerial, QStringLiteral("HX-SRV"));
            QCOMPARE(record->Points.size(), 4); // rising 0, 10, 20; falling 10
            return;
        }
        // Away: durable in the local queue, waiting, and the command names both.
        QVERIFY2(where.startsWith(local.FilePath() + QStringLiteral(", waiting for the server (")),
                 qPrintable(where));
        QVERIFY2(where.contains(QStringLiteral("Cannot reach the test-record server")), qPrintable(where));
        QCOMPARE(local.WaitingIds(10), QStringList{id});
        const std::optional<TTestRecord> record = local.LoadRecord(id);
        QVERIFY(record);
        QCOMPARE(record->Points.size(), 4); // rising 0, 10, 20; falling 10
        // The next run with the server back sends it: no record is lost on the way.
        if (server == QLatin1String("stopped")) QVERIFY(postgres.Start());
        const TCliRun again = Run({"sweep", "--port", Port(), "--start", "0", "--end", "10", "--step", "10",
                                   "--period", "100", "--serial", "HX-SRV2"});
        QVERIFY2(again.ExitCode == 0, again.Err.constData());
        QVERIFY2(again.Out.contains(" in the test-record server"), again.Out.constData());
        QCOMPARE(local.WaitingCount(), 0);
        TTestRecordServerStore store(postgres.Settings());
        QVERIFY(store.LoadRecord(id));
    }

    void sweepStoppedByCtrlC() {
        StartSim();
        QProcess process;
        StartCli(process, {"sweep", "--port", Port(), "--start", "10", "--end", "90", "--step", "10",
                           "--period", "200", "--serial", "HX-18"});
        QVERIFY(process.waitForStarted(10000));
        // Under way: past the first duty.
        QTRY_VERIFY_WITH_TIMEOUT(FSim->Register(TamrelReg::regManualControlPWM1) == U16(30), 20000);
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(process.readAllStandardError(),
                 QByteArray("tamrel-cli: interrupted: the sweep was stopped; no record was stored\n"));
        // The tester is put back at the first duty and let go; nothing is stored.
        QCOMPARE(FSim->Register(TamrelReg::regManualControlPWM1), U16(10));
        QTRY_VERIFY_WITH_TIMEOUT(!FSim->HostPresent(), 10000);
        QVERIFY(
            !QFile::exists(RecordFolder() + QLatin1Char('/') + QLatin1String(TTestRecordStore::FileName)));
    }

    // Every way a sweep ends leaves the tester as the sweep found it: channel 1's duty at the
    // first duty, manual control off unless it was on before, and the tester stopped, as the
    // sweep started it. What was measured is shown and written out even when the record
    // cannot be stored.
    void sweepLeavesTheTesterSafe_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("manualBefore");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error"); // the start of stderr
        QTest::newRow("completed") << "completed" << false << 0 << "";
        QTest::newRow("completed, manual control on before") << "completed" << true << 0 << "";
        QTest::newRow("Ctrl+C") << "SIGINT" << false << 2 << "tamrel-cli: interrupted: the sweep was stopped";
        QTest::newRow("SIGTERM") << "SIGTERM" << false << 2
                                 << "tamrel-cli: interrupted: the sweep was stopped";
        QTest::newRow("terminal closed")
            << "SIGHUP" << false << 2 << "tamrel-cli: interrupted: the sweep was stopped";
        QTest::newRow("SIGHUP, manual control on before")
            << "SIGHUP" << true << 2 << "tamrel-cli: interrupted: the sweep was stopped";
        QTest::newRow("tester goes silent")
            << "silent" << false << 2 << "tamrel-cli: timeout: no answer from";
        QTest::newRow("record cannot be stored")
            << "no store" << false << 2 << "tamrel-cli: error: the record could not be stored";
    }
    void sweepLeavesTheTesterSafe() {
        QFETCH(QString, way);
        QFETCH(bool, manualBefore);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        StartSim();
        if (manualBefore) FSim->SetRegister(TamrelReg::regManualControl, QByteArray(1, 1));
        if (way == QLatin1String("no store")) {
            // A data folder that cannot be made: a file stands where it would be.
            FDataHome = FHome.filePath(QStringLiteral("data-is-a-file"));
            QFile blocker(FDataHome);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        const QString csv = FHome.filePath(QStringLiteral("safe.csv"));
        QFile::remove(csv);
        QProcess process;
        StartCli(process, {"sweep", "--port", Port(), "--start", "20", "--end", "60", "--step", "10",
                           "--period", "100", "--timeout", "300", "--serial", "HX-19", "--out", csv});
        QVERIFY(process.waitForStarted(10000));
        const int signal = way == QLatin1String("SIGINT")    ? SIGINT
                           : way == QLatin1String("SIGTERM") ? SIGTERM
                           : way == QLatin1String("SIGHUP")  ? SIGHUP
                                                             : 0;
        if (signal || way == QLatin1String("silent")) {
            // Under way: past the first duty.
            QTRY_VERIFY_WITH_TIMEOUT(FSim->Register(TamrelReg::regManualControlPWM1) == U16(40), 20000);
            if (signal)
                ::kill(pid_t(process.processId()), signal);
            else
                FSim->Device()->SetSilent(true); // it still takes what is written
        }
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        const QByteArray out = process.readAllStandardOutput();
        const QByteArray err = process.readAllStandardError();
        QVERIFY2(process.exitCode() == exitCode, err.constData());
        QVERIFY2(err.startsWith(error.toUtf8()), err.constData());
        QCOMPARE(FSim->Register(TamrelReg::regManualControlPWM1), U16(20));
        QCOMPARE(FSim->Register(TamrelReg::regManualControl), QByteArray(1, manualBefore ? 1 : 0));
        QCOMPARE(FSim->Register(TamrelReg::regManualInVolt), QByteArray(1, 0));
        QCOMPARE(FSim->Register(TamrelReg::regStartStop), QByteArray(1, 0));
        const bool measured = way == QLatin1String("completed") || way == QLatin1String("no store");
        QCOMPARE(out.startsWith("Points: "), measured);
        QCOMPARE(QFile::exists(csv), measured);
        QCOMPARE(out.contains("\nRecord: "), way == QLatin1String("completed"));
    }

    // Lost answers are asked for again: the sweep on a line that loses every fifth answer
    // completes.
    void sweepOverALossyLine() {
        TSimOptions options;
        options.DropEveryN = 5;
        StartSim(options);
        const TCliRun run = Run({"sweep", "--port", Port(), "--start", "0", "--end", "40", "--step", "10",
                                 "--period", "50", "--timeout", "300", "--serial", "HX-20"});
        QVERIFY2(run.ExitCode == 0, run.Err.constData());
        QVERIFY2(run.Out.startsWith("Points: "), run.Out.constData());
        QCOMPARE(FSim->Register(TamrelReg::regManualControlPWM1), U16(0));
        QCOMPARE(FSim->Register(TamrelReg::regManualControl), QByteArray(1, 0));
    }

    // A position reading that is no number gives its step no point: it is neither a 0 V point
    // nor taken for another duty, and the sweep goes on.
    void sweepSkipsReadingsThatAreNoNumber() {
        TSimOptions options;
        options.TextReadsOf = TamrelReg::regPosition1;
        options.TextReadsEveryN = 3; // the readings at 20 and 50 rising and 20 falling
        StartSim(options);
        const TCliRun run = Run({"sweep", "--port", Port(), "--start", "0", "--end", "50", "--step", "10",
                                 "--period", "100", "--serial", "HX-21", "--json"});
        QVERIFY2(run.ExitCode == 0, run.Err.constData());
        const QJsonObject result = QJsonDocument::fromJson(run.Out).object();
        QStringList points;
        for (const QJsonValue &v : result.value(QStringLiteral("points")).toArray()) {
            const QJsonObject p = v.toObject();
            points << QStringLiteral("%1%2")
                          .arg(p.value(QStringLiteral("branch")).toString().at(0))
                          .arg(p.value(QStringLiteral("duty_percent")).toDouble());
            // The simulated head never reads 0 V above its lowest duties.
            QVERIFY2(p.value(QStringLiteral("duty_percent")).toDouble() < 20 ||
                         p.value(QStringLiteral("volts")).toDouble() > 0.3,
                     run.Out.constData());
        }
        QCOMPARE(points.join(QLatin1Char(' ')), QStringLiteral("r0 r10 r30 r40 f40 f30 f10"));
        QCOMPARE(FSim->Register(TamrelReg::regManualControlPWM1), U16(0));
    }

    void flashWritesTheImage_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("identification in the name, other case")
            << "Main 2.1;DeviceIdentStr=tamrel-bl.firmware" << QStringList{};
        QTest::newRow("no metadata, forced") << "plain.bin" << QStringList{"--force-ident"};
    }
    void flashWritesTheImage() {
        QFETCH(QString, fileName);
        QFETCH(QStringList, options);
        const QString imageOut = FHome.filePath(QStringLiteral("received.bin"));
        QFile::remove(imageOut);
        TSimOptions sim;
        sim.PageSize = 128;
        sim.ImageOutPath = imageOut;
        StartSim(sim);
        QByteArray image;
        const QString path = WriteImage(fileName, 5000, &image); // the last page is short
        QVERIFY(!path.isEmpty());
        const TCliRun run = Run(QStringList{"flash", "--port", Port(), path} + options);
        QVERIFY2(run.ExitCode == 0, run.Err.constData());
        // Not a terminal: plain lines, the last of them at the image's end (with the speed when the
        // transfer took long enough to measure it).
        QVERIFY2(QRegularExpression(QStringLiteral("\nflash: 5000/5000 bytes \\(100%\\)(, [^\n]*)?\n"))
                     .match(QString::fromUtf8(run.Out))
                     .hasMatch(),
                 run.Out.constData());
        QVERIFY(!run.Out.contains('\r'));
        QVERIFY(run.Out.endsWith("Firmware written successfully\n"));
        QFile received(imageOut);
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), image);
        QCOMPARE(ReceivedFrames(KvCodec::CmdFirmwarePage), 40);
    }

    void flashRefused_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("failPage");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("pagesSent");
        // The simulated tester: its register 0, its boot loader's page size, and after how many
        // pages it goes silent (0 = never).
        QTest::addColumn<QString>("ident");
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<int>("silentAfter");
        QTest::newRow("another device's firmware") << "Main;DeviceIdentStr=OTHER-BL.firmware" << 1000 << -1
                                                   << "tamrel-cli: refused: firmware is not suitable for "
                                                      "this device (TAMREL-BL <> OTHER-BL); nothing of "
                                                      "the image was sent"
                                                   << 0 << "" << 128 << 0;
        QTest::newRow("as large as the flash") << "Main;DeviceIdentStr=TAMREL-BL.firmware" << 64 * 1024 << -1
                                               << "tamrel-cli: refused: the image (65536 bytes) does not fit "
                                                  "the flash (64 KiB); nothing of the image "
                                                  "was sent"
                                               << 0 << "" << 128 << 0;
        QTest::newRow("no metadata, not forced")
            << "plain.bin" << 1000 << -1 << "tamrel-cli: bad arguments: the name of " << 0 << "" << 128 << 0;
        QTest::newRow("page refused") << "Main;DeviceIdentStr=TAMREL-BL.firmware" << 1000 << 3
                                      << "tamrel-cli: refused: the boot loader refused page 3 (bytes from "
                                         "384) with error 5; the update is "
                                         "incomplete"
                                      << 4 << "" << 128 << 0;
        // A port that answers as another device gets no start request and no page.
        QTest::newRow("another device on the port")
            << "Main;DeviceIdentStr=TAMREL-BL.firmware" << 1000 << -1
            << "tamrel-cli: no tester found: %1 answers \"Other 1.0\", which is no Tamrel tester; nothing of "
               "the image was sent"
            << 0 << "Other 1.0" << 128 << 0;
        QTest::newRow("page size 0") << "Main;DeviceIdentStr=TAMREL-BL.firmware" << 1000 << -1
                                     << "tamrel-cli: refused: the boot loader reports a page size of 0; "
                                        "nothing of the image was sent"
                                     << 0 << "" << 0 << 0;
        QTest::newRow("tester silent mid-transfer")
            << "Main;DeviceIdentStr=TAMREL-BL.firmware" << 5000 << -1
            << "tamrel-cli: timeout: the tester stopped answering at page 5 (after byte 640 of 5000); run "
               "flash again to write the image anew"
            << 5 + 1 + TFirmwareUpdate::PageRepeats << "" << 128 << 5;
    }
    void flashRefused() {
        QFETCH(QString, fileName);
        QFETCH(int, size);
        QFETCH(int, failPage);
        QFETCH(QString, message);
        QFETCH(int, pagesSent);
        QFETCH(QString, ident);
        QFETCH(int, pageSize);
        QFETCH(int, silentAfter);
        TSimOptions sim;
        sim.PageSize = quint16(pageSize);
        sim.FailPageIndex = failPage;
        sim.SilentAfterPages = silentAfter;
        if (!ident.isEmpty()) sim.Ident = ident;
        StartSim(sim);
        const QString path = WriteImage(fileName, size);
        QVERIFY(!path.isEmpty());
        const TCliRun run = Run({"flash", "--port", Port(), "--timeout", "300", path});
        QCOMPARE(run.ExitCode, 2);
        if (message.contains(QLatin1String("%1"))) message = message.arg(Port());
        QVERIFY2(run.Err.startsWith(message.toUtf8()), run.Err.constData());
        QCOMPARE(ReceivedFrames(KvCodec::CmdFirmwarePage), pagesSent);
        if (!ident.isEmpty()) QCOMPARE(ReceivedFrames(KvCodec::CmdLoaderInfo), 0);
        QVERIFY(!run.Out.contains("successfully"));
    }

    void badArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList{} << "no command given";
        QTest::newRow("unknown command") << QStringList{"erase"} << "unknown command \"erase\"";
        QTest::newRow("unknown option") << QStringList{"read", "--bogus", "1"} << "Unknown option 'bogus'.";
        QTest::newRow("read without a register") << QStringList{"read"} << "read needs at least one register";
        QTest::newRow("no such register") << QStringList{"read", "17"} << "no register 17";
        QTest::newRow("unknown name") << QStringList{"read", "vin3"} << "unknown register \"vin3\"";
        QTest::newRow("write without a value")
            << QStringList{"write", "pwm1"} << "write needs a register and a value";
        QTest::newRow("watch period no number")
            << QStringList{"watch", "--period", "fast"} << "--period takes a whole number from 10 to 3600000";
        QTest::newRow("sweep without end")
            << QStringList{"sweep", "--start", "0", "--step", "1", "--period", "100"} << "--end is required";
        QTest::newRow("sweep end below start")
            << QStringList{"sweep", "--start", "50", "--end", "10", "--step", "1", "--period", "100"}
            << "--end must be above --start";
        QTest::newRow("sweep unknown pump")
            << QStringList{"sweep", "--start",  "0",   "--end",  "10", "--step",
                           "1",     "--period", "100", "--pump", "XY"}
            << "--pump takes VE, PE or Zexel";
        QTest::newRow("flash missing file")
            << QStringList{"flash", "/nonexistent/x.firmware"} << "cannot read";
        // Neither read until memory runs out nor waited on.
        QTest::newRow("flash a device") << QStringList{"flash", "/dev/zero"} << "is a device, not a file";
    }
    void badArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        StartSim();
        const TCliRun run = Run(arguments);
        QCOMPARE(run.ExitCode, 2);
        QVERIFY2(run.Err.startsWith("tamrel-cli: bad arguments: "), run.Err.constData());
        QVERIFY2(run.Err.contains(message.toUtf8()), run.Err.constData());
        // Nothing reached the tester.
        QVERIFY(FSim->FrameLog().isEmpty());
    }

    void noTester_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("read, silent port")
            << QStringList{"read", "--timeout", "300", "pos1"} << "timeout: no answer from %1 within 300 ms";
        QTest::newRow("write, silent port") << QStringList{"write", "--timeout", "300", "pwm1", "5"}
                                            << "timeout: no answer from %1 within 300 ms";
        QTest::newRow("watch, silent port") << QStringList{"watch", "--timeout", "300", "--count", "1"}
                                            << "timeout: no answer from %1 within 300 ms";
        QTest::newRow("flash, silent port")
            << QStringList{"flash", "--timeout", "300", "--force-ident", "IMAGE"}
            << "timeout: the boot loader on %1 did not answer the start request";
        QTest::newRow("search, no tester anywhere")
            << QStringList{"find"} << "no tester found: no port answered";
    }
    void noTester() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const bool search = arguments.first() == QLatin1String("find");
        if (!search) {
            TSimOptions options;
            options.Silent = true;
            StartSim(options);
            arguments.insert(1, QStringLiteral("--port"));
            arguments.insert(2, Port());
            arguments.replaceInStrings(QStringLiteral("IMAGE"),
                                       WriteImage(QStringLiteral("image.bin"), 1000));
            message = message.arg(Port());
        }
        const TCliRun run = Run(arguments);
        QCOMPARE(run.ExitCode, 2);
        QVERIFY2(run.Err.startsWith("tamrel-cli: " + message.toUtf8()), run.Err.constData());
        QVERIFY(run.Out.isEmpty() || arguments.first() == QLatin1String("watch"));
    }
};

TAMREL_TEST_MAIN_CORE(TestCli)
#include "tst_Cli.moc"

// tamrel-sim as a user starts it: it prints its published port, serves it, and removes the
// link when it is told to end or when its die-after time has passed.
#include "TestMain.h"
#include "uChildProcess.h"
#include "uPrivateRuntime.h"

#include <QFileInfo>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

class TestSimExecutable : public QObject {
    Q_OBJECT

    // Starts the simulator and returns the port it printed (empty on failure).
    static QString StartSim(TChildProcess &process, const QStringList &args) {
        if (!process.Start(TAMREL_SIM_EXE, args)) return {};
        const QByteArray line = process.ReadLine(5000);
        const QByteArray prefix = "TAMSIM port: ";
        if (!line.startsWith(prefix)) return {};
        return QString::fromLocal8Bit(line.mid(prefix.size()).trimmed());
    }

    // A runtime folder of this test's own, so that simulators of tests running at the same
    // time neither take these names nor appear in this port folder.
    TPrivateRuntime FRuntime;

private slots:
    void initTestCase() { QVERIFY(FRuntime.InUse()); }

    void publishesAndRemovesItsPort_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void publishesAndRemovesItsPort() {
        QFETCH(int, signalNumber);
        TChildProcess sim;
        const QString port = StartSim(sim, {"--ident", "Tavik exe"});
        QVERIFY2(!port.isEmpty(), sim.ReadAll().constData());
        QVERIFY(QFileInfo(port).isSymLink());
        QVERIFY(QFileInfo(port).fileName().startsWith("TAMSIM"));

        // Raw request for the identification through the published name.
        const int fd = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        const QByteArray request = QByteArray::fromHex("7e0800f87e");
        QCOMPARE(::write(fd, request.constData(), size_t(request.size())), ssize_t(request.size()));
        QByteArray answer;
        QTRY_VERIFY([&] {
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) answer.append(buf, int(n));
            return answer.count('\x7e') >= 2;
        }());
        QVERIFY(answer.contains("Tavik exe"));
        ::close(fd);

        ::kill(pid_t(sim.Pid()), signalNumber);
        QVERIFY(sim.WaitForFinished(5000));
        QVERIFY(sim.NormalExit());
        QCOMPARE(sim.ExitCode(), 0);
        QVERIFY(!QFileInfo(port).isSymLink());
    }

    void endsAfterDieAfter() {
        TChildProcess sim;
        const QString port = StartSim(sim, {"--die-after", "300"});
        QVERIFY(!port.isEmpty());
        QVERIFY(sim.WaitForFinished(5000));
        QCOMPARE(sim.ExitCode(), 0);
        QVERIFY(!QFileInfo(port).isSymLink());
    }

    void badArgumentsAreRefused_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::newRow("rate that is no number") << QStringList{"--line-rate", "fast"} << 2 << "--line-rate";
        QTest::newRow("frame log in a missing folder")
            << QStringList{"--frame-log", "/nonexistent-folder/frames.jsonl"} << 2
            << "/nonexistent-folder/frames.jsonl";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--die-after";
    }
    void badArgumentsAreRefused() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        TChildProcess sim;
        QVERIFY(sim.Start(TAMREL_SIM_EXE, args, TChildProcess::ErrorMerged));
        QVERIFY(sim.WaitForFinished(5000));
        QCOMPARE(sim.ExitCode(), exitCode);
        QVERIFY(sim.ReadAll().contains(said.toLocal8Bit()));
    }
};

TAMREL_TEST_MAIN_CORE(TestSimExecutable)
#include "tst_SimExecutable.moc"

// tamrel-sim as a user starts it: it prints its published port, serves it, and removes the
// link when it is told to end or when its die-after time has passed.
#include "TestMain.h"
#include "uPrivateRuntime.h"

#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

class TestSimExecutable : public QObject {
    Q_OBJECT

    // Starts the simulator and returns the port it printed (empty on failure).
    static QString StartSim(QProcess &process, const QStringList &args) {
        process.start(TAMREL_SIM_EXE, args);
        if (!process.waitForStarted(5000)) return {};
        QByteArray out;
        while (!out.contains('\n') && process.waitForReadyRead(5000))
            out += process.readAllStandardOutput();
        const QByteArray prefix = "TAMSIM port: ";
        if (!out.startsWith(prefix)) return {};
        return QString::fromLocal8Bit(out.mid(prefix.size()).trimmed());
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
        QProcess sim;
        const QString port = StartSim(sim, {"--ident", "Tavik exe"});
        QVERIFY2(!port.isEmpty(), sim.readAllStandardError().constData());
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

        ::kill(pid_t(sim.processId()), signalNumber);
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFileInfo(port).isSymLink());
    }

    void endsAfterDieAfter() {
        QProcess sim;
        const QString port = StartSim(sim, {"--die-after", "300"});
        QVERIFY(!port.isEmpty());
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFileInfo(port).isSymLink());
    }

    void badArgumentsAreRefused() {
        QProcess sim;
        sim.start(TAMREL_SIM_EXE, {"--line-rate", "fast"});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY(sim.readAllStandardError().contains("--line-rate"));
        sim.start(TAMREL_SIM_EXE, {"--frame-log", "/nonexistent-folder/frames.jsonl"});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY(sim.readAllStandardError().contains("/nonexistent-folder/frames.jsonl"));
        sim.start(TAMREL_SIM_EXE, {"--help"});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(sim.readAllStandardOutput().contains("--die-after"));
    }
};

TAMREL_TEST_MAIN_CORE(TestSimExecutable)
#include "tst_SimExecutable.moc"

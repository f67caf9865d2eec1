// End to end through the simulated tester on a pseudo-terminal: an engine with a server on a
// real serial port, the companion in its own process asking for a read and a write, and the
// simulator's registers and answers as the proof.
#include "TestMain.h"
#include "TrazerTestSupport.h"
#include "uPrivateRuntime.h"
#include "uSimPty.h"
#include "uTamrelRegisterMap.h"

#include <QSerialPort>
#include <QTimer>
#include <QtEndian>

class TestTrazerSim : public QObject {
    Q_OBJECT

    TPrivateSettings FSettings;
    TPrivateRuntime FRuntime; // a port folder of this test's own

private slots:
    void initTestCase() {
        QVERIFY(FSettings.Dir.isValid());
        QVERIFY(FRuntime.InUse());
    }

    void companionReadsAndWritesThroughTheTester() {
        TSimPty sim;
        QString error;
        QVERIFY2(sim.Start({}, &error), qPrintable(error));
        QSerialPort port;
        port.setPortName(sim.PortName());
        port.setBaudRate(115200);
        QVERIFY(port.open(QIODevice::ReadWrite));

        const QString name = UniqueServerName(QStringLiteral("Sim"));
        QList<quint8> received;
        TKvProtocol engine([&port](const QByteArray &frame) { port.write(frame); }, TesterRegistersInfo(),
                           [&received](TKvProtocol *, quint8 r) { received << r; }, TOnAck{}, TOutputData{},
                           false, QStringLiteral("TamrelLog"), false, name);
        QObject::connect(&port, &QSerialPort::readyRead, &port, [&] { engine.InputData(port.readAll()); });
        QVERIFY(engine.TrazerServerI);

        TCompanion companion(FSettings.Path());
        QVERIFY(companion.Started());
        QCOMPARE(companion.Ask("open " + name), QStringLiteral("ok 1000289"));
        QCOMPARE(companion.Ask("alive " + name), QStringLiteral("alive"));

        // The application's polling keeps values coming; the server acts at their pace.
        QTimer polling;
        polling.setInterval(20);
        QObject::connect(&polling, &QTimer::timeout, &polling, [&] { engine.RequestRegister(2, 0, {}); });
        polling.start();
        QTRY_VERIFY_WITH_TIMEOUT(received.contains(2), 20000);

        const quint16 vin = qFromLittleEndian<quint16>(sim.Register(6).constData());
        QCOMPARE(companion.Ask("read 6"), QStringLiteral("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(companion.Ask("answer"),
                                  QStringLiteral("status=3 type=4 size=8 value=%1").arg(vin), 20000);

        // 300 into the one-byte manual-control register: 2C on the tester.
        QCOMPARE(companion.Ask("write 4 300"), QStringLiteral("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(sim.Register(4), Hex("2C"), 20000);
        QVERIFY(companion.Ask("head").contains(QStringLiteral(" reg=0 params=300 ")));
        polling.stop();
    }
};

TAMREL_TEST_MAIN_CORE(TestTrazerSim)
#include "tst_TrazerSim.moc"

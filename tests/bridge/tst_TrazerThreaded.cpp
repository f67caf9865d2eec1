// The shared-memory server with the protocol in the port's thread: the server serves the
// companion's commands on the thread that feeds the engine, while the GUI thread writes and
// reads the same registers through the engine. Under ThreadSanitizer a mirror entry touched
// without the engine's register lock is a reported race.
#include "TestMain.h"
#include "TrazerTestSupport.h"

#include <atomic>
#include <mutex>
#include <thread>

class TestTrazerThreaded : public QObject {
    Q_OBJECT

    TCompanionSession FCompanion;

private slots:
    void initTestCase() { QVERIFY(FCompanion.Start()); }
    void cleanupTestCase() { FCompanion.Stop(); }

    void commandsServedOnThePortThread() {
        const QString name = UniqueServerName(QStringLiteral("Threaded"));
        std::mutex sentLock;
        QList<QByteArray> sent;
        TKvProtocol engine(
            [&](const QByteArray &frame) {
                std::lock_guard lock(sentLock);
                sent << TKvCapture::PayloadOf(frame);
            },
            {Declared(4, rtU32), Declared(6, rtU32)}, TOnRegisterNotify{}, TOnAck{}, TOutputData{}, false,
            QString{}, true, name);
        engine.FirstPacket = false;
        QVERIFY(engine.TrazerServerI);
        QCOMPARE(FCompanion.Open(name), QStringLiteral("ok 1000289"));

        // The port's thread: values keep arriving, at whose pace the server serves commands.
        std::atomic<bool> stop{false};
        std::thread port([&] {
            while (!stop) {
                engine.InputData(DeviceFrame(Hex("07 02 07 00 00 00 00")));
                std::this_thread::yield();
            }
        });
        // The GUI thread: the application writes register 4 and reads register 6, the one the
        // companion writes, meanwhile.
        for (quint32 value = 1; value <= 10; ++value) {
            QCOMPARE(FCompanion->Ask(QStringLiteral("write 6 %1").arg(1000 + value)), QStringLiteral("ok"));
            for (int i = 0; i < 200; ++i) {
                engine.WriteRegisterValue(4, value);
                const QByteArray seen = engine.RegisterCopy(6).RawData; // never a value half written
                QVERIFY(seen.isEmpty() || seen.size() == 4);
            }
            QTRY_VERIFY_WITH_TIMEOUT(
                FCompanion->Ask(QStringLiteral("head")).contains(QStringLiteral(" reg=0 ")), 20000);
        }
        stop = true;
        port.join();

        // Every write the companion asked for left as a write of register 6 with its value.
        std::lock_guard lock(sentLock);
        for (quint32 value = 1; value <= 10; ++value) {
            QByteArray payload = Hex("07 06 06");
            const quint32 wanted = 1000 + value;
            payload += QByteArray(reinterpret_cast<const char *>(&wanted), 4);
            QVERIFY2(sent.contains(payload), qPrintable(QString::number(wanted)));
        }
    }
};

TAMREL_TEST_MAIN_CORE(TestTrazerThreaded)
#include "tst_TrazerThreaded.moc"

// The shared-memory server with the protocol run in the port's thread: its handlers then run on
// that thread while the GUI thread reads and writes the same register mirror, as the
// application does. Built with ThreadSanitizer, an access that skips the engine's register
// lock is reported here. The companion's side of the block is played in this process through
// the server's own mapping: ThreadSanitizer stops watching a process once Qt has started a
// child process from it, so the companion program cannot be used here.
#include "TestMain.h"
#include "TrazerTestSupport.h"
#include "uTrazerSpinLock.h"

#include <QScopeGuard>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <thread>

namespace {

constexpr std::size_t CountOffset = offsetof(TTrazerSharedRecord, InputBufferCount);

// An engine that runs its protocol in the port's thread, with a server, its sent payloads
// recorded from any thread.
struct TThreadedEngine {
    std::mutex SentLock;
    QList<QByteArray> Sent;
    TKvProtocol Engine;

    TThreadedEngine(const QString &name, const TKvRegistersDynArray &regs)
        : Engine(
              [this](const QByteArray &frame) {
                  std::lock_guard lock(SentLock);
                  Sent << TKvCapture::PayloadOf(frame);
              },
              regs, [](TKvProtocol *, quint8) {}, TOnAck{}, TOutputData{}, false, QString{}, true, name) {
        Engine.FirstPacket = false;
    }
    TTrazerServer *Server() const { return dynamic_cast<TTrazerServer *>(Engine.TrazerServerI.get()); }
    bool HasSent(const QByteArray &payload) {
        std::lock_guard lock(SentLock);
        return Sent.contains(payload);
    }
    TTrazerSpinLock BlockLock() const {
        return TTrazerSpinLock(reinterpret_cast<std::int32_t *>(Server()->PSharedBuffer));
    }
    void SetCount(qint32 count) {
        BlockLock().Lock(1000);
        TrazerStore<qint32>(Server()->PSharedBuffer, CountOffset, count);
        BlockLock().Unlock();
    }
    qint32 Count() {
        BlockLock().Lock(1000);
        const qint32 count = TrazerLoad<qint32>(Server()->PSharedBuffer, CountOffset);
        BlockLock().Unlock();
        return count;
    }
};

} // namespace

class TestTrazerThreads : public QObject {
    Q_OBJECT

    TPrivateSettings Settings;

private slots:
    // The companion holds the block's lock while a value of register 254 arrives: the port's
    // thread waits for it inside the server's handler, the GUI thread writes the mirror's entry
    // meanwhile. The record written is whole: the value the device sent or the application's.
    void streamValueWaitsForTheBlockLock() {
        TThreadedEngine e(UniqueServerName(QStringLiteral("Held")), {Declared(254, rtBinStream)});
        QVERIFY(e.Server() && e.Server()->PSharedBuffer);
        e.SetCount(0);
        QVERIFY(e.BlockLock().Lock(1000));
        std::atomic<bool> fed = false;
        std::thread port([&] {
            e.Engine.InputData(DeviceFrame(Hex("07 FE 0A 64 65 76 21"))); // "dev!"
            fed = true;
        });
        auto endPort = qScopeGuard([&] {
            e.BlockLock().Unlock();
            port.join();
        });
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 100) {
            std::lock_guard lock(e.Engine.RegistersLock);
            e.Engine.Registers[254].RawData = QByteArrayLiteral("gui!");
        }
        QVERIFY(!fed);
        endPort.dismiss();
        e.BlockLock().Unlock();
        port.join();
        QCOMPARE(e.Count(), 9);
        const QByteArray record(reinterpret_cast<const char *>(e.Server()->PInputBuffer), 9);
        QVERIFY2(record == Hex("7E 04 00 00 00 64 65 76 21") || record == Hex("7E 04 00 00 00 67 75 69 21"),
                 record.toHex().constData());
        QCoreApplication::processEvents();
    }

    // Write requests served on the port's thread while values stream in and the GUI thread
    // writes and samples the mirror: each request is sent once with its value, and every
    // stream value is recorded.
    void writeRequestsWhileStreaming() {
        TThreadedEngine e(UniqueServerName(QStringLiteral("Threads")),
                          {Declared(5, rtU32), Declared(254, rtBinStream)});
        QVERIFY(e.Server() && e.Server()->PSharedBuffer);
        e.SetCount(0);
        std::atomic<bool> stop = false;
        int streamed = 0;
        std::thread port([&] {
            // At most 100,000 values: their records fit the buffer without a restart.
            for (int i = 0; i < 100000 && (i < 2000 || !stop.load()); ++i) {
                e.Engine.InputData(DeviceFrame(Hex("07 FE 0A") + QByteArray(4, char('a' + i % 26))));
                e.Engine.InputData(DeviceFrame(Hex("07 02 07 00 00 00 00")));
                streamed = i + 1;
            }
        });
        auto endPort = qScopeGuard([&] {
            stop = true;
            port.join();
        });
        for (quint32 param = 1; param <= 20; ++param) {
            QVERIFY(e.BlockLock().Lock(1000));
            TrazerStore<quint32>(e.Server()->PSharedBuffer, offsetof(TTrazerSharedRecord, CommandParams),
                                 param);
            TrazerStore<quint8>(e.Server()->PSharedBuffer, offsetof(TTrazerSharedRecord, CommandWriteRegNum),
                                5);
            e.BlockLock().Unlock();
            QByteArray expected = Hex("07 05 06 00 00 00 00");
            qToLittleEndian<quint32>(param, expected.data() + 3);
            QElapsedTimer clock;
            clock.start();
            while (!e.HasSent(expected) && clock.elapsed() < 20000) {
                for (int k = 0; k < 200; ++k) {
                    QCOMPARE(e.Engine.RegisterCopy(5).RegType, rtU32);
                    std::lock_guard lock(e.Engine.RegistersLock);
                    e.Engine.Registers[254].RawData = QByteArrayLiteral("gui!");
                }
            }
            QVERIFY2(e.HasSent(expected), qPrintable(QString::number(param)));
            QCoreApplication::processEvents();
        }
        endPort.dismiss();
        stop = true;
        port.join();
        QCOMPARE(e.Count(), streamed * 9);
        QCOMPARE(
            TrazerLoad<quint8>(e.Server()->PSharedBuffer, offsetof(TTrazerSharedRecord, CommandWriteRegNum)),
            0);
        QCoreApplication::processEvents();
    }
};

TAMREL_TEST_MAIN_CORE(TestTrazerThreads)
#include "tst_TrazerThreads.moc"

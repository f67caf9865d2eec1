// What a faulty or hostile companion writes into the block at any time: the server never
// writes outside the block's input buffer, never reads registers outside the mirror, never
// hangs the engine's thread and never lets the companion's value break the engine's receive
// path.
#include "TestMain.h"
#include "TrazerTestSupport.h"
#include "uTrazerSpinLock.h"

#include <QThread>

#include <ctime>
#include <limits>

namespace {

double Seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// 0xA5A5A5A5: a write parameter left in the head record with no register to write, so that a
// stray write into the head shows.
constexpr quint32 Sentinel = 0xA5A5A5A5u;

} // namespace

class TestTrazerHostile : public QObject {
    Q_OBJECT

    TCompanionSession C;

    QString Poke(int offset, const QByteArray &bytes) {
        return C->Ask(QStringLiteral("poke %1 %2").arg(offset).arg(HexOf(bytes)));
    }
    static QByteArray Le32(quint32 value) {
        QByteArray out(4, '\0');
        qToLittleEndian<quint32>(value, out.data());
        return out;
    }

private slots:
    void initTestCase() { QVERIFY(C.Start()); }
    void cleanupTestCase() { C.Stop(); }

    // A count outside 0 ... 1,000,000 is a record that does not fit: restart at 0.
    void inputBufferCountOutOfRange_data() {
        QTest::addColumn<qint64>("count");
        QTest::newRow("-5 (would reach into the head)") << qint64(-5);
        QTest::newRow("-13 (would overwrite the spin lock)") << qint64(-13);
        QTest::newRow("-1") << qint64(-1);
        QTest::newRow("most negative") << qint64(std::numeric_limits<qint32>::min());
        QTest::newRow("1,000,001") << qint64(1000001);
        QTest::newRow("most positive") << qint64(std::numeric_limits<qint32>::max());
    }
    void inputBufferCountOutOfRange() {
        QFETCH(qint64, count);
        const QString name = UniqueServerName(QStringLiteral("Count"));
        TServedEngine e(name);
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask(QStringLiteral("write 0 %1").arg(Sentinel)), QStringLiteral("ok"));
        QCOMPARE(C->Ask(QStringLiteral("setcount %1").arg(count)), QStringLiteral("ok"));
        const QByteArray value("0123456789");
        e.Stream(value);
        QCOMPARE(C->Ask("head"), QStringLiteral("lock=0 reg=0 params=%1 count=15").arg(Sentinel));
        QCOMPARE(C->Ask(QStringLiteral("peek %1 15").arg(BlockBuffer)),
                 QStringLiteral("7e0a000000") + HexOf(value));
        QVERIFY(C->Ask("ext").startsWith(QStringLiteral("type=1 size=276 ")));
        QCOMPARE(e.Notified, QList<quint8>{254});
    }

    // Values of register 254 longer than the input buffer can take, arriving as one frame.
    void valueLongerThanTheBuffer_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("countAfter");
        QTest::newRow("999,996 bytes: never fits, not recorded") << 999996 << "15";
        QTest::newRow("2,000,000 bytes: not recorded") << 2000000 << "15";
        QTest::newRow("999,995 bytes: fills the buffer exactly") << 999995 << "1000000";
    }
    void valueLongerThanTheBuffer() {
        QFETCH(int, length);
        QFETCH(QString, countAfter);
        const QString name = UniqueServerName(QStringLiteral("Long"));
        TServedEngine e(name);
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("setcount 0"), QStringLiteral("ok"));
        const QByteArray first("0123456789");
        e.Stream(first);

        e.Stream(QByteArray(length, 'x'));
        QCOMPARE(e.Engine->Registers[254].RawData.size(), qsizetype(length));
        QCOMPARE(C->Ask("count"), countAfter);
        QCOMPARE(C->Ask("ext"), QStringLiteral("type=1 size=276 command=0 status=0 p1=0 p2=0 p3=0 p4size=0"));
        if (countAfter == QLatin1String("15")) // what the companion has not read stays
            QCOMPARE(C->Ask("take"), QStringLiteral("records 1 torn 0 ") + HexOf(first));
        else
            QCOMPARE(C->Ask(QStringLiteral("peek %1 7").arg(BlockBuffer)), QStringLiteral("7e3b420f007878"));
    }

    // Command, Status and the read's register number as the companion may leave them.
    void commandRecordOutOfRange_data() {
        QTest::addColumn<quint8>("command");
        QTest::addColumn<quint8>("status");
        QTest::addColumn<quint32>("regNum");
        QTest::addColumn<QByteArray>("readSent");   // empty: no read
        QTest::addColumn<QByteArray>("valueAfter"); // a register value arriving next
        QTest::addColumn<QString>("extAfter");
        QTest::newRow("unknown command") << quint8(7) << quint8(tzsPending) << 3u << QByteArray()
                                         << Hex("07 03 04 02 01") << "command=7 status=1 p1=3 p2=0";
        QTest::newRow("unknown status") << quint8(tzcReadReg) << quint8(200) << 3u << QByteArray()
                                        << Hex("07 03 04 02 01") << "command=1 status=200 p1=3 p2=0";
        QTest::newRow("register 259: read of 3, never answered")
            << quint8(tzcReadReg) << quint8(tzsPending) << 259u << Hex("08 03") << Hex("07 03 04 02 01")
            << "command=1 status=2 p1=259 p2=0";
        QTest::newRow("register 0xFFFFFFFF: read of 255, never answered")
            << quint8(tzcReadReg) << quint8(tzsPending) << 0xFFFFFFFFu << Hex("08 FF") << Hex("07 FF 02 01")
            << "command=1 status=2 p1=4294967295 p2=0";
    }
    void commandRecordOutOfRange() {
        QFETCH(quint8, command);
        QFETCH(quint8, status);
        QFETCH(quint32, regNum);
        QFETCH(QByteArray, readSent);
        QFETCH(QByteArray, valueAfter);
        QFETCH(QString, extAfter);
        const QString name = UniqueServerName(QStringLiteral("Cmd"));
        TServedEngine e(name);
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(Poke(BlockExt + 7, Le32(regNum)), QStringLiteral("ok"));
        QCOMPARE(Poke(BlockExt + 5, QByteArray(1, char(command)) + char(status)), QStringLiteral("ok"));
        e.Traffic();
        QCOMPARE(e.Sent, readSent.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{readSent});
        e.Feed(valueAfter);
        e.Traffic();
        QCOMPARE(e.Sent.size(), readSent.isEmpty() ? 0 : 1);
        QCOMPARE(C->Ask("ext"),
                 QStringLiteral("type=1 size=276 ") + extAfter + QStringLiteral(" p3=0 p4size=0"));
    }

    // A size of 255 left in the answer: the server writes its 8 bytes and size 8, nothing more.
    void answerSizeLeftLarge() {
        const QString name = UniqueServerName(QStringLiteral("Size"));
        TServedEngine e(name);
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        const QByteArray pattern = QByteArray(1, char(255)) + QByteArray(256, char(0xAB));
        QCOMPARE(Poke(BlockExt + 19, pattern), QStringLiteral("ok"));
        QCOMPARE(C->Ask("read 3"), QStringLiteral("ok"));
        e.Traffic();
        e.Feed(Hex("07 03 04 02 01"));
        QCOMPARE(C->Ask("answer"), QStringLiteral("status=3 type=4 size=8 value=258"));
        QCOMPARE(C->Ask(QStringLiteral("peek %1 248").arg(BlockExt + 28)),
                 HexOf(QByteArray(248, char(0xAB))));
    }

    // A request the companion places while the previous one is being sent is kept for the next
    // value, not wiped when the server clears the one it took.
    void writeRequestPlacedWhileSendingIsKept() {
        const QString name = UniqueServerName(QStringLiteral("Race"));
        TServedEngine e(name, {Declared(5, rtU8), Declared(6, rtU8)});
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("write 5 1"), QStringLiteral("ok"));
        QString placed;
        e.OnSend = [&](const QByteArray &payload) {
            if (payload == Hex("07 05 02 01")) placed = C->Ask("write 6 2");
        };
        e.Traffic();
        QCOMPARE(placed, QStringLiteral("ok"));
        QCOMPARE(e.Sent, QList<QByteArray>{Hex("07 05 02 01")});
        QVERIFY(C->Ask("head").contains(QStringLiteral(" reg=6 params=2 ")));
        e.Traffic();
        QCOMPARE(e.Sent, (QList<QByteArray>{Hex("07 05 02 01"), Hex("07 06 02 02")}));
        QVERIFY(C->Ask("head").contains(QStringLiteral(" reg=0 ")));
    }

    // A parameter the register's type cannot take is dropped; the value that triggered the
    // command handling still reaches the application and the engine keeps receiving.
    void writeRequestTheTypeCannotTake() {
        const QString name = UniqueServerName(QStringLiteral("Conv"));
        TServedEngine e(name, {Declared(5, rtS32)});
        e.Engine->Registers[5].RawData = Hex("01 00 00 00");
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("write 5 4294967295"), QStringLiteral("ok"));
        e.Traffic();
        QVERIFY(e.Sent.isEmpty());
        QCOMPARE(e.Notified, QList<quint8>{2});
        QCOMPARE(e.Engine->Registers[5].RawData, Hex("01 00 00 00"));
        QVERIFY(C->Ask("head").contains(QStringLiteral(" reg=0 ")));
        e.Traffic();
        QCOMPARE(e.Notified, (QList<quint8>{2, 2}));
        QVERIFY(e.Sent.isEmpty());
        // A value it can take goes out as usual.
        QCOMPARE(C->Ask("write 5 7"), QStringLiteral("ok"));
        e.Traffic();
        QCOMPARE(e.Sent, QList<QByteArray>{Hex("07 05 07 07 00 00 00")});
    }

    // A companion that stops while holding the spin lock costs one bounded wait; values keep
    // reaching the application, and the stream and the commands resume once the lock is free.
    void spinLockHeldByTheCompanion() {
        const QString name = UniqueServerName(QStringLiteral("Held"));
        TServedEngine e(name, {Declared(5, rtU8)});
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("setcount 0"), QStringLiteral("ok"));
        QCOMPARE(C->Ask("write 5 9"), QStringLiteral("ok"));
        QCOMPARE(C->Ask("hold"), QStringLiteral("held"));
        e.Stream("first");
        e.Stream("second");
        e.Traffic();
        QCOMPARE(e.Notified, (QList<quint8>{254, 254, 2}));
        QVERIFY(e.Sent.isEmpty());
        QCOMPARE(C->Ask(QStringLiteral("peek 9 4")), QStringLiteral("00000000")); // nothing recorded
        QCOMPARE(C->Ask("release"), QStringLiteral("released"));
        e.Stream("third");
        QCOMPARE(C->Ask("take"), QStringLiteral("records 1 torn 0 ") + HexOf("third"));
        QCOMPARE(e.Sent, QList<QByteArray>{Hex("07 05 02 09")});
    }

    // A companion that keeps the lock nearly all the time, freeing it for 1 ms in every 100 ms:
    // the engine's thread, waiting for it again and again, spends only a small share of the
    // waiting time on the CPU. (Trying all the time costs as much CPU time as wall time.)
    void waitingForABusyCompanionCostsLittleCpu() {
        const QString name = UniqueServerName(QStringLiteral("Busy"));
        TServedEngine e(name);
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        C->Send(QStringLiteral("busy 99 1 4000"));
        TTrazerSpinLock lock(reinterpret_cast<std::int32_t *>(e.Server()->PSharedBuffer));
        QTRY_COMPARE_WITH_TIMEOUT(lock.Peek(), 1, 30000);

        double cpu = 0, wall = 0;
        int taken = 0;
        while (wall < 1.5) {
            const double cpu0 = Seconds(CLOCK_THREAD_CPUTIME_ID), wall0 = Seconds(CLOCK_MONOTONIC);
            // Generous: on a busy machine a wake-up may come after a free moment has passed.
            const bool got = lock.Lock(30000);
            cpu += Seconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
            wall += Seconds(CLOCK_MONOTONIC) - wall0;
            QVERIFY(got);
            lock.Unlock();
            ++taken;
            QThread::msleep(3); // past the free moment: the companion holds it again
        }
        QTRY_VERIFY_WITH_TIMEOUT(C->AnswerReady(), 30000);
        QVERIFY(C->Answer().startsWith(QStringLiteral("busy ")));
        const double share = cpu / wall;
        qInfo("%d waits, %.3f s waited, %.1f ms on the CPU (%.2f %%)", taken, wall, cpu * 1000, share * 100);
        QVERIFY2(share < 0.10, qPrintable(QStringLiteral("waiting took %1 % of a core").arg(share * 100)));
    }
};

TAMREL_TEST_MAIN_CORE(TestTrazerHostile)
#include "tst_TrazerHostile.moc"

// The serial port over a real pseudo-terminal: open errors, received bytes on the right
// thread, synchronous and asynchronous writes, settings applied to an open port.
#include "TestMain.h"
#include "uComPort.h"
#include "uPtyPair.h"

#include <QThread>

#include <atomic>
#include <thread>

class TComPortTest : public QObject {
    Q_OBJECT
private slots:
    void openMissingPortFails() {
        TComPort port;
        port.SetPort("/dev/tamrel-no-such-port");
        try {
            port.SetConnected(true);
            QFAIL("opened a missing port");
        } catch (const EComPort &e) {
            QVERIFY(QString::fromUtf8(e.what()).startsWith("Unable to open com port"));
            QCOMPARE(e.Code, ENOENT);
            QVERIFY(QString::fromUtf8(e.what()).contains(QString::number(ENOENT)));
        }
        QVERIFY(!port.Connected());
    }

    void openRaisesEventsAndIgnoresDtrOnPty() {
        TPtyPair pty;
        QVERIFY(pty.Ok());
        TComPort port;
        port.SetPort(pty.SlaveName);
        port.FlowControl.ControlDTR = dtrEnable;
        int Opened = 0, closed = 0;
        port.OnAfterOpen = [&](TComPort *s) {
            QCOMPARE(s, &port);
            QVERIFY(s->Connected());
            ++Opened;
        };
        port.OnAfterClose = [&](TComPort *) { ++closed; };
        port.SetConnected(true);
        QCOMPARE(Opened, 1);
        QVERIFY(port.Connected());
        port.SetConnected(false);
        QCOMPARE(closed, 1);
        QVERIFY(!port.Connected());
    }

    void receivedBytesRunOnTheChosenThread_data() {
        QTest::addColumn<int>("sync");
        QTest::newRow("thread sync: GUI thread") << int(smThreadSync);
        QTest::newRow("none: the port's thread") << int(smNone);
    }
    void receivedBytesRunOnTheChosenThread() {
        QFETCH(int, sync);
        TPtyPair pty;
        QVERIFY(pty.Ok());
        TComPort port;
        port.SetPort(pty.SlaveName);
        port.SetSyncMethod(TSyncMethod(sync));
        QByteArray Got;
        std::atomic<QThread *> ranOn{nullptr};
        QMutex M;
        port.OnRxChar = [&](TComPort *s, int count) {
            QByteArray chunk;
            QCOMPARE(s->ReadStr(chunk, count), count);
            QMutexLocker l(&M);
            Got += chunk;
            ranOn = QThread::currentThread();
        };
        port.SetConnected(true);
        const QByteArray sent("\x7e\x00\x01\x02\x7e", 5);
        pty.Write(sent);
        QTRY_COMPARE_WITH_TIMEOUT(([&] {
                                      QMutexLocker L(&M);
                                      return Got;
                                  })(),
                                  sent, 3000);
        if (sync == smThreadSync)
            QCOMPARE(ranOn.load(), QThread::currentThread());
        else
            QCOMPARE(ranOn.load(), port.EventThread());
        port.SetConnected(false);
    }

    void syncMethodRefusedWhileConnected() {
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlaveName);
        port.SetConnected(true);
        try {
            port.SetSyncMethod(smNone);
            QFAIL("changed while connected");
        } catch (const EComPort &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QString("Cannot set property while connected"));
        }
        QCOMPARE(port.SyncMethod(), smThreadSync);
    }

    void writesReachTheLine() {
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlaveName);
        port.SetConnected(true);
        port.WriteStr("sync");
        QCOMPARE(pty.Read(4), QByteArray("sync"));
        PAsync a;
        port.WriteStrAsync("async", a);
        QVERIFY(a);
        port.WaitForAsync(a);
        QVERIFY(!a);
        QCOMPARE(pty.Read(5), QByteArray("async"));
    }

    // More than the pty buffer holds: the write returns at once and the event thread
    // finishes it while the other side reads.
    void largeAsyncWriteCompletesInOrder() {
        TPtyPair Pty;
        TComPort port;
        port.SetPort(Pty.SlaveName);
        port.SetConnected(true);
        QByteArray big(256 * 1024, Qt::Uninitialized);
        for (int i = 0; i < big.size(); ++i)
            big[i] = char(i * 7 + i / 251);
        PAsync a;
        port.WriteStrAsync(big, a);
        QByteArray Got;
        std::thread reader([&] { Got = Pty.Read(big.size() + 3, 10000); });
        port.WaitForAsync(a);
        port.WriteStr("end");
        reader.join();
        QCOMPARE(Got.size(), big.size() + 3);
        QVERIFY(Got == big + "end");
    }

    void writeToVanishedLineFails() {
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlaveName);
        port.SetConnected(true);
        pty.CloseMaster();
        ::close(pty.Keeper);
        pty.Keeper = -1;
        try {
            port.WriteStr("lost");
            QFAIL("write to a vanished line succeeded");
        } catch (const EComPort &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QString("WriteFile function failed"));
        }
        port.SetConnected(false);
    }

    // The line goes: the far end hangs up, or output waits while the line takes nothing for
    // the stall limit. The owner hears of it once, on the GUI thread, with the pending write
    // failed; the port stays open until the owner closes it.
    void lostLineIsReportedOnce_data() {
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<int>("stallMs");
        QTest::newRow("hang-up, no stall limit") << true << 0;
        QTest::newRow("output stalls") << false << 300;
    }
    void lostLineIsReportedOnce() {
        QFETCH(bool, hangUp);
        QFETCH(int, stallMs);
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlaveName);
        port.OutputStallMs = stallMs;
        int Lost = 0;
        QThread *RanOn = nullptr;
        port.OnLineLost = [&](TComPort *s) {
            QCOMPARE(s, &port);
            ++Lost;
            RanOn = QThread::currentThread();
        };
        port.SetConnected(true);
        PAsync a;
        port.WriteStrAsync(QByteArray(256 * 1024, 'x'), a); // more than the line holds; no one reads
        QVERIFY(!TComPort::TryFinishAsync(a));              // under way: kept
        QVERIFY(a);
        if (hangUp) {
            pty.CloseMaster();
            ::close(pty.Keeper);
            pty.Keeper = -1;
        }
        QTRY_COMPARE_WITH_TIMEOUT(Lost, 1, 5000);
        QCOMPARE(RanOn, QThread::currentThread());
        QVERIFY(port.Connected());
        try {
            TComPort::TryFinishAsync(a);
            QFAIL("a write on a lost line succeeded");
        } catch (const EComPort &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QString("WriteFile function failed"));
        }
        QVERIFY(!a);
        port.WriteStrAsync("more", a); // the line has been let go: fails at once
        QVERIFY(TComPort::AsyncDone(a, 0) == false);
        QVERIFY_THROWS_EXCEPTION(EComPort, TComPort::TryFinishAsync(a));
        QTest::qWait(50);
        QCOMPARE(Lost, 1);
        int closed = 0;
        port.OnAfterClose = [&](TComPort *) { ++closed; };
        port.SetConnected(false);
        QCOMPARE(closed, 1);
        QCOMPARE(Lost, 1);
    }

    // The stall limit counts from the last byte the line took: a slow but steady reader
    // gets all of a large write, although the write waits several times that limit.
    void slowReaderIsNoStall() {
        TPtyPair Pty;
        TComPort port;
        port.SetPort(Pty.SlaveName);
        port.OutputStallMs = 500;
        int lost = 0;
        port.OnLineLost = [&](TComPort *) { ++lost; };
        port.SetConnected(true);
        QByteArray big(192 * 1024, Qt::Uninitialized);
        for (int i = 0; i < big.size(); ++i)
            big[i] = char(i * 13 + i / 509);
        PAsync a;
        port.WriteStrAsync(big, a);
        QByteArray Got;
        std::thread reader([&] {
            while (Got.size() < big.size()) {
                const QByteArray chunk = Pty.Read(qMin<qsizetype>(2048, big.size() - Got.size()), 5000);
                if (chunk.isEmpty()) return;
                Got += chunk;
                QThread::msleep(40);
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(TComPort::AsyncDone(a, 0), 30000);
        reader.join();
        QVERIFY(Got == big);
        QCOMPARE(lost, 0);
    }

    void settingsOfOpenPortApplyAtOnce() {
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlaveName);
        port.SetCustomBaudRate(9600);
        port.SetConnected(true);
        QCOMPARE(pty.SlaveSpeed(), speed_t(B9600));
        port.SetCustomBaudRate(115200);
        QCOMPARE(pty.SlaveSpeed(), speed_t(B115200));
        port.BeginUpdate();
        port.SetCustomBaudRate(57600);
        QCOMPARE(pty.SlaveSpeed(), speed_t(B115200));
        port.EndUpdate();
        QCOMPARE(pty.SlaveSpeed(), speed_t(B57600));
    }

    // A pty takes no other word size than 8 bits: the refusal reaches the caller and the
    // port keeps its setting.
    void refusedSettingKeepsTheOldValue() {
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlaveName);
        port.SetConnected(true);
        try {
            port.SetDataBits(dbSix);
            QFAIL("a pty took 6 data bits");
        } catch (const EComPort &e) {
            QVERIFY(QString(e.what()).startsWith("Unable to set com port settings"));
        }
        QCOMPARE(port.DataBits(), dbEight);
        port.SetCustomBaudRate(19200); // the next change works as usual
        QCOMPARE(pty.SlaveSpeed(), speed_t(B19200));
    }

    void changingPortOfOpenPortReopens() {
        TPtyPair a, b;
        TComPort port;
        port.SetPort(a.SlaveName);
        QStringList events;
        port.OnAfterOpen = [&](TComPort *p) { events << "open " + p->Port(); };
        port.OnAfterClose = [&](TComPort *p) { events << "close " + p->Port(); };
        port.SetConnected(true);
        port.SetPort(b.SlaveName);
        QVERIFY(port.Connected());
        port.WriteStr("b");
        QCOMPARE(b.Read(1), QByteArray("b"));
        // the close event already sees the new name, as the name changes first
        QCOMPARE(events, QStringList({"open " + a.SlaveName, "close " + b.SlaveName, "open " + b.SlaveName}));
    }
};

TAMREL_TEST_MAIN_CORE(TComPortTest)
#include "tst_ComPort.moc"

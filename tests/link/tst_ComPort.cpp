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
        TComPort Port;
        Port.SetPort("/dev/tamrel-no-such-port");
        try {
            Port.SetConnected(true);
            QFAIL("opened a missing port");
        } catch (const EComPort &E) {
            QVERIFY(QString::fromUtf8(E.what()).startsWith("Unable to open com port"));
            QCOMPARE(E.Code, ENOENT);
            QVERIFY(QString::fromUtf8(E.what()).contains(QString::number(ENOENT)));
        }
        QVERIFY(!Port.Connected());
    }

    void openRaisesEventsAndIgnoresDtrOnPty() {
        TPtyPair Pty;
        QVERIFY(Pty.Ok());
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.FlowControl.ControlDTR = dtrEnable;
        int Opened = 0, Closed = 0;
        Port.OnAfterOpen = [&](TComPort *S) {
            QCOMPARE(S, &Port);
            QVERIFY(S->Connected());
            ++Opened;
        };
        Port.OnAfterClose = [&](TComPort *) { ++Closed; };
        Port.SetConnected(true);
        QCOMPARE(Opened, 1);
        QVERIFY(Port.Connected());
        Port.SetConnected(false);
        QCOMPARE(Closed, 1);
        QVERIFY(!Port.Connected());
    }

    void receivedBytesRunOnTheChosenThread_data() {
        QTest::addColumn<int>("Sync");
        QTest::newRow("thread sync: GUI thread") << int(smThreadSync);
        QTest::newRow("none: the port's thread") << int(smNone);
    }
    void receivedBytesRunOnTheChosenThread() {
        QFETCH(int, Sync);
        TPtyPair Pty;
        QVERIFY(Pty.Ok());
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.SetSyncMethod(TSyncMethod(Sync));
        QByteArray Got;
        std::atomic<QThread *> RanOn{nullptr};
        QMutex M;
        Port.OnRxChar = [&](TComPort *S, int Count) {
            QByteArray Chunk;
            QCOMPARE(S->ReadStr(Chunk, Count), Count);
            QMutexLocker L(&M);
            Got += Chunk;
            RanOn = QThread::currentThread();
        };
        Port.SetConnected(true);
        const QByteArray Sent("\x7e\x00\x01\x02\x7e", 5);
        Pty.Write(Sent);
        QTRY_COMPARE_WITH_TIMEOUT(([&] {
                                      QMutexLocker L(&M);
                                      return Got;
                                  })(),
                                  Sent, 3000);
        if (Sync == smThreadSync)
            QCOMPARE(RanOn.load(), QThread::currentThread());
        else
            QCOMPARE(RanOn.load(), Port.EventThread());
        Port.SetConnected(false);
    }

    void syncMethodRefusedWhileConnected() {
        TPtyPair Pty;
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.SetConnected(true);
        try {
            Port.SetSyncMethod(smNone);
            QFAIL("changed while connected");
        } catch (const EComPort &E) {
            QCOMPARE(QString::fromUtf8(E.what()), QString("Cannot set property while connected"));
        }
        QCOMPARE(Port.SyncMethod(), smThreadSync);
    }

    void writesReachTheLine() {
        TPtyPair Pty;
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.SetConnected(true);
        Port.WriteStr("sync");
        QCOMPARE(Pty.Read(4), QByteArray("sync"));
        PAsync A;
        Port.WriteStrAsync("async", A);
        QVERIFY(A);
        Port.WaitForAsync(A);
        QVERIFY(!A);
        QCOMPARE(Pty.Read(5), QByteArray("async"));
    }

    // More than the pty buffer holds: the write returns at once and the event thread
    // finishes it while the other side reads.
    void largeAsyncWriteCompletesInOrder() {
        TPtyPair Pty;
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.SetConnected(true);
        QByteArray Big(256 * 1024, Qt::Uninitialized);
        for (int I = 0; I < Big.size(); ++I)
            Big[I] = char(I * 7 + I / 251);
        PAsync A;
        Port.WriteStrAsync(Big, A);
        QByteArray Got;
        std::thread Reader([&] { Got = Pty.Read(Big.size() + 3, 10000); });
        Port.WaitForAsync(A);
        Port.WriteStr("end");
        Reader.join();
        QCOMPARE(Got.size(), Big.size() + 3);
        QVERIFY(Got == Big + "end");
    }

    void writeToVanishedLineFails() {
        TPtyPair Pty;
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.SetConnected(true);
        Pty.CloseMaster();
        ::close(Pty.Keeper);
        Pty.Keeper = -1;
        try {
            Port.WriteStr("lost");
            QFAIL("write to a vanished line succeeded");
        } catch (const EComPort &E) {
            QCOMPARE(QString::fromUtf8(E.what()), QString("WriteFile function failed"));
        }
        Port.SetConnected(false);
    }

    // The line goes: the far end hangs up, or output waits while the line takes nothing for
    // the stall limit. The owner hears of it once, on the GUI thread, with the pending write
    // failed; the port stays open until the owner closes it.
    void lostLineIsReportedOnce_data() {
        QTest::addColumn<bool>("HangUp");
        QTest::addColumn<int>("StallMs");
        QTest::newRow("hang-up, no stall limit") << true << 0;
        QTest::newRow("output stalls") << false << 300;
    }
    void lostLineIsReportedOnce() {
        QFETCH(bool, HangUp);
        QFETCH(int, StallMs);
        TPtyPair Pty;
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.OutputStallMs = StallMs;
        int Lost = 0;
        QThread *RanOn = nullptr;
        Port.OnLineLost = [&](TComPort *S) {
            QCOMPARE(S, &Port);
            ++Lost;
            RanOn = QThread::currentThread();
        };
        Port.SetConnected(true);
        PAsync A;
        Port.WriteStrAsync(QByteArray(256 * 1024, 'x'), A); // more than the line holds; no one reads
        QVERIFY(!TComPort::TryFinishAsync(A));              // under way: kept
        QVERIFY(A);
        if (HangUp) {
            Pty.CloseMaster();
            ::close(Pty.Keeper);
            Pty.Keeper = -1;
        }
        QTRY_COMPARE_WITH_TIMEOUT(Lost, 1, 5000);
        QCOMPARE(RanOn, QThread::currentThread());
        QVERIFY(Port.Connected());
        try {
            TComPort::TryFinishAsync(A);
            QFAIL("a write on a lost line succeeded");
        } catch (const EComPort &E) {
            QCOMPARE(QString::fromUtf8(E.what()), QString("WriteFile function failed"));
        }
        QVERIFY(!A);
        Port.WriteStrAsync("more", A); // the line has been let go: fails at once
        QVERIFY(TComPort::AsyncDone(A, 0) == false);
        QVERIFY_THROWS_EXCEPTION(EComPort, TComPort::TryFinishAsync(A));
        QTest::qWait(50);
        QCOMPARE(Lost, 1);
        int Closed = 0;
        Port.OnAfterClose = [&](TComPort *) { ++Closed; };
        Port.SetConnected(false);
        QCOMPARE(Closed, 1);
        QCOMPARE(Lost, 1);
    }

    // The stall limit counts from the last byte the line took: a slow but steady reader
    // gets all of a large write, although the write waits several times that limit.
    void slowReaderIsNoStall() {
        TPtyPair Pty;
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.OutputStallMs = 500;
        int Lost = 0;
        Port.OnLineLost = [&](TComPort *) { ++Lost; };
        Port.SetConnected(true);
        QByteArray Big(192 * 1024, Qt::Uninitialized);
        for (int I = 0; I < Big.size(); ++I)
            Big[I] = char(I * 13 + I / 509);
        PAsync A;
        Port.WriteStrAsync(Big, A);
        QByteArray Got;
        std::thread Reader([&] {
            while (Got.size() < Big.size()) {
                const QByteArray Chunk = Pty.Read(qMin<qsizetype>(2048, Big.size() - Got.size()), 5000);
                if (Chunk.isEmpty()) return;
                Got += Chunk;
                QThread::msleep(40);
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(TComPort::AsyncDone(A, 0), 30000);
        Reader.join();
        QVERIFY(Got == Big);
        QCOMPARE(Lost, 0);
    }

    void settingsOfOpenPortApplyAtOnce() {
        TPtyPair Pty;
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.SetCustomBaudRate(9600);
        Port.SetConnected(true);
        QCOMPARE(Pty.SlaveSpeed(), speed_t(B9600));
        Port.SetCustomBaudRate(115200);
        QCOMPARE(Pty.SlaveSpeed(), speed_t(B115200));
        Port.BeginUpdate();
        Port.SetCustomBaudRate(57600);
        QCOMPARE(Pty.SlaveSpeed(), speed_t(B115200));
        Port.EndUpdate();
        QCOMPARE(Pty.SlaveSpeed(), speed_t(B57600));
    }

    // A pty takes no other word size than 8 bits: the refusal reaches the caller and the
    // port keeps its setting.
    void refusedSettingKeepsTheOldValue() {
        TPtyPair Pty;
        TComPort Port;
        Port.SetPort(Pty.SlaveName);
        Port.SetConnected(true);
        try {
            Port.SetDataBits(dbSix);
            QFAIL("a pty took 6 data bits");
        } catch (const EComPort &E) {
            QVERIFY(QString(E.what()).startsWith("Unable to set com port settings"));
        }
        QCOMPARE(Port.DataBits(), dbEight);
        Port.SetCustomBaudRate(19200); // the next change works as usual
        QCOMPARE(Pty.SlaveSpeed(), speed_t(B19200));
    }

    void changingPortOfOpenPortReopens() {
        TPtyPair A, B;
        TComPort Port;
        Port.SetPort(A.SlaveName);
        QStringList Events;
        Port.OnAfterOpen = [&](TComPort *P) { Events << "open " + P->Port(); };
        Port.OnAfterClose = [&](TComPort *P) { Events << "close " + P->Port(); };
        Port.SetConnected(true);
        Port.SetPort(B.SlaveName);
        QVERIFY(Port.Connected());
        Port.WriteStr("b");
        QCOMPARE(B.Read(1), QByteArray("b"));
        // the close event already sees the new name, as the name changes first
        QCOMPARE(Events, QStringList({"open " + A.SlaveName, "close " + B.SlaveName, "open " + B.SlaveName}));
    }
};

TAMREL_TEST_MAIN_CORE(TComPortTest)
#include "tst_ComPort.moc"

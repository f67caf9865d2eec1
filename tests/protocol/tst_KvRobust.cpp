// The engine under hostile conditions: destroyed from inside its own callbacks, fed from a
// second thread, and fed random bytes.
#include "KvTestFixture.h"
#include "TestMain.h"
#include "uKvThreadHandOver.h"

#include <QRandomGenerator>
#include <QSet>
#include <QThread>
#include <atomic>

namespace {

// A captured value whose destruction can be seen without reading the destroyed object:
// every instance that dies leaves its address in a list, and every instance that is built
// takes its own address out of it again (a new object may be built where an old one was).
struct TCaptureWitness {
    static QSet<const void *> &Destroyed() {
        static QSet<const void *> set;
        return set;
    }
    int Touches = 0;
    QByteArray Payload = QByteArray(256, 'w'); // large: the closure lives on the heap
    TCaptureWitness() { Destroyed().remove(this); }
    TCaptureWitness(const TCaptureWitness &other) : Touches(other.Touches), Payload(other.Payload) {
        Destroyed().remove(this);
    }
    TCaptureWitness &operator=(const TCaptureWitness &) = default;
    ~TCaptureWitness() { Destroyed().insert(this); }
    bool Alive() const { return !Destroyed().contains(this); }
};

// What the handler saw. It reaches the engine and its record through these globals, so that
// after the deletion it needs nothing from its closure but the witness.
struct TKillOutcome {
    int Calls = 0;
    bool CaptureAlive = false;
    int Touches = 0;
    QByteArray Argument; // a byte-string argument, read after the deletion
};
TKvProtocol *g_Engine = nullptr;
TKillOutcome g_Outcome;

void DeleteEngineThenTouch(TCaptureWitness &witness, const QByteArray *argument = nullptr) {
    ++g_Outcome.Calls;
    delete g_Engine;
    g_Engine = nullptr;
    g_Outcome.CaptureAlive = witness.Alive();
    if (g_Outcome.CaptureAlive) {
        ++witness.Touches;
        witness.Payload[0] = 'x';
        g_Outcome.Touches = witness.Touches;
    }
    if (argument) g_Outcome.Argument = *argument;
}

// A handler of any callback type that deletes the engine and then uses what it captured.
template <class... TArgs> std::function<void(TArgs...)> Killer() {
    TCaptureWitness witness;
    return [witness](TArgs...) mutable { DeleteEngineThenTouch(witness); };
}

} // namespace

class TestKvRobust : public QObject {
    Q_OBJECT
private slots:
    // Each row arms one callback with a handler that deletes the engine and then reads and
    // writes its own captures. The handler must still own them: every callback runs from a
    // copy, not from the engine's field that the deletion destroys.
    void handlerDeletingEngineKeepsItsCaptures_data() {
        QTest::addColumn<QString>("callback");
        for (const char *name : {"OutputData",
                                 "OutputData during a synchronous read",
                                 "OnReceivedRegister",
                                 "OnReceivedRegister on the GUI thread (same thread)",
                                 "OnReceivedRegister on the GUI thread (posted)",
                                 "OnReceivedRegisterAuto",
                                 "OnReceivedRegisterTrazer",
                                 "OnAckAll",
                                 "OnUnknownCommand",
                                 "FOnFirmwareStartAck",
                                 "FOnFirmwareProgress",
                                 "OnReadBlock",
                                 "OnWriteBlock",
                                 "OnClearBlock",
                                 "Application_ProcessMessages",
                                 "write acknowledgement",
                                 "refusal to OnTimeOut",
                                 "time-out",
                                 "queued write acknowledgement",
                                 "queued write time-out"})
            QTest::newRow(name) << QString(name);
    }
    void handlerDeletingEngineKeepsItsCaptures() {
        QFETCH(QString, callback);
        TTickShift tick;
        g_Outcome = {};
        g_Engine = new TKvProtocol({}, {}, {}, {}, {}, false, {}, false);
        TKvProtocol *e = g_Engine;
        e->FirstPacket = false;
        e->Registers[5].RegType = rtU8;
        e->Registers[5].RawData = Hex("01");
        const QByteArray loaderInfo = DeviceFrame(Hex("52 34 12 40 00 80 00") + "BL");
        if (callback == "OutputData") {
            e->OutputData = Killer<const QByteArray &>();
            e->RequestRegister(5, 0, {});
        } else if (callback == "OutputData during a synchronous read") {
            e->OutputData = Killer<const QByteArray &>();
            QVERIFY(!e->ReadRegisterSync(5, 5000));
        } else if (callback == "OnReceivedRegister") {
            e->OnReceivedRegister = Killer<TKvProtocol *, quint8>();
            e->InputData(DeviceFrame(Hex("07 05 02 01")));
        } else if (callback == "OnReceivedRegister on the GUI thread (same thread)") {
            e->SyncWithGui = true;
            e->OnReceivedRegister = Killer<TKvProtocol *, quint8>();
            e->InputData(DeviceFrame(Hex("07 05 02 01")));
        } else if (callback == "OnReceivedRegister on the GUI thread (posted)") {
            e->SyncWithGui = true;
            e->OnReceivedRegister = Killer<TKvProtocol *, quint8>();
            QThread worker;
            QObject onWorker;
            onWorker.moveToThread(&worker);
            worker.start();
            KvThread::CallBlocking(&onWorker, [e] { e->InputData(DeviceFrame(Hex("07 05 02 01"))); });
            worker.quit();
            worker.wait();
            QTRY_COMPARE(g_Outcome.Calls, 1);
        } else if (callback == "OnReceivedRegisterAuto") {
            e->OnReceivedRegisterAuto = Killer<TKvProtocol *, quint8>();
            e->InputData(DeviceFrame(Hex("09 05 02 01")));
        } else if (callback == "OnReceivedRegisterTrazer") {
            e->OnReceivedRegisterTrazer = Killer<TKvProtocol *, quint8>();
            e->InputData(DeviceFrame(Hex("07 05 02 01")));
        } else if (callback == "OnAckAll") {
            e->OnAckAll = Killer<quint8, quint8, TKvPError>();
            e->InputData(DeviceFrame(Hex("82 07 05 00")));
        } else if (callback == "OnUnknownCommand") {
            e->OnUnknownCommand = Killer<const QByteArray &>();
            e->InputData(DeviceFrame(Hex("63 01")));
        } else if (callback == "FOnFirmwareStartAck") {
            // This one also reads its byte-string argument after the deletion.
            TCaptureWitness witness;
            e->FirmwareStart(
                [witness](quint16, quint16, quint16, const QByteArray &ident) mutable {
                    DeleteEngineThenTouch(witness, &ident);
                },
                false, 0);
            e->InputData(loaderInfo);
            QCOMPARE(g_Outcome.Argument, QByteArray("BL"));
        } else if (callback == "FOnFirmwareProgress") {
            e->InputData(loaderInfo);
            e->FirmwareWrite(QByteArray(300, 'x'), Killer<quint8, quint32, quint32>());
            e->InputData(DeviceFrame(Hex("1A 00")));
        } else if (callback == "OnReadBlock") {
            e->OnReadBlock = Killer<quint8, quint16, const QByteArray &>();
            e->InputData(DeviceFrame(Hex("10 02 00 10 01 02")));
        } else if (callback == "OnWriteBlock") {
            e->OnWriteBlock = Killer<quint8, quint16, quint16>();
            e->InputData(DeviceFrame(Hex("11 01 02 01 02 00")));
        } else if (callback == "OnClearBlock") {
            e->OnClearBlock = Killer<quint8, quint16, quint16>();
            e->InputData(DeviceFrame(Hex("15 03 10 00 00 02")));
        } else if (callback == "Application_ProcessMessages") {
            e->Application_ProcessMessages = Killer<>();
            QVERIFY(!e->ReadRegisterSync(5, 5000)); // the engine went while it waited
        } else if (callback == "write acknowledgement") {
            e->WriteRegister(5, 0, {}, Killer<TKvProtocol *, quint8>());
            e->InputData(DeviceFrame(Hex("82 07 05 00")));
        } else if (callback == "refusal to OnTimeOut") {
            e->WriteRegister(5, 0, Killer<TKvProtocol *, quint8, TKvPError>(), {});
            e->InputData(DeviceFrame(Hex("82 07 05 11")));
        } else if (callback == "time-out") {
            e->RequestRegister(5, 0, Killer<TKvProtocol *, quint8, TKvPError>());
            tick.Advance(500);
            QTRY_COMPARE(g_Outcome.Calls, 1);
        } else if (callback == "queued write acknowledgement") {
            e->WriteRegisterAsync(5, 1, {}, Killer<TKvProtocol *, quint8>());
            e->NextRegisterOperation();
            e->InputData(DeviceFrame(Hex("82 07 05 00")));
        } else if (callback == "queued write time-out") {
            e->WriteRegisterAsync(5, 1, Killer<TKvProtocol *, quint8, TKvPError>(), {});
            e->NextRegisterOperation();
            tick.Advance(500);
            QTRY_COMPARE(g_Outcome.Calls, 1);
        }
        const bool deleted = g_Engine == nullptr;
        if (!deleted) delete g_Engine;
        g_Engine = nullptr;
        QVERIFY(deleted);
        QCOMPARE(g_Outcome.Calls, 1);
        QVERIFY2(g_Outcome.CaptureAlive, "the handler's captures died with the engine");
        QCOMPARE(g_Outcome.Touches, 1);
    }

    // Each row destroys the engine from a different callback; a frame queued behind the one
    // that triggers it must not be handled, and nothing may touch freed memory (sanitizer build).
    void destroyInsideCallbacks_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("OnReceivedRegister") << "received";
        QTest::newRow("OnAckAll") << "ackAll";
        QTest::newRow("write acknowledgement") << "ack";
        QTest::newRow("refusal to OnTimeOut") << "refused";
        QTest::newRow("OnUnknownCommand") << "unknown";
        QTest::newRow("OnReceivedRegisterAuto") << "auto";
        QTest::newRow("firmware progress") << "progress";
        QTest::newRow("OutputData of the next queued read") << "output";
    }
    void destroyInsideCallbacks() {
        QFETCH(QString, where);
        TKvProtocol *e = nullptr;
        int after = 0;
        auto kill = [&] {
            delete e;
            e = nullptr;
        };
        bool armed = false;
        e = new TKvProtocol(
            [&](const QByteArray &) {
                if (armed && where == "output") kill();
            },
            {},
            [&](TKvProtocol *, quint8 r) {
                if (r == 9)
                    ++after;
                else if (where == "received" || where == "output")
                    (where == "received") ? kill() : void(armed = true);
            },
            [&](quint8, quint8, TKvPError) {
                if (where == "ackAll") kill();
            },
            [&](const QByteArray &) {
                if (where == "unknown") kill();
            },
            false, {}, false);
        e->FirstPacket = false;
        e->OnReceivedRegisterAuto = [&](TKvProtocol *, quint8) {
            if (where == "auto") kill();
        };
        e->Registers[5].RegType = rtU8;
        e->Registers[5].RawData = Hex("01");
        const QByteArray tail = DeviceFrame(Hex("07 09 02 01")); // must not be handled
        QByteArray trigger;
        if (where == "received") {
            trigger = DeviceFrame(Hex("07 05 02 01"));
        } else if (where == "ackAll") {
            trigger = DeviceFrame(Hex("82 07 05 00"));
        } else if (where == "ack" || where == "refused") {
            e->WriteRegister(
                5, 0, [&](TKvProtocol *, quint8, TKvPError) { kill(); },
                [&](TKvProtocol *, quint8) { kill(); });
            trigger = DeviceFrame(where == "ack" ? Hex("82 07 05 00") : Hex("82 07 05 11"));
        } else if (where == "unknown") {
            trigger = DeviceFrame(Hex("63 01"));
        } else if (where == "auto") {
            trigger = DeviceFrame(Hex("09 05 02 01"));
        } else if (where == "progress") {
            e->InputData(DeviceFrame(Hex("52 34 12 40 00 80 00") + "BL"));
            e->FirmwareWrite(QByteArray(300, 'x'), [&](quint8, quint32, quint32) { kill(); });
            trigger = DeviceFrame(Hex("1A 00"));
        } else if (where == "output") {
            e->RequestRegisterAsync(5);
            e->RequestRegisterAsync(6);
            e->NextRegisterOperation();
            trigger = DeviceFrame(Hex("07 05 02 01")); // value of 5 sends the read of 6 -> killed there
        }
        e->InputData(trigger + tail);
        QVERIFY(e == nullptr);
        QCOMPARE(after, 0);
    }

    void destroyInsideTimeOutCallback() {
        TTickShift tick;
        TKvProtocol *e = new TKvProtocol({}, {}, {}, {}, {}, false, {}, false);
        e->FirstPacket = false;
        e->RequestRegister(5, 0, [&](TKvProtocol *sender, quint8, TKvPError) {
            QCOMPARE(sender, e);
            delete e;
            e = nullptr;
        });
        e->RequestRegister(
            6, 0, [&](TKvProtocol *, quint8, TKvPError) { QFAIL("second time-out after destruction"); });
        tick.Advance(500);
        QTRY_VERIFY(e == nullptr);
        QTest::qWait(60); // later ticks must not run
    }

    // A posted GUI notification that arrives after the engine is gone does nothing.
    void postedNotificationAfterDestruction() {
        int calls = 0;
        auto *e = new TKvProtocol(
            {}, {}, [&](TKvProtocol *, quint8) { ++calls; }, {}, {}, false, {}, true);
        QThread worker;
        QObject onWorker;
        onWorker.moveToThread(&worker);
        worker.start();
        KvThread::CallBlocking(&onWorker, [e] { e->InputData(DeviceFrame(Hex("07 03 02 01"))); });
        worker.quit();
        worker.wait();
        delete e; // the posted call is still in the GUI thread's queue
        QTest::qWait(20);
        QCOMPARE(calls, 0);
    }

    // Bytes arrive on a worker thread while the GUI thread issues queued reads and the
    // time-out timer runs; the GUI thread sees the register numbers in arrival order.
    void workerThreadDeliveryKeepsOrder() {
        QList<quint8> seen;
        std::atomic<int> sent{0};
        auto *e = new TKvProtocol([&](const QByteArray &) { ++sent; }, {},
                                  [&](TKvProtocol *, quint8 r) {
                                      QVERIFY(QThread::currentThread() == qApp->thread());
                                      seen << r;
                                  },
                                  {}, {}, false, {}, true);
        e->FirstPacket = false;
        const int count = 2000;
        QThread worker;
        QObject onWorker;
        onWorker.moveToThread(&worker);
        worker.start();
        KvThread::Post(&onWorker, [e] {
            for (int i = 0; i < count; ++i)
                e->InputData(DeviceFrame(QByteArray("\x07") + char(i % 200) + QByteArray("\x02\x01", 2)));
        });
        for (int i = 0; i < 300; ++i) { // the GUI thread keeps the queue and the lists busy
            e->RequestRegisterAsync(quint8(i % 200));
            e->NextRegisterOperation();
            e->RequestRegister(quint8(i % 200), 0, [](TKvProtocol *, quint8, TKvPError) {});
            if (i % 50 == 0) QCoreApplication::processEvents();
        }
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), count, 20000);
        for (int i = 0; i < count; ++i)
            QCOMPARE(int(seen[i]), i % 200);
        worker.quit();
        worker.wait();
        delete e;
        QVERIFY(sent > 0);
    }

    // A million bytes of noise and mutated frames: no crash, a bounded buffer, and a valid
    // frame is still understood afterwards.
    void randomInput() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->FirstPacket = false;
        QRandomGenerator rng(20261209);
        QList<QByteArray> valid = {DeviceFrame(Hex("07 05 02 2A")),
                                   DeviceFrame(Hex("82 07 05 00")),
                                   DeviceFrame(Hex("52 34 12 40 00 80 00") + "BL"),
                                   DeviceFrame(Hex("1A 00")),
                                   DeviceFrame(Hex("10 02 00 10 01 02")),
                                   DeviceFrame(Hex("AD 03 07 00 01 41")),
                                   DeviceFrame(Hex("07 05 02 2A"), true, 3),
                                   DeviceFrame(Hex("11 01 02 01 02 00"))};
        e->InputData(DeviceFrame(Hex("52 34 12 40 00 80 00") + "BL"));
        e->FirmwareWrite(QByteArray(1000, 'z'), {});
        e->OnReadBlock = [](quint8, quint16, const QByteArray &) {};
        qsizetype total = 0;
        while (total < 1000000) {
            QByteArray chunk;
            if (rng.bounded(3) == 0) {
                chunk.resize(rng.bounded(1, 400));
                for (char &c : chunk)
                    c = char(rng.bounded(256));
            } else {
                chunk = valid[rng.bounded(int(valid.size()))];
                const int flips = rng.bounded(4);
                for (int i = 0; i < flips; ++i)
                    chunk[rng.bounded(int(chunk.size()))] = char(rng.bounded(256));
                if (rng.bounded(4) == 0) chunk.truncate(rng.bounded(int(chunk.size())));
            }
            e->InputData(chunk);
            QVERIFY(e->BufferedBytes() <= TKvProtocol::MaxBufferRx);
            total += chunk.size();
        }
        // A long run without any delimiter stays capped too.
        e->InputData(QByteArray(200000, 'A'));
        QVERIFY(e->BufferedBytes() <= TKvProtocol::MaxBufferRx);
        cap.Received.clear();
        e->UseCrc16 = false;
        e->InputData(Hex("7E 7E") + DeviceFrame(Hex("07 06 02 2B")));
        QCOMPARE(cap.Received, QList<quint8>{6});
        QCOMPARE(e->Registers[6].RawData, Hex("2B"));
    }
};

TAMREL_TEST_MAIN_CORE(TestKvRobust)
#include "tst_KvRobust.moc"

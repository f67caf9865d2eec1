// The operation queue, its chains and the synchronous read.
#include "KvTestFixture.h"
#include "TestMain.h"

class TestKvQueue : public QObject {
    Q_OBJECT
    std::unique_ptr<TKvProtocol> Ready(TKvCapture &cap) {
        TKvRegistersDynArray regs;
        TKvRegister r5;
        r5.RegAdr = 5;
        r5.RegType = rtU16;
        regs << r5;
        TKvRegister r1;
        r1.RegAdr = 1;
        r1.RegType = rtU8;
        regs << r1;
        auto e = MakeEngine(cap, regs);
        e->FirstPacket = false;
        return e;
    }

private slots:
    void readsInTurn() {
        TTickShift tick;
        TKvCapture cap;
        auto e = Ready(cap);
        for (quint8 r : {3, 10, 4})
            e->RequestRegisterAsync(r);
        e->NextRegisterOperation();
        QCOMPARE(cap.Payloads(), QList<QByteArray>{Hex("08 03")});
        QCOMPARE(e->AsyncRegOperationCount(), 2);
        e->InputData(DeviceFrame(Hex("07 03 02 01")));
        QCOMPARE(cap.Payloads().last(), Hex("08 0A"));
        // A value for another register does not move the queue.
        e->InputData(DeviceFrame(Hex("07 0C 02 01")));
        QCOMPARE(cap.Frames.size(), 2);
        tick.Advance(150); // read of 10 times out
        QTRY_COMPARE(cap.Frames.size(), 3);
        QCOMPARE(cap.Payloads().last(), Hex("08 04"));
        e->NextRegisterOperation(); // empty queue: nothing
        QCOMPARE(cap.Frames.size(), 3);
    }

    void queuedWrite() {
        TKvCapture cap;
        auto e = Ready(cap);
        e->WriteRegisterAsync(5, QVariant(300), RecordTimeOut(cap), RecordAck(cap));
        e->RequestRegisterAsync(6);
        e->NextRegisterOperation();
        QCOMPARE(e->Registers[5].RawData, Hex("2C 01"));
        QCOMPARE(cap.Payloads().last(), Hex("07 05 04 2C 01"));
        e->InputData(DeviceFrame(Hex("82 07 05 00")));
        QCOMPARE(cap.AckRegs, QList<quint8>{5});
        QCOMPARE(cap.Payloads().last(), Hex("08 06"));
    }

    void queuedWriteRefused() {
        TKvCapture cap;
        auto e = Ready(cap);
        e->WriteRegisterAsync(5, QVariant(300), RecordTimeOut(cap), RecordAck(cap));
        e->RequestRegisterAsync(6);
        e->NextRegisterOperation();
        e->InputData(DeviceFrame(Hex("82 07 05 11")));
        QCOMPARE(cap.TimeOuts, (QList<QPair<quint8, TKvPError>>{{5, 17}}));
        QCOMPARE(cap.AckRegs.size(), 0);
        QCOMPARE(cap.Payloads().last(), Hex("08 06"));
    }

    // The link's start write goes behind the probe; the main window's start-up read starts
    // a second chain meanwhile. The write's acknowledgement must still reach its own handler.
    void acknowledgementReachesItsOwnOperationAcrossChains() {
        TKvCapture cap;
        auto e = MakeEngine(cap, {});
        e->Registers[1].RegType = rtU8;
        e->Registers[1].RawData = Hex("01");
        e->WriteRegister(1, 0, RecordTimeOut(cap), RecordAck(cap)); // chain A: probe, then the write
        // Chain B: the start-up read of register 0 queued and started while A runs.
        e->RequestRegisterAsync(0);
        e->NextRegisterOperation(); // takes the write of 1
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("07 01 02 01"));
        // Probe answered in CRC format: chain A moves on and sends the read of 0.
        e->InputData(DeviceFrame(Hex("07 01 02 00"), true, 0));
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("08 00"));
        QCOMPARE(e->CurRegisterAsync().RegNum, quint8(0));
        // Now the write's acknowledgement arrives while the current operation is the read of 0.
        e->InputData(DeviceFrame(Hex("82 07 01 00"), true, 1));
        QCOMPARE(cap.AckRegs, QList<quint8>{1});

        // And the same for a refusal: a second write's error reaches its own OnTimeOut.
        e->WriteRegisterAsync(1, QVariant(0), RecordTimeOut(cap), RecordAck(cap));
        e->RequestRegisterAsync(2);
        e->NextRegisterOperation();
        e->NextRegisterOperation(); // second chain sends the read of 2
        e->InputData(DeviceFrame(Hex("82 07 01 10"), true, 2));
        QCOMPARE(cap.TimeOuts, (QList<QPair<quint8, TKvPError>>{{1, 16}}));
    }

    void lateAcknowledgementStartsNoExtraChain() {
        TTickShift tick;
        TKvCapture cap;
        auto e = Ready(cap);
        e->WriteRegisterAsync(5, QVariant(1), RecordTimeOut(cap), RecordAck(cap));
        e->RequestRegisterAsync(6);
        e->RequestRegisterAsync(7);
        e->NextRegisterOperation();
        tick.Advance(150);
        QTRY_COMPARE(cap.TimeOuts.size(), 1); // the write timed out, the read of 6 went
        QCOMPARE(cap.Payloads().last(), Hex("08 06"));
        const int sent = cap.Frames.size();
        e->InputData(DeviceFrame(Hex("82 07 05 00"))); // late acknowledgement of the write
        QCOMPARE(cap.AckRegs, QList<quint8>{5});       // still reaches its handler
        QCOMPARE(cap.Frames.size(), sent);             // but sends nothing beside the running chain
    }

    void readRegistersSync() {
        TKvCapture cap;
        auto e = Ready(cap);
        int pumped = 0;
        // The device answers 3 and 4 while the read waits, as the message pump delivers them.
        e->Application_ProcessMessages = [&] {
            ++pumped;
            const QByteArray last = TKvCapture::PayloadOf(cap.Frames.last());
            if (last == Hex("08 03") && !e->Registers[3].Known)
                e->InputData(DeviceFrame(Hex("07 03 02 01")));
            else if (last == Hex("08 04") && !e->Registers[4].Known)
                e->InputData(DeviceFrame(Hex("07 04 02 01")));
        };
        SetOfByte regs;
        regs.set(3);
        regs.set(4);
        QVERIFY(e->ReadRegistersSync(regs, 300));
        QVERIFY(pumped > 0);
        QVERIFY(!e->NeedReadRegisters.test(3) && !e->NeedReadRegisters.test(4));
    }

    void readRegistersSyncTimesOut() {
        TTickShift tick;
        TKvCapture cap;
        auto e = Ready(cap);
        e->TimeOut = 100000;
        e->Application_ProcessMessages = [&] {
            if (!e->Registers[3].Known) e->InputData(DeviceFrame(Hex("07 03 02 01")));
            tick.Advance(10); // time passes quickly for this test
        };
        SetOfByte regs;
        regs.set(3);
        regs.set(4);
        QVERIFY(!e->ReadRegistersSync(regs, 300));
        QVERIFY(e->NeedReadRegisters.test(4));
        QVERIFY(!e->NeedReadRegisters.test(3));
    }
};

TAMREL_TEST_MAIN_CORE(TestKvQueue)
#include "tst_KvQueue.moc"

// The packet interpreter, the direct register commands, acknowledgements and time-outs.
#include "KvTestFixture.h"
#include "TestMain.h"

class TestKvProtocol : public QObject {
    Q_OBJECT
    // An engine past its first contact, so direct requests go out at once.
    std::unique_ptr<TKvProtocol> Ready(TKvCapture &cap) {
        auto e = MakeEngine(cap);
        e->FirstPacket = false;
        return e;
    }

private slots:
    void registerValues_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("answerError");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<int>("devAddress");
        QTest::newRow("U8 value") << Hex("07 05 02 2A") << 0 << true << 0;
        QTest::newRow("U16 with one byte") << Hex("07 05 04 2A") << 16 << false << 0;
        QTest::newRow("too short") << Hex("07 05") << 3 << false << 0;
        QTest::newRow("type above 10") << Hex("07 05 0B 00") << 16 << false << 0;
        QTest::newRow("empty string") << Hex("07 05 01") << 0 << true << 0;
        QTest::newRow("address prefix") << Hex("AD 03 07 05 02 2A") << 0 << true << 3;
    }
    void registerValues() {
        QFETCH(QByteArray, payload);
        QFETCH(int, answerError);
        QFETCH(bool, stored);
        QFETCH(int, devAddress);
        TKvCapture cap;
        auto e = Ready(cap);
        e->InputData(DeviceFrame(payload));
        QCOMPARE(int(e->AnswerError), answerError);
        QCOMPARE(e->Registers[5].Known, stored);
        QCOMPARE(int(e->Registers[5].UpdateCounter), stored ? 1 : 0);
        QCOMPARE(cap.Received, stored ? QList<quint8>{5} : QList<quint8>{});
        if (stored) {
            QCOMPARE(e->Registers[5].RawData, payload.mid(devAddress ? 5 : 3));
            QCOMPARE(int(e->Registers[5].DevAddress), devAddress);
        }
    }

    void addressPrefixWithoutCommand() {
        TKvCapture cap;
        auto e = Ready(cap);
        e->InputData(DeviceFrame(Hex("AD")));
        e->InputData(DeviceFrame(Hex("AD 03")));
        QCOMPARE(cap.Unknown.size(), 0);
        QCOMPARE(cap.Received.size(), 0);
    }

    void autoSendValue() {
        TKvCapture cap;
        auto e = Ready(cap);
        e->NeedReadRegisters.set(5);
        e->RequestRegisterAsync(5);
        e->RequestRegisterAsync(6);
        e->NextRegisterOperation();
        const int sent = cap.Frames.size();
        e->InputData(DeviceFrame(Hex("09 05 02 2A")));
        QCOMPARE(cap.ReceivedAuto, QList<quint8>{5});
        QCOMPARE(cap.Received.size(), 0);
        QVERIFY(e->NeedReadRegisters.test(5));
        QCOMPARE(cap.Frames.size(), sent); // the queue did not advance
        QCOMPARE(e->Registers[5].RawData, Hex("2A"));
    }

    void newCommandSet() {
        TKvCapture cap;
        auto e = Ready(cap);
        e->InputData(DeviceFrame(Hex("13 05"))); // 19 before the switch: unhandled
        QCOMPARE(cap.Unknown, QList<QByteArray>{Hex("13 05")});
        QCOMPARE(int(e->AnswerError), 2);
        e->InputData(DeviceFrame(Hex("12 05 02 2A")));
        QVERIFY(e->NewCommands);
        QCOMPARE(cap.Received, QList<quint8>{5});
        e->RequestRegister(5, 0, {});
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("13 05"));
        e->Registers[5].RawData = Hex("01");
        e->WriteRegister(5, 0, {}, {});
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("12 05 02 01"));
    }

    void forbidNewCommands() {
        TKvCapture cap;
        auto e = Ready(cap);
        e->ForbidNewRegCommands = true;
        e->InputData(DeviceFrame(Hex("94 13 05 00")));
        QVERIFY(!e->NewCommands);
    }

    void acknowledgements() {
        TKvCapture cap;
        auto e = Ready(cap);
        e->Registers[5].RegType = rtU8;
        e->Registers[5].RawData = Hex("01");
        e->WriteRegister(5, 0, RecordTimeOut(cap), RecordAck(cap));
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("07 05 02 01"));
        QCOMPARE(e->PendingTimeoutCount(), 1);
        QCOMPARE(e->PendingAckCount(), 1);
        e->InputData(DeviceFrame(Hex("82 07 05 00")));
        QCOMPARE(cap.AckRegs, QList<quint8>{5});
        QCOMPARE(cap.TimeOuts.size(), 0);
        QCOMPARE(cap.Acks, (QList<QList<int>>{{7, 5, 0}}));
        QCOMPARE(e->PendingTimeoutCount(), 0);
        QCOMPARE(e->PendingAckCount(), 0);

        e->WriteRegister(5, 0, RecordTimeOut(cap), RecordAck(cap));
        e->InputData(DeviceFrame(Hex("82 07 05 12")));
        QCOMPARE(cap.TimeOuts, (QList<QPair<quint8, TKvPError>>{{5, 18}}));
        QCOMPARE(cap.AckRegs.size(), 1);
        QCOMPARE(e->PendingAckCount(), 0);
    }

    void ackOfNewCommandRead() {
        TKvCapture cap;
        auto e = Ready(cap);
        e->RequestRegister(5, 0, RecordTimeOut(cap));
        e->InputData(DeviceFrame(Hex("94 13 05 00")));
        QVERIFY(e->NewCommands);
        QCOMPARE(e->PendingTimeoutCount(), 0);
        QCOMPARE(cap.TimeOuts.size(), 0);
        QCOMPARE(cap.Acks, (QList<QList<int>>{{19, 5, 0}}));
    }

    void malformedAck() {
        TKvCapture cap;
        auto e = Ready(cap);
        e->InputData(DeviceFrame(Hex("82 07 05")));
        QCOMPARE(int(e->AnswerError), 1);
        QCOMPARE(cap.Acks.size(), 0);
    }

    void unmatchedAckStillReported() {
        TKvCapture cap;
        auto e = Ready(cap);
        e->InputData(DeviceFrame(Hex("82 07 09 00")));
        QCOMPARE(cap.Acks, (QList<QList<int>>{{7, 9, 0}}));
    }

    void timeOuts() {
        TTickShift tick;
        TKvCapture cap;
        auto e = Ready(cap);
        e->TimeOut = 10000; // long enough that real time during the test does not count
        for (quint8 r : {5, 6, 7})
            e->RequestRegister(r, 0, RecordTimeOut(cap));
        tick.Advance(9000);
        QTest::qWait(60);
        QCOMPARE(cap.TimeOuts.size(), 0);
        tick.Advance(1100);
        // One entry per 20 ms tick, in request order.
        QTRY_COMPARE(cap.TimeOuts.size(), 3);
        QCOMPARE(cap.TimeOuts, (QList<QPair<quint8, TKvPError>>{{5, 255}, {6, 255}, {7, 255}}));
    }

    void timeOutAcrossTickWrap() {
        TTickShift tick;
        // Put the counter just before the wrap: 0xFFFFFF00.
        tick.Set(0xFFFFFF00u - (KvPlatform::TickCount() - KvPlatform::TickCountOffset()));
        TKvCapture cap;
        auto e = Ready(cap);
        e->TimeOut = 0x200; // deadline lies after the wrap, at about 0x00000100
        e->RequestRegister(5, 0, RecordTimeOut(cap));
        QTest::qWait(60);
        QCOMPARE(cap.TimeOuts.size(), 0); // a plain unsigned compare would expire it at once
        tick.Advance(0x180);              // now about 0x00000080: still before the deadline
        QTest::qWait(60);
        QCOMPARE(cap.TimeOuts.size(), 0);
        tick.Advance(0x100);
        QTRY_COMPARE(cap.TimeOuts.size(), 1);
    }

    void valueEndsPendingRead() {
        TTickShift tick;
        TKvCapture cap;
        auto e = Ready(cap);
        e->RequestRegister(5, 0, RecordTimeOut(cap));
        e->InputData(DeviceFrame(Hex("07 05 02 2A")));
        QCOMPARE(e->PendingTimeoutCount(), 0);
        tick.Advance(500);
        QTest::qWait(50);
        QCOMPARE(cap.TimeOuts.size(), 0);
    }

    void firstContactProbe() {
        TTickShift tick;
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->RequestRegister(0, 0, {});
        QVERIFY(e->FirstPacket); // register 0 goes at once and leaves the probe pending
        QCOMPARE(cap.Payloads(), QList<QByteArray>{Hex("08 00")});
        e->RequestRegister(5, 0, {});
        QVERIFY(!e->FirstPacket);
        QCOMPARE(cap.Frames.size(), 2);
        QVERIFY(TKvCapture::IsCrcFrame(cap.Frames.last())); // probe of register 1 in CRC format
        QCOMPARE(cap.Frames.last(), KvCodec::FrameCrc16(Hex("08 01"), 0));
        QVERIFY(!e->UseCrc16);
        QCOMPARE(e->AsyncRegOperationCount(), 1);
        // No answer: after the time-out the read of 5 follows in checksum mode.
        tick.Advance(150);
        QTRY_COMPARE(cap.Frames.size(), 3);
        QCOMPARE(cap.Frames.last(), Hex("7E 08 05 F3 7E"));
    }

    void probeAnsweredSwitchesToCrc() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->RequestRegister(5, 0, {});
        e->InputData(DeviceFrame(Hex("07 01 02 01"), true, 0));
        QVERIFY(e->UseCrc16);
        // Counter kept after our own probe: the next frame carries 1.
        QCOMPARE(cap.Frames.last(), KvCodec::FrameCrc16(Hex("08 05"), 1));
    }

    void firstWriteGoesBehindProbe() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->Registers[1].RegType = rtU8;
        e->Registers[1].RawData = Hex("01");
        e->WriteRegister(1, 0, RecordTimeOut(cap), RecordAck(cap));
        QCOMPARE(cap.Frames.size(), 1);
        QVERIFY(TKvCapture::IsCrcFrame(cap.Frames[0]));
        e->InputData(DeviceFrame(Hex("07 01 02 00"), true, 0)); // probe answered
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("07 01 02 01"));
        e->InputData(DeviceFrame(Hex("82 07 01 00"), true, 1));
        QCOMPARE(cap.AckRegs, QList<quint8>{1});
    }
};

TAMREL_TEST_MAIN_CORE(TestKvProtocol)
#include "tst_KvProtocol.moc"

// The frame codec on its own and through the engine's receive path.
#include "KvTestFixture.h"
#include "TestMain.h"

class TestKvCodec : public QObject {
    Q_OBJECT
private slots:
    void crcCheckValue() {
        QCOMPARE(KvCodec::CalcCrc16(QByteArray("123456789")), quint16(0x4B37));
        // The CRC over a body including its own two CRC bytes is 0: that is how it is checked.
        QVERIFY(KvCodec::BodyPassesCrc16(KvCodec::BodyCrc16(Hex("08 03"), 0)));
        QCOMPARE(KvCodec::CalcCrc16(Hex("08 03 00"), 2), KvCodec::CalcCrc16(Hex("08 03")));
    }

    void crcMatchesBitwiseDefinition() {
        // The table-driven CRC agrees with the bit-by-bit rule for every length and alignment.
        const auto bitwise = [](const QByteArray &d) {
            quint16 crc = 0xFFFF;
            for (char c : d) {
                crc ^= quint8(c);
                for (int i = 0; i < 8; ++i)
                    crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
            }
            return crc;
        };
        QByteArray data;
        for (int i = 0; i < 70; ++i) {
            QCOMPARE(KvCodec::CalcCrc16(data), bitwise(data));
            QCOMPARE(KvCodec::CalcCrc16(data.mid(1)), bitwise(data.mid(1)));
            data.append(char(i * 37 + 11));
        }
    }

    void frames_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("crc");
        QTest::addColumn<int>("counter");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("read 3, checksum") << Hex("08 03") << false << 0 << Hex("7E 08 03 F5 7E");
        QTest::newRow("read 3, crc") << Hex("08 03") << true << 0 << Hex("7E 08 03 00 F0 F2 7E");
        QTest::newRow("value 7E escaped")
            << Hex("07 05 02 7E") << false << 0 << Hex("7E 07 05 02 7D 3E 74 7E");
        QTest::newRow("value 7D escaped")
            << Hex("07 05 02 7D") << false << 0 << Hex("7E 07 05 02 7D 3D 75 7E");
        QTest::newRow("payload 7D 3E") << Hex("07 7D 3E") << false << 0 << Hex("7E 07 7D 3D 3E 3E 7E");
    }
    void frames() {
        QFETCH(QByteArray, payload);
        QFETCH(bool, crc);
        QFETCH(int, counter);
        QFETCH(QByteArray, line);
        const QByteArray frame =
            crc ? KvCodec::FrameCrc16(payload, quint8(counter)) : KvCodec::FrameCheckSum(payload);
        QCOMPARE(frame.toHex(' '), line.toHex(' '));
        // And back: the body unescapes to the payload plus its check bytes.
        const QByteArray body = KvCodec::Unescape(frame.mid(1, frame.size() - 2));
        QCOMPARE(body.left(payload.size()), payload);
    }

    void unescapeRules_data() {
        QTest::addColumn<QByteArray>("escaped");
        QTest::addColumn<QByteArray>("plain");
        QTest::newRow("7D 3E") << Hex("7D 3E") << Hex("7E");
        QTest::newRow("7D 3D") << Hex("7D 3D") << Hex("7D");
        QTest::newRow("7D 3D 3E stays 7D 3E") << Hex("7D 3D 3E") << Hex("7D 3E");
        QTest::newRow("lone 7D passes") << Hex("7D 41") << Hex("7D 41");
        QTest::newRow("7D at end") << Hex("41 7D") << Hex("41 7D");
    }
    void unescapeRules() {
        QFETCH(QByteArray, escaped);
        QFETCH(QByteArray, plain);
        QCOMPARE(KvCodec::Unescape(escaped).toHex(' '), plain.toHex(' '));
    }

    void escapeRoundTrip() {
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        all += Hex("7D 3E 7D 3D 7E 7E 7D 7D");
        QCOMPARE(KvCodec::Unescape(KvCodec::Escape(all)), all);
        QVERIFY(!KvCodec::Escape(all).contains(char(0x7E)));
    }

    void takeFrame() {
        QByteArray buffer = Hex("11 22 7E 08 03 F5 7E 7E 7E 01");
        QByteArray body;
        bool skipped = false;
        QVERIFY(KvCodec::TakeFrame(buffer, body, skipped));
        QVERIFY(!skipped);
        QCOMPARE(body, Hex("08 03 F5")); // garbage went with the opening delimiter
        QCOMPARE(buffer, Hex("7E 7E 01"));
        QVERIFY(KvCodec::TakeFrame(buffer, body, skipped));
        QVERIFY(skipped); // adjacent delimiters: the first goes
        QCOMPARE(buffer, Hex("7E 01"));
        QVERIFY(!KvCodec::TakeFrame(buffer, body, skipped));
        QCOMPARE(buffer, Hex("7E 01"));
    }

    void capBufferKeepsNewestFromADelimiter() {
        QByteArray buffer(100, 'x');
        buffer[60] = 0x7E;
        KvCodec::CapBuffer(buffer, 50);
        QCOMPARE(buffer.size(), 40);
        QCOMPARE(buffer[0], char(0x7E));
        QByteArray noDelim(100, 'y');
        KvCodec::CapBuffer(noDelim, 50);
        QCOMPARE(noDelim.size(), 50);
    }

    // The receive path through the engine.
    void receivePath() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        const QByteArray a = DeviceFrame(Hex("07 03 02 11"));
        const QByteArray b = DeviceFrame(Hex("07 04 02 22"));

        e->InputData(Hex("7E") + a); // 7E 7E ... : first delimiter dropped
        QCOMPARE(cap.Received, QList<quint8>{3});

        e->InputData(Hex("55 66") + a + b); // garbage, then two frames in one call
        QCOMPARE(cap.Received, (QList<quint8>{3, 3, 4}));

        e->InputData(b.left(3));
        QCOMPARE(cap.Received.size(), 3);
        e->InputData(b.mid(3)); // the rest of a split frame
        QCOMPARE(cap.Received.size(), 4);

        e->InputData(Hex("7E 00 7E"));       // a one-byte body after the check byte: dropped silently
        e->InputData(Hex("7E 08 03 00 7E")); // fails both checks
        QCOMPARE(cap.Received.size(), 4);
        QCOMPARE(cap.Unknown.size(), 0);
    }

    // Every complete frame that arrives is handled, however many come in one call; only the
    // bytes left over that form no frame are held to the buffer's limit.
    void manyFramesInOneCall_data() {
        QTest::addColumn<int>("garbageBefore");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("frames only") << 0 << QByteArray();
        QTest::newRow("200 KB without delimiter before") << 200000 << QByteArray();
        QTest::newRow("200 KB without delimiter after") << 0 << QByteArray(200000, 'A');
        QTest::newRow("frame that never closes after") << 0 << (Hex("7E") + QByteArray(200000, 'B'));
    }
    void manyFramesInOneCall() {
        QFETCH(int, garbageBefore);
        QFETCH(QByteArray, after);
        TKvCapture cap;
        auto e = MakeEngine(cap);
        const int count = 12000;
        QByteArray line(garbageBefore, 'G');
        for (int i = 0; i < count; ++i)
            line += DeviceFrame(QByteArray("\x07", 1) + char(i % 200) + QByteArray("\x04", 1) +
                                char(i & 0xFF) + char(i >> 8));
        QVERIFY(line.size() - garbageBefore > TKvProtocol::MaxBufferRx);
        e->InputData(line + after);
        QCOMPARE(cap.Received.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(int(cap.Received[i]), i % 200);
        QCOMPARE(e->Registers[(count - 1) % 200].RawData, Hex("DF 2E")); // value 11999
        QCOMPARE(int(e->Registers[0].UpdateCounter), count / 200);
        QVERIFY(e->BufferedBytes() <= TKvProtocol::MaxBufferRx);
        // And the line goes on: a frame after the leftover is understood.
        e->InputData(DeviceFrame(Hex("07 C8 02 2A")));
        QCOMPARE(cap.Received.last(), quint8(200));
    }

    // A handler that feeds more bytes from within (a nested event loop) sees them after the
    // frames that were already waiting: the order of arrival holds.
    void nestedInputKeepsOrder() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->OnReceivedRegister = [&](TKvProtocol *sender, quint8 r) {
            cap.Received << r;
            if (r == 1) sender->InputData(DeviceFrame(Hex("07 09 02 09")) + Hex("7E 07"));
        };
        e->InputData(DeviceFrame(Hex("07 01 02 01")) + DeviceFrame(Hex("07 02 02 02")) +
                     DeviceFrame(Hex("07 03 02 03")));
        QCOMPARE(cap.Received, (QList<quint8>{1, 2, 3, 9}));
        QCOMPARE(e->BufferedBytes(), 2);                      // the start of a frame still waits
        e->InputData(DeviceFrame(Hex("07 04 02 04")).mid(2)); // and its rest
        QCOMPARE(cap.Received, (QList<quint8>{1, 2, 3, 9, 4}));
    }

    void bodyWaitingIsLostWhenNextOpens() {
        // 7E A 7E B 7E: A handled; B and the last delimiter wait, and B is lost when the
        // next frame's opening delimiter arrives right after.
        TKvCapture cap;
        auto e = MakeEngine(cap);
        const QByteArray a = KvCodec::Escape(KvCodec::BodyCheckSum(Hex("07 01 02 01")));
        const QByteArray b = KvCodec::Escape(KvCodec::BodyCheckSum(Hex("07 02 02 02")));
        e->InputData(Hex("7E") + a + Hex("7E") + b + Hex("7E"));
        QCOMPARE(cap.Received, QList<quint8>{1});
        e->InputData(DeviceFrame(Hex("07 03 02 03")));
        QCOMPARE(cap.Received, (QList<quint8>{1, 3}));
    }

    void modeSwitching() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->RequestRegister(0, 0, {}); // register 0 first: no probe, checksum frame
        QVERIFY(!TKvCapture::IsCrcFrame(cap.Frames.last()));
        e->TestPacketCounterTransmit(); // counter 10, reset by the switch below
        e->InputData(DeviceFrame(Hex("07 00 01 41"), true, 0));
        QVERIFY(e->UseCrc16);
        QCOMPARE(e->PacketCounterTransmit, quint8(0));
        QCOMPARE(cap.Received, QList<quint8>{0});
        e->RequestRegister(0, 0, {});
        QVERIFY(TKvCapture::IsCrcFrame(cap.Frames.last()));
        QCOMPARE(cap.Frames.last(), Hex("7E 08 00 00") + QByteArray() + cap.Frames.last().mid(4));
        // A checksum frame in CRC mode switches back and is still handled.
        e->InputData(DeviceFrame(Hex("07 00 01 42")));
        QVERIFY(!e->UseCrc16);
        QCOMPARE(cap.Received.size(), 2);
    }

    void packetCounterGaps() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->InputData(DeviceFrame(Hex("07 00 01 41"), true, 254)); // switch: Prev is 255, so 254 is a gap
        const quint16 afterSwitch = e->PacketCounterErrors;
        QCOMPARE(afterSwitch, quint16(254)); // (254 - 255 - 1) mod 256
        for (int c : {255, 0, 1})
            e->InputData(DeviceFrame(Hex("07 00 01 41"), true, quint8(c)));
        QCOMPARE(e->PacketCounterErrors, afterSwitch);          // 254, 255, 0, 1: no gap
        e->InputData(DeviceFrame(Hex("07 00 01 41"), true, 1)); // same counter again
        QCOMPARE(e->PacketCounterErrors, quint16(afterSwitch + 255));
        QCOMPARE(cap.Received.size(), 5); // every frame still handled
    }

    void crcBodyShorterThanFourDropped() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->UseCrc16 = true;
        // Three bytes whose CRC is 0 with nothing but counter and CRC: nothing to hand on.
        QByteArray body = Hex("05");
        const quint16 crc = KvCodec::CalcCrc16(body);
        body.append(char(crc & 0xFF)).append(char(crc >> 8));
        QVERIFY(KvCodec::BodyPassesCrc16(body));
        e->InputData(Hex("7E") + KvCodec::Escape(body) + Hex("7E"));
        QCOMPARE(cap.Unknown.size(), 0);
        QCOMPARE(e->AnswerError, TKvPError(0));
    }
};

TAMREL_TEST_MAIN_CORE(TestKvCodec)
#include "tst_KvCodec.moc"

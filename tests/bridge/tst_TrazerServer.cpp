// The shared-memory server as the companion in another process sees it: names, the block's
// fields after creation, the stream of register 254, the read handshake and the write request,
// each driven by register values fed to a real engine.
#include "TestMain.h"
#include "TrazerTestSupport.h"

namespace {

QByteArray Bytes(int count, char first) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out.append(char(first + i));
    return out;
}

QString Record(const QByteArray &value) {
    QByteArray header = Hex("7E");
    header.append(char(value.size() & 0xFF)).append(char(value.size() >> 8 & 0xFF));
    header.append(char(value.size() >> 16 & 0xFF)).append(char(value.size() >> 24 & 0xFF));
    return HexOf(header + value);
}

} // namespace

class TestTrazerServer : public QObject {
    Q_OBJECT

    TCompanionSession C;

private slots:
    void initTestCase() { QVERIFY(C.Start()); }
    void cleanupTestCase() { C.Stop(); }

    void publishedName_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("published");
        QTest::newRow("TerminalRig") << "TerminalRig"
                                     << "Rig";
        QTest::newRow("TTerminalRig") << "TTerminalRig"
                                      << "Rig";
        QTest::newRow("any letter case") << "teRMINalRig"
                                         << "Rig";
        QTest::newRow("first occurrence only") << "RigTerminalTerminal"
                                               << "RigTerminal";
        QTest::newRow("class-style T") << "TRig"
                                       << "Rig";
        QTest::newRow("T before lower case stays") << "Tamrel"
                                                   << "Tamrel";
        QTest::newRow("T alone stays") << "T"
                                       << "T";
        QTest::newRow("empty: the engine's class") << ""
                                                   << "KvProtocol";
    }
    void publishedName() {
        QFETCH(QString, given);
        QFETCH(QString, published);
        QCOMPARE(TTrazerServer::RegisterServerNameFor(given), published);
    }

    // The block, the liveness object and the announcement under the published name, and all
    // three gone once the engine is destroyed.
    void namedObjectsAndTheirRemoval_data() {
        QTest::addColumn<QString>("prefix");
        QTest::newRow("TerminalRig") << "Terminal";
        QTest::newRow("TTerminalRig") << "TTerminal";
    }
    void namedObjectsAndTheirRemoval() {
        QFETCH(QString, prefix);
        const QString name = UniqueServerName(QStringLiteral("Rig"));
        auto e = std::make_unique<TServedEngine>(prefix + name);
        QVERIFY(e->Server());
        QCOMPARE(e->Server()->RegisterServerName, name);
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("alive"));
        QCOMPARE(C->Ask("registry " + name), QStringLiteral("present"));
        QCOMPARE(C->Ask("alive " + prefix + name), QStringLiteral("missing"));

        e.reset();
        QCOMPARE(C->Ask("alive " + name), QStringLiteral("missing"));
        QCOMPARE(C->Ask("registry " + name), QStringLiteral("absent"));
        QCOMPARE(C.Open(name), QStringLiteral("missing"));
    }

    void serverRegistersAreDeclared() {
        const QString name = UniqueServerName(QStringLiteral("Decl"));
        TServedEngine e(name, {Declared(5, rtU8)});
        QCOMPARE(e.Engine->Registers[253].RegType, rtU32);
        QVERIFY(e.Engine->Registers[253].Known);
        QCOMPARE(e.Engine->Registers[254].RegType, rtBinStream);
        QVERIFY(e.Engine->Registers[254].Known);
        QVERIFY(e.Engine->Registers[5].Known);
        // A declaration of the application's own replaces the server's.
        TServedEngine mine(UniqueServerName(QStringLiteral("Decl2")), {Declared(253, rtU16)});
        QCOMPARE(mine.Engine->Registers[253].RegType, rtU16);
        QCOMPARE(mine.Engine->Registers[254].RegType, rtBinStream);
    }

    void blockStartsMarkedFull() {
        const QString name = UniqueServerName(QStringLiteral("Full"));
        TServedEngine e(name, {Declared(4, rtU8)});
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("head"), QStringLiteral("lock=0 reg=0 params=0 count=1000000"));
        QCOMPARE(C->Ask("ext"), QStringLiteral("type=1 size=276 command=0 status=0 p1=0 p2=0 p3=0 p4size=0"));

        // Full: the value writes nothing and serves no command.
        QCOMPARE(C->Ask("write 4 7"), QStringLiteral("ok"));
        const QByteArray value = Bytes(10, 'a');
        e.Stream(value);
        QCOMPARE(e.Notified, QList<quint8>{254}); // the application still gets it
        QVERIFY(e.Sent.isEmpty());
        QCOMPARE(C->Ask(QStringLiteral("peek %1 15").arg(BlockBuffer)), QString(30, QLatin1Char('0')));
        QCOMPARE(C->Ask("head"), QStringLiteral("lock=0 reg=4 params=7 count=1000000"));

        // Emptied by the companion: a 10-byte value appends 7E 0A 00 00 00 and the bytes.
        QCOMPARE(C->Ask("setcount 0"), QStringLiteral("ok"));
        e.Stream(value);
        QCOMPARE(C->Ask(QStringLiteral("peek %1 15").arg(BlockBuffer)),
                 QStringLiteral("7e0a000000") + HexOf(value));
        QCOMPARE(C->Ask("head"), QStringLiteral("lock=0 reg=0 params=7 count=15"));
        QCOMPARE(e.Sent, QList<QByteArray>{Hex("07 04 02 07")});
        QCOMPARE(C->Ask("take"), QStringLiteral("records 1 torn 0 ") + HexOf(value));
    }

    void recordsAppendAndRestart_data() {
        QTest::addColumn<int>("used");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("writtenAt");
        QTest::addColumn<int>("countAfter");
        QTest::newRow("999,990 used: restart at 0") << 999990 << 10 << 0 << 15;
        QTest::newRow("one byte too long: restart at 0") << 999986 << 10 << 0 << 15;
        QTest::newRow("fits the end exactly") << 999985 << 10 << 999985 << 1000000;
        QTest::newRow("appended behind others") << 300 << 64 << 300 << 369;
        QTest::newRow("empty value") << 100 << 0 << 100 << 105;
    }
    void recordsAppendAndRestart() {
        QFETCH(int, used);
        QFETCH(int, length);
        QFETCH(int, writtenAt);
        QFETCH(int, countAfter);
        const QString name = UniqueServerName(QStringLiteral("Wrap"));
        TServedEngine e(name);
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask(QStringLiteral("setcount %1").arg(used)), QStringLiteral("ok"));
        const QByteArray value = Bytes(length, 'A');
        e.Stream(value);
        QCOMPARE(C->Ask("count"), QString::number(countAfter));
        QCOMPARE(C->Ask(QStringLiteral("peek %1 %2").arg(BlockBuffer + writtenAt).arg(5 + length)),
                 Record(value));
        if (countAfter == 1000000) {
            // Exactly full: recording stops until the companion empties the buffer.
            e.Stream(Bytes(4, 'z'));
            QCOMPARE(C->Ask("count"), QStringLiteral("1000000"));
            QCOMPARE(C->Ask(QStringLiteral("peek %1 9").arg(BlockBuffer)), QString(18, QLatin1Char('0')));
        }
    }

    void readHandshake_data() {
        QTest::addColumn<int>("reg");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("presetAnswer"); // Parameter4Size and Parameter4Buffer before
        QTest::addColumn<QString>("expected");
        QTest::newRow("u16 0x0102 is 258") << 3 << Hex("07 03 04 02 01") << ""
                                           << "status=3 type=4 size=8 value=258";
        QTest::newRow("s32 -5") << 7 << Hex("07 07 07 FB FF FF FF") << ""
                                << "status=3 type=7 size=8 value=-5";
        QTest::newRow("float 1.5") << 9 << Hex("07 09 08 00 00 C0 3F") << ""
                                   << "status=3 type=8 size=8 value=1.5";
        QTest::newRow("u8 44") << 5 << Hex("07 05 02 2C") << ""
                               << "status=3 type=2 size=8 value=44";
        // 7.25 as a double, with a size of 3: a string answer leaves both as they were.
        QTest::newRow("string leaves the answer") << 0 << Hex("07 00 01 41 42") << "030000000000001d40"
                                                  << "status=3 type=1 size=3 value=7.25";
    }
    void readHandshake() {
        QFETCH(int, reg);
        QFETCH(QByteArray, answer);
        QFETCH(QString, presetAnswer);
        QFETCH(QString, expected);
        const QString name = UniqueServerName(QStringLiteral("Read"));
        TServedEngine e(name);
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        if (!presetAnswer.isEmpty())
            QCOMPARE(C->Ask(QStringLiteral("poke %1 %2").arg(BlockExt + 19).arg(presetAnswer)),
                     QStringLiteral("ok"));
        QCOMPARE(C->Ask(QStringLiteral("read %1").arg(reg)), QStringLiteral("ok"));
        QVERIFY(e.Sent.isEmpty()); // served at the pace of the device's traffic

        e.Traffic();
        QCOMPARE(e.Sent, QList<QByteArray>{QByteArray::fromHex("08") + char(reg)});
        QVERIFY(C->Ask("ext").contains(QStringLiteral("command=1 status=2 p1=%1 ").arg(reg)));
        e.Traffic(); // another register: still waiting
        QVERIFY(C->Ask("answer").startsWith(QStringLiteral("status=2 ")));
        QCOMPARE(e.Sent.size(), 1);

        e.Feed(answer);
        QCOMPARE(C->Ask("answer"), expected);
        QCOMPARE(e.Notified.last(), quint8(reg));
        e.Feed(answer); // served once
        QCOMPARE(e.Sent.size(), 1);
    }

    void writeRequest_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<uint>("param");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("u8 300 stores 2C") << int(rtU8) << 300u << Hex("07 05 02 2C");
        QTest::newRow("u16 low 16 bits") << int(rtU16) << 0x12345u << Hex("07 05 04 45 23");
        QTest::newRow("u32 all ones") << int(rtU32) << 0xFFFFFFFFu << Hex("07 05 06 FF FF FF FF");
        QTest::newRow("binary takes the 4 bytes")
            << int(rtBinary) << 0x04030201u << Hex("07 05 00 01 02 03 04");
        QTest::newRow("string takes the 4 bytes")
            << int(rtString) << 0x44434241u << Hex("07 05 01 41 42 43 44");
        QTest::newRow("stream takes the 4 bytes") << int(rtBinStream) << 0x0Au << Hex("07 05 0A 0A 00 00 00");
        QTest::newRow("float 3") << int(rtFloat) << 3u << Hex("07 05 08 00 00 40 40");
        QTest::newRow("double 2") << int(rtDouble) << 2u << Hex("07 05 09 00 00 00 00 00 00 00 40");
    }
    void writeRequest() {
        QFETCH(int, type);
        QFETCH(uint, param);
        QFETCH(QByteArray, sent);
        const QString name = UniqueServerName(QStringLiteral("Write"));
        TServedEngine e(name, {Declared(5, TKvRegisterType(type))});
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask(QStringLiteral("write 5 %1").arg(param)), QStringLiteral("ok"));
        QVERIFY(e.Sent.isEmpty());
        e.Traffic();
        QCOMPARE(e.Sent, QList<QByteArray>{sent});
        QCOMPARE(e.Engine->Registers[5].RawData, sent.mid(3));
        QVERIFY(C->Ask("head").contains(QStringLiteral(" reg=0 ")));
        e.Traffic();
        QCOMPARE(e.Sent.size(), 1);
    }

    void registerZeroIsNeverWritten() {
        const QString name = UniqueServerName(QStringLiteral("Zero"));
        TServedEngine e(name, {Declared(0, rtString)});
        QCOMPARE(C.Open(name), QStringLiteral("ok 1000289"));
        QCOMPARE(C->Ask("write 0 5"), QStringLiteral("ok"));
        e.Traffic();
        e.Traffic();
        QVERIFY(e.Sent.isEmpty());
    }
};

TAMREL_TEST_MAIN_CORE(TestTrazerServer)
#include "tst_TrazerServer.moc"

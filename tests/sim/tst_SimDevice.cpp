// The simulated tester in raw frames on a manual clock: register commands and their
// refusals, answer formats, unasked values, faults and timing options, boot loader, blocks
// and the frame log.
#include "SimTestFixture.h"
#include "TestMain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

class TestSimDevice : public QObject {
    Q_OBJECT

private slots:
    void identificationInTheRequestsFormat_data() {
        QTest::addColumn<bool>("crc");
        QTest::newRow("checksum") << false;
        QTest::newRow("crc") << true;
    }
    void identificationInTheRequestsFormat() {
        QFETCH(bool, crc);
        TSimBench b;
        b.Request(Hex("08 00"), crc, 0);
        b.Request(Hex("08 00"), crc, 1);
        QCOMPARE(b.Cap.Frames.size(), 2);
        const QByteArray expected = Hex("07 00 01") + QByteArray("Tavik TAMREL sim 1.0");
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(b.Cap.Frames[i].Payload, expected);
            QCOMPARE(b.Cap.Frames[i].Crc, crc);
            if (crc) // the device's own counter, from 0
                QCOMPARE(int(b.Cap.Frames[i].Counter), i);
        }
        QCOMPARE(int(b.Dev->PacketCounter()), crc ? 2 : 0);
    }

    void requestsAndRefusals_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("read duty") << Hex("08 05") << Hex("07 05 04 00 00");
        QTest::newRow("read start/stop") << Hex("08 01") << Hex("07 01 02 00");
        QTest::newRow("read unknown register") << Hex("08 11") << Hex("82 08 11 12");
        QTest::newRow("read without register") << Hex("08") << Hex("82 08 00 03");
        QTest::newRow("write duty 40") << Hex("07 05 04 28 00") << Hex("82 07 05 00");
        QTest::newRow("write identification") << Hex("07 00 01 41") << Hex("82 07 00 12");
        QTest::newRow("write measured output") << Hex("07 02 07 00 00 00 00") << Hex("82 07 02 12");
        QTest::newRow("write unknown register") << Hex("07 11 02 00") << Hex("82 07 11 12");
        QTest::newRow("write with wrong type") << Hex("07 05 02 28") << Hex("82 07 05 10");
        QTest::newRow("write with wrong size") << Hex("07 05 04 28") << Hex("82 07 05 10");
        QTest::newRow("duty above 100") << Hex("07 05 04 65 00") << Hex("82 07 05 11");
        QTest::newRow("pump type 3") << Hex("07 0A 04 03 00") << Hex("82 07 0A 11");
        QTest::newRow("write too short") << Hex("07 05") << Hex("82 07 05 03");
        QTest::newRow("new-set write while off") << Hex("12 05 04 28 00") << Hex("82 12 05 02");
        QTest::newRow("unknown command") << Hex("30 05") << Hex("82 30 05 02");
        QTest::newRow("address prefix echoed") << Hex("AD 03 08 01") << Hex("AD 03 07 01 02 00");
    }
    void requestsAndRefusals() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        TSimBench b;
        b.Request(request);
        QCOMPARE(b.Cap.Payloads(), QVector<QByteArray>{answer});
    }

    void writeIsStoredAndReadBack() {
        TSimBench b;
        b.Request(Hex("07 06 04 B8 0B")); // 3000 mV
        b.Request(Hex("08 06"));
        QCOMPARE(b.Cap.Payloads(), (QVector<QByteArray>{Hex("82 07 06 00"), Hex("07 06 04 B8 0B")}));
        QCOMPARE(b.Dev->RegisterInt(6), 3000);
        b.Dev->SetIdent("Tavik other");
        QCOMPARE(b.Dev->Register(0), QByteArray("Tavik other"));
    }

    void newCommandSet() {
        TSimOptions o;
        o.NewCommands = true;
        TSimBench b(o);
        b.Request(Hex("08 05"));
        b.Request(Hex("13 05"));
        b.Request(Hex("12 05 04 28 00"));
        b.Request(Hex("07 05 04 29 00"));
        b.Request(Hex("13 20"));
        QCOMPARE(b.Cap.Payloads(),
                 (QVector<QByteArray>{Hex("12 05 04 00 00"), Hex("12 05 04 00 00"), Hex("94 12 05 00"),
                                      Hex("94 07 05 00"), Hex("94 13 20 12")}));
        QCOMPARE(b.Dev->RegisterInt(5), 41);
    }

    void checksumOnlyIgnoresCrcFrames() {
        TSimOptions o;
        o.ChecksumOnly = true;
        TSimBench b(o);
        b.Request(Hex("08 01"), true, 0); // the host's first-contact probe
        QVERIFY(b.Cap.Raw.isEmpty());
        b.Request(Hex("08 01"));
        QCOMPARE(b.Cap.Payloads(), QVector<QByteArray>{Hex("07 01 02 00")});
        QCOMPARE(b.Cap.Frames[0].Crc, false);
    }

    void garbledFramesAreDroppedSilently() {
        TSimBench b;
        QByteArray bad = KvCodec::FrameCheckSum(Hex("08 00"));
        bad[2] = char(bad[2] ^ 0x01);
        b.Dev->Receive(bad);
        b.Dev->Receive(Hex("7E 08 7E"));    // a one-byte body
        b.Dev->Receive(Hex("11 22 7E 7E")); // noise and an empty frame
        QVERIFY(b.Cap.Raw.isEmpty());
        const QVector<TSimFrameRecord> log = b.Dev->FrameLog();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0].Mode, QString("bad"));
        // A frame split over two chunks is answered once it is complete.
        const QByteArray frame = KvCodec::FrameCheckSum(Hex("08 03"));
        b.Dev->Receive(frame.left(3));
        QVERIFY(b.Cap.Raw.isEmpty());
        b.Dev->Receive(frame.mid(3));
        QCOMPARE(b.Cap.Payloads(), QVector<QByteArray>{Hex("07 03 02 00")});
    }

    void hostCounterGapsAreCounted() {
        TSimBench b;
        b.Request(Hex("08 01"), true, 0);
        b.Request(Hex("08 01"), true, 1);
        b.Request(Hex("08 01"), true, 11); // the host skipped ten counters
        b.Request(Hex("08 01"), true, 12);
        QCOMPARE(b.Dev->HostCounterGaps(), 1);
        QCOMPARE(b.Cap.Frames.size(), 4);
    }

    void streamingFollowsRegister1() {
        TSimBench b;
        b.RunTo(300);
        QVERIFY(b.Cap.Raw.isEmpty()); // stopped: nothing unasked
        b.Request(Hex("07 01 02 01"));
        QCOMPARE(b.Cap.Payloads(), QVector<QByteArray>{Hex("82 07 01 00")});
        b.Cap.Clear();
        b.RunTo(399);
        QVERIFY(b.Cap.Frames.isEmpty());
        b.RunTo(400);
        QList<int> regs;
        for (const TSimFrame &f : b.Cap.Frames) {
            QCOMPARE(int(quint8(f.Payload[0])), 7);
            regs << quint8(f.Payload[1]);
        }
        QCOMPARE(regs, (QList<int>{2, 8, 7, 11, 13}));
        b.RunTo(1300);
        QCOMPARE(b.Cap.Frames.size(), 50); // every 100 ms
        b.Request(Hex("07 01 02 00"));
        b.Cap.Clear();
        b.RunTo(2000);
        QVERIFY(b.Cap.Raw.isEmpty());
    }

    void streamingUsesTheLastFormatAndPeriod() {
        TSimOptions o;
        o.AutoSendPeriodMs = 40;
        TSimBench b(o);
        b.Request(Hex("07 01 02 01"), true, 0);
        b.Cap.Clear();
        b.RunTo(40);
        QCOMPARE(b.Cap.Frames.size(), 5);
        for (const TSimFrame &f : b.Cap.Frames)
            QVERIFY(f.Crc);
        QCOMPARE(int(b.Cap.Frames.last().Counter), 5); // the acknowledgement had counter 0

        o.AutoSendPeriodMs = 0;
        TSimBench none(o);
        none.Request(Hex("07 01 02 01"));
        none.Cap.Clear();
        none.RunTo(1000);
        QVERIFY(none.Cap.Raw.isEmpty());
    }

    void nothingIsSentWithoutAHost() {
        TSimBench b;
        b.Request(Hex("07 01 02 01"));
        b.Cap.Clear();
        b.Dev->SetHostPresent(false);
        QCOMPARE(b.Dev->RegisterInt(1), 0); // the host went away: the tester stops
        b.Request(Hex("08 00"));
        b.RunTo(500);
        QVERIFY(b.Cap.Raw.isEmpty());
        b.Dev->SetHostPresent(true);
        b.Request(Hex("08 03"));
        QCOMPARE(b.Cap.Payloads(), QVector<QByteArray>{Hex("07 03 02 00")});
    }

    void pendingAnswersAreDiscardedWhenTheHostLeaves() {
        TSimOptions o;
        o.AnswerDelayMs = 50;
        TSimBench b(o);
        b.Request(Hex("08 03"));
        b.RunTo(20);
        b.Dev->SetHostPresent(false);
        b.Dev->SetHostPresent(true);
        b.RunTo(200);
        QVERIFY(b.Cap.Raw.isEmpty());
    }

    void answerDelay() {
        TSimOptions o;
        o.AnswerDelayMs = 30;
        TSimBench b(o);
        b.Request(Hex("08 03"));
        b.At(29);
        QVERIFY(b.Cap.Raw.isEmpty());
        QVERIFY(b.Dev->NextDueMs() <= 1);
        b.At(30);
        QCOMPARE(b.Cap.Frames.size(), 1);
    }

    void lineRateThrottles() {
        TSimOptions o;
        o.LineRate = 1000; // 100 bytes a second: 10 ms per byte
        TSimBench b(o);
        b.Request(Hex("08 03")); // 5 bytes on the line: arrives after 50 ms
        b.Request(Hex("08 03"));
        // Each answer is 7 bytes (70 ms), the second waits for the first.
        b.RunTo(119);
        QVERIFY(b.Cap.Raw.isEmpty());
        b.At(120);
        QCOMPARE(b.Cap.Frames.size(), 1);
        b.RunTo(189);
        QCOMPARE(b.Cap.Frames.size(), 1);
        b.At(190);
        QCOMPARE(b.Cap.Frames.size(), 2);
    }

    void lineRateQueuesRequestsSentTogether() {
        TSimOptions o;
        o.LineRate = 1000; // 10 ms per byte
        TSimBench b(o);
        // Two writes sent at once: 8 bytes each, so they arrive at 80 and 160 ms; their
        // 7-byte acknowledgements take 70 ms each on the way back.
        b.Request(Hex("07 05 04 28 00"));
        b.Request(Hex("07 05 04 29 00"));
        b.RunTo(149);
        QVERIFY(b.Cap.Frames.isEmpty());
        b.At(150);
        QCOMPARE(b.Cap.Frames.size(), 1);
        b.RunTo(229);
        QCOMPARE(b.Cap.Frames.size(), 1);
        b.At(230);
        QCOMPARE(b.Cap.Frames.size(), 2);
    }

    void faults_data() {
        QTest::addColumn<int>("dropEvery");
        QTest::addColumn<int>("garbageEvery");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("answers");
        QTest::addColumn<bool>("extraBytes");
        QTest::newRow("none") << 0 << 0 << false << 6 << false;
        QTest::newRow("drop every 2nd") << 2 << 0 << false << 3 << false;
        QTest::newRow("drop every 3rd") << 3 << 0 << false << 4 << false;
        QTest::newRow("garbage every 2nd") << 0 << 2 << false << 6 << true;
        QTest::newRow("silent") << 0 << 0 << true << 0 << false;
    }
    void faults() {
        QFETCH(int, dropEvery);
        QFETCH(int, garbageEvery);
        QFETCH(bool, silent);
        QFETCH(int, answers);
        QFETCH(bool, extraBytes);
        TSimOptions o;
        o.DropEveryN = dropEvery;
        o.GarbageEveryN = garbageEvery;
        o.Silent = silent;
        TSimBench b(o);
        for (int i = 0; i < 6; ++i)
            b.Request(Hex("08 03"));
        QCOMPARE(b.Cap.Frames.size(), answers);
        qsizetype frameBytes = 0;
        for (const TSimFrame &f : b.Cap.Frames)
            frameBytes += KvCodec::FrameCheckSum(f.Payload).size();
        QCOMPARE(b.Cap.Raw.size() > frameBytes, extraBytes);
    }

    void droppedCrcAnswerLeavesAGapInTheCounter() {
        TSimOptions o;
        o.DropEveryN = 2;
        TSimBench b(o);
        for (int i = 0; i < 3; ++i)
            b.Request(Hex("08 03"), true, quint8(i));
        QCOMPARE(b.Cap.Frames.size(), 2);
        QCOMPARE(int(b.Cap.Frames[0].Counter), 0);
        QCOMPARE(int(b.Cap.Frames[1].Counter), 2);
    }

    void silentTesterStillKeepsItsPeriod() {
        TSimOptions o;
        o.Silent = true;
        TSimBench b(o);
        b.Dev->SetRegisterInt(1, 1); // streaming on, but nothing may go out
        b.RunTo(1000);
        QVERIFY(b.Cap.Raw.isEmpty());
        QVERIFY(b.Dev->NextDue() > 0); // a transport waiting for it does not spin
    }

    void dieAfter() {
        TSimOptions o;
        o.DieAfterMs = 100;
        TSimBench b(o);
        b.Request(Hex("08 03"));
        QCOMPARE(b.Cap.Frames.size(), 1);
        b.RunTo(99);
        QVERIFY(!b.Dev->Dead());
        b.At(100);
        QVERIFY(b.Dev->Dead());
        b.Request(Hex("08 03"));
        b.RunTo(300);
        QCOMPARE(b.Cap.Frames.size(), 1);
    }

    void bootLoader() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        TSimOptions o;
        o.ImageOutPath = dir.filePath("image.bin");
        TSimBench b(o);
        const QByteArray info = Hex("52 34 12 40 00 80 00") + QByteArray("TAMREL-BL");
        b.Request(Hex("52"));
        b.Request(Hex("53 2C 01 00 00")); // 300 bytes
        QCOMPARE(b.Cap.Payloads(), (QVector<QByteArray>{info, info}));
        QCOMPARE(b.Dev->AnnouncedImageSize(), 300);
        b.Cap.Clear();

        QByteArray image(300, 0);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7 + 3);
        for (int page = 0; page < 3; ++page)
            b.Request(Hex("1A") + char(page) + char(0) + image.mid(page * 128, 128));
        QCOMPARE(b.Cap.Payloads(), (QVector<QByteArray>{Hex("1A 00"), Hex("1A 00"), Hex("1A 00")}));
        QCOMPARE(b.Dev->ReceivedImage(), image);
        QCOMPARE(b.Dev->PagesReceived(), 3);
        QFile f(o.ImageOutPath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), image);
    }

    void pageRefusals_data() {
        QTest::addColumn<int>("failPage");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("configured failure") << 1 << Hex("1A 01 00 AA BB") << Hex("1A 05");
        QTest::newRow("other page accepted") << 1 << Hex("1A 02 00 AA BB") << Hex("1A 00");
        QTest::newRow("page larger than a flash page")
            << -1 << (Hex("1A 00 00") + QByteArray(129, 'x')) << Hex("1A 03");
        QTest::newRow("page beyond the flash") << -1 << Hex("1A 00 02 AA") << Hex("1A 03");
        QTest::newRow("page without data") << -1 << Hex("1A 00 00") << Hex("1A 03");
    }
    void pageRefusals() {
        QFETCH(int, failPage);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        TSimOptions o;
        o.FailPageIndex = failPage;
        TSimBench b(o);
        b.Request(request);
        QCOMPARE(b.Cap.Payloads(), QVector<QByteArray>{status});
        QCOMPARE(b.Dev->PagesReceived(), status == Hex("1A 00") ? 1 : 0);
    }

    void loaderOptions() {
        TSimOptions o;
        o.LoaderIdent = "BL2";
        o.DeviceId = 0xBEEF;
        o.FlashSizeKiB = 256;
        o.PageSize = 64;
        TSimBench b(o);
        b.Request(Hex("52"));
        QCOMPARE(b.Cap.Payloads(), QVector<QByteArray>{Hex("52 EF BE 00 01 40 00") + QByteArray("BL2")});
    }

    // A loader slow to wake leaves the first start requests unanswered and answers the
    // others late; each answered start begins a new image.
    void slowLoader() {
        TSimOptions o;
        o.LoaderIgnoreStarts = 2;
        o.LoaderAnswerDelayMs = 120;
        TSimBench b(o);
        b.Request(Hex("1A 00 00 AA"));
        b.At(1);
        QCOMPARE(b.Dev->PagesReceived(), 1);
        b.Cap.Clear();
        b.Request(Hex("52"));
        b.At(50);
        b.Request(Hex("52"));
        b.At(100);
        b.Request(Hex("52"));
        b.RunTo(219);
        QVERIFY(b.Cap.Frames.isEmpty());
        QCOMPARE(b.Dev->PagesReceived(), 0);
        QVERIFY(b.Dev->ReceivedImage().isEmpty());
        b.At(220);
        QCOMPARE(b.Cap.Payloads(),
                 QVector<QByteArray>{Hex("52 34 12 40 00 80 00") + QByteArray("TAMREL-BL")});
    }

    // After an update the tester reports the name the new image carries in its first bytes,
    // once the host has let go; an image without a name leaves register 0 alone.
    void newFirmwareNamesItself_data() {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QByteArray>("ident");
        QTest::newRow("named") << QByteArray("Tavik TAMREL 2.0\0\x01\x02", 19)
                               << QByteArray("Tavik TAMREL 2.0");
        QTest::newRow("no name") << QByteArray("\x01\x02\x03\0", 4) << QByteArray("Tavik TAMREL sim 1.0");
        QTest::newRow("no end") << QByteArray("Tavik TAMREL 3.0") << QByteArray("Tavik TAMREL sim 1.0");
    }
    void newFirmwareNamesItself() {
        QFETCH(QByteArray, image);
        QFETCH(QByteArray, ident);
        TSimBench b;
        b.Request(Hex("52"));
        b.Request(Hex("1A 00 00") + image);
        QCOMPARE(b.Cap.Payloads().last(), Hex("1A 00"));
        QCOMPARE(b.Dev->Register(0), QByteArray("Tavik TAMREL sim 1.0"));
        b.Dev->SetHostPresent(false);
        QCOMPARE(b.Dev->Register(0), ident);
    }

    void blocks() {
        TSimBench b;
        b.Request(Hex("11 02 00 10 01 02 03"));
        b.Request(Hex("10 02 FF 0F 05 00"));
        b.Request(Hex("15 02 01 10 01 00"));
        b.Request(Hex("10 02 00 10 03 00"));
        QCOMPARE(b.Cap.Payloads(),
                 (QVector<QByteArray>{Hex("11 02 00 10 03 00"), Hex("10 02 FF 0F 00 01 02 03 00"),
                                      Hex("15 02 01 10 01 00"), Hex("10 02 00 10 01 00 03")}));
    }

    void frameLog() {
        QTemporaryDir dir;
        TSimOptions o;
        o.FrameLogPath = dir.filePath("frames.jsonl");
        TSimBench b(o);
        b.Request(Hex("08 05"), true, 0);
        const QVector<TSimFrameRecord> log = b.Dev->FrameLog();
        QCOMPARE(log.size(), 2);
        QVERIFY(log[0].Received);
        QVERIFY(!log[1].Received);
        QCOMPARE(log[1].Mode, QString("crc"));
        QCOMPARE(log[1].Command, 7);
        QCOMPARE(log[1].Register, 5);
        QCOMPARE(log[0].RawHex(), QString::fromLatin1(KvCodec::FrameCrc16(Hex("08 05"), 0).toHex(' ')));

        QFile f(o.FrameLogPath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        const QJsonObject rx = QJsonDocument::fromJson(lines[0]).object();
        QCOMPARE(rx["dir"].toString(), QString("rx"));
        QCOMPARE(rx["mode"].toString(), QString("crc"));
        QCOMPARE(rx["cmd"].toInt(), 8);
        QCOMPARE(rx["reg"].toInt(), 5);
        QCOMPARE(rx["hex"].toString(), log[0].RawHex());
        QVERIFY(rx.contains("t"));
        QCOMPARE(QJsonDocument::fromJson(lines[1]).object()["dir"].toString(), QString("tx"));

        b.Dev->ClearFrameLog();
        QVERIFY(b.Dev->FrameLog().isEmpty());
    }

    void measuredValuesStayInRange() {
        TSimBench b;
        b.Request(Hex("07 04 02 01")); // manual control
        QList<int> outputs;
        for (int duty : {0, 30, 60, 100, 70, 20, 0}) {
            QByteArray w = Hex("07 05 04");
            w.append(char(duty)).append(char(0));
            b.Request(w);
            b.Request(Hex("07 09 04") + char(duty) + char(0));
            for (int step = 0; step < 10; ++step) {
                b.At(b.Now + 50);
                for (quint8 r : {2, 11}) {
                    const qint64 v = b.Dev->RegisterInt(r);
                    QVERIFY2(v >= 0 && v <= 5000, qPrintable(QString::number(v)));
                }
                for (quint8 r : {8, 13})
                    QVERIFY(b.Dev->RegisterInt(r) >= 0 && b.Dev->RegisterInt(r) <= 10000);
                QVERIFY(qAbs(b.Dev->RegisterInt(7) - 250) <= 30);
            }
            outputs << int(b.Dev->RegisterInt(2));
        }
        // The output follows the duty both ways.
        QVERIFY(outputs[3] > outputs[1] + 1000);
        QVERIFY(outputs[6] < outputs[4] - 1000);
        QCOMPARE(b.Dev->RegisterType(2), quint8(7));
    }

    void pinnedMeasuredValueAndImmediateSend() {
        TSimBench b;
        b.Dev->SetRegisterInt(7, -15); // -1.5 °C, for a read-out test
        b.RunTo(500);
        QCOMPARE(b.Dev->RegisterInt(7), -15);
        b.Dev->SendRegister(7);
        QCOMPARE(b.Cap.Payloads(), QVector<QByteArray>{Hex("07 07 07 F1 FF FF FF")});
        b.Dev->ReleaseRegister(7);
        b.RunTo(600);
        QVERIFY(qAbs(b.Dev->RegisterInt(7) - 250) < 30);
        b.Dev->SetHostPresent(false);
        b.Cap.Clear();
        b.Dev->SendRegister(7);
        QVERIFY(b.Cap.Raw.isEmpty());
    }

    void outputFollowsSetInputVoltageWithoutManualControl() {
        TSimBench b;
        b.Request(Hex("07 06 04 D0 07")); // 2000 mV
        b.RunTo(1000);
        QVERIFY(qAbs(b.Dev->RegisterInt(2) - 2000) <= 5);
        b.Request(Hex("07 0C 04 B8 0B")); // channel 2: 3000 mV
        b.RunTo(2000);
        QVERIFY(qAbs(b.Dev->RegisterInt(11) - 3000) <= 5);
    }

    void optionsFromTheCommandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::newRow("defaults") << QStringList{} << true;
        QTest::newRow("all") << QStringList{"--ident",
                                            "Tavik X",
                                            "--checksum-only",
                                            "--new-commands",
                                            "--auto-send-period",
                                            "50",
                                            "--line-rate",
                                            "115200",
                                            "--answer-delay",
                                            "7",
                                            "--silent",
                                            "--drop-every",
                                            "4",
                                            "--garbage-every",
                                            "9",
                                            "--text-reads-of",
                                            "2",
                                            "--text-reads-every",
                                            "3",
                                            "--fail-page",
                                            "2",
                                            "--fail-page-status",
                                            "6",
                                            "--loader-ident",
                                            "BL",
                                            "--device-id",
                                            "0xBEEF",
                                            "--flash-size",
                                            "128",
                                            "--page-size",
                                            "256",
                                            "--loader-ignore-starts",
                                            "2",
                                            "--loader-delay",
                                            "120",
                                            "--die-after",
                                            "3000",
                                            "--frame-log",
                                            "/tmp/f.jsonl",
                                            "--image-out",
                                            "/tmp/i.bin"}
                             << true;
        QTest::newRow("not a number") << QStringList{"--line-rate", "fast"} << false;
        QTest::newRow("status out of range") << QStringList{"--fail-page-status", "256"} << false;
        QTest::newRow("unknown option") << QStringList{"--colour"} << false;
        QTest::newRow("stray argument") << QStringList{"extra"} << false;
    }
    void optionsFromTheCommandLine() {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        TSimOptions o;
        QString error;
        QCOMPARE(ParseSimOptions(QStringList{"tamrel-sim"} + args, o, &error), ok);
        QCOMPARE(error.isEmpty(), ok);
        if (QByteArray(QTest::currentDataTag()) == "all") {
            QCOMPARE(o.Ident, QString("Tavik X"));
            QVERIFY(o.ChecksumOnly && o.NewCommands && o.Silent);
            QCOMPARE(o.AutoSendPeriodMs, 50);
            QCOMPARE(o.LineRate, 115200);
            QCOMPARE(o.AnswerDelayMs, 7);
            QCOMPARE(o.DropEveryN, 4);
            QCOMPARE(o.GarbageEveryN, 9);
            QCOMPARE(o.TextReadsOf, 2);
            QCOMPARE(o.TextReadsEveryN, 3);
            QCOMPARE(o.FailPageIndex, 2);
            QCOMPARE(int(o.FailPageStatus), 6);
            QCOMPARE(o.LoaderIdent, QString("BL"));
            QCOMPARE(int(o.DeviceId), 0xBEEF);
            QCOMPARE(int(o.FlashSizeKiB), 128);
            QCOMPARE(int(o.PageSize), 256);
            QCOMPARE(o.LoaderIgnoreStarts, 2);
            QCOMPARE(o.LoaderAnswerDelayMs, 120);
            QCOMPARE(o.DieAfterMs, 3000);
            QCOMPARE(o.FrameLogPath, QString("/tmp/f.jsonl"));
            QCOMPARE(o.ImageOutPath, QString("/tmp/i.bin"));
        } else if (ok) {
            QCOMPARE(o.Ident, TSimOptions().Ident);
            QCOMPARE(o.AutoSendPeriodMs, 100);
        }
    }
};

TAMREL_TEST_MAIN_CORE(TestSimDevice)
#include "tst_SimDevice.moc"

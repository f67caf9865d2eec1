// Boot-loader exchange, firmware paging and block commands.
#include "KvTestFixture.h"
#include "TestMain.h"

class TestKvBlocks : public QObject {
    Q_OBJECT
private slots:
    void firmwareStart() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->FirmwareStart({}, true, 70000);
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("53 70 11 01 00"));
        e->FirmwareStart({}, false, 70000);
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("52"));
    }

    void loaderInformation() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        QList<QList<QVariant>> calls;
        e->FirmwareStart(
            [&](quint16 id, quint16 flash, quint16 page, const QByteArray &ident) {
                calls << QList<QVariant>{id, flash, page, ident};
            },
            false, 0);
        e->InputData(DeviceFrame(Hex("52 34 12 00 01 80 00") + "BL-01"));
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0], (QList<QVariant>{0x1234, 256, 128, QByteArray("BL-01")}));
        // Without text the numbers are not taken; the handler gets the previous ones.
        e->InputData(DeviceFrame(Hex("52 01 00 02 00 40 00")));
        QCOMPARE(calls[1], (QList<QVariant>{0x1234, 256, 128, QByteArray()}));
    }

    void firmwarePages() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->InputData(DeviceFrame(Hex("52 34 12 40 00 80 00") + "BL-01"));
        QByteArray image(300, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7);
        QList<QList<quint32>> progress;
        e->FirmwareWrite(image, [&](quint8 err, quint32 pos, quint32 size) {
            progress << QList<quint32>{err, pos, size};
        });
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("1A 00 00") + image.left(128));
        e->InputData(DeviceFrame(Hex("1A 00")));
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("1A 01 00") + image.mid(128, 128));
        e->InputData(DeviceFrame(Hex("1A 00")));
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("1A 02 00") + image.mid(256, 44));
        const int sent = cap.Frames.size();
        e->InputData(DeviceFrame(Hex("1A 00")));
        QCOMPARE(cap.Frames.size(), sent); // after the last page nothing more
        QCOMPARE(progress, (QList<QList<quint32>>{{0, 128, 300}, {0, 256, 300}, {0, 384, 300}}));
    }

    void pageRefused() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->InputData(DeviceFrame(Hex("52 34 12 40 00 80 00") + "BL-01"));
        QList<QList<quint32>> progress;
        e->FirmwareWrite(QByteArray(300, 'x'), [&](quint8 err, quint32 pos, quint32 size) {
            progress << QList<quint32>{err, pos, size};
        });
        e->InputData(DeviceFrame(Hex("1A 00")));
        const int sent = cap.Frames.size();
        e->InputData(DeviceFrame(Hex("1A 05")));
        QCOMPARE(cap.Frames.size(), sent);
        QCOMPARE(e->CurrentPageIndex(), quint32(1));
        QCOMPARE(progress.last(), (QList<quint32>{5, 128, 300}));
        e->InputData(DeviceFrame(Hex("1A"))); // a page status without status byte: not read
        QCOMPARE(progress.size(), 2);
    }

    // The page index on the line is 16 bits wide: 65,536 pages are the most an image can
    // have. Such an image ends with its last page (index 65535); one page more is refused.
    void pageCountLimit_data() {
        QTest::addColumn<int>("pages");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("65,535 pages") << 65535 << true;
        QTest::newRow("65,536 pages") << 65536 << true;
        QTest::newRow("65,537 pages") << 65537 << false;
    }
    void pageCountLimit() {
        QFETCH(int, pages);
        QFETCH(bool, accepted);
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->InputData(DeviceFrame(Hex("52 34 12 00 01 01 00") + "BL-01")); // one byte per page
        QCOMPARE(e->FlashPageSize(), quint16(1));
        QByteArray image(pages, '\0');
        for (int i = 0; i < pages; ++i)
            image[i] = char(i * 13 + (i >> 8));
        QList<QList<quint32>> progress;
        const auto record = [&](quint8 err, quint32 pos, quint32 size) {
            progress << QList<quint32>{err, pos, size};
        };
        if (!accepted) {
            QVERIFY_THROWS_EXCEPTION(EKvProtocol, e->FirmwareWrite(image, record));
            QCOMPARE(cap.Frames.size(), 0);
            return;
        }
        e->FirmwareWrite(image, record);
        const QByteArray status = DeviceFrame(Hex("1A 00"));
        for (int page = 0; page < pages; ++page) {
            QCOMPARE(cap.Frames.size(), page + 1);
            const QByteArray sent = TKvCapture::PayloadOf(cap.Frames.last());
            if (sent != Hex("1A") + char(page & 0xFF) + char(page >> 8) + image.mid(page, 1))
                QFAIL(qPrintable(QString("page %1 sent as %2").arg(page).arg(QString(sent.toHex(' ')))));
            e->InputData(status);
        }
        QCOMPARE(cap.Frames.size(), pages); // nothing after the last page
        QCOMPARE(progress.size(), pages);
        QCOMPARE(progress.last(), (QList<quint32>{0, quint32(pages), quint32(pages)}));
        for (const QList<quint32> &p : progress)
            QVERIFY(p[1] > 0); // never back at the start
        e->InputData(status);  // a stray status after the end sends nothing either
        QCOMPARE(cap.Frames.size(), pages);
    }

    void noPageSizeSendsNothing() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->FirmwareWrite(QByteArray(10, 'x'), {});
        QCOMPARE(cap.Frames.size(), 0);
    }

    void blocks() {
        TKvCapture cap;
        auto e = MakeEngine(cap);
        e->ReadBlock(2, 0x1000, 16);
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("10 02 00 10 10 00"));
        e->WriteBlock(1, 0x0102, Hex("AA BB"));
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("11 01 02 01 AA BB"));
        e->ClearBlock(3, 0x0010, 0x0200);
        QCOMPARE(TKvCapture::PayloadOf(cap.Frames.last()), Hex("15 03 10 00 00 02"));

        const QByteArray data = Hex("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
        e->InputData(DeviceFrame(Hex("10 02 00 10") + data)); // no handler yet: ignored
        QCOMPARE(int(e->AnswerError), 0);
        QList<QVariant> read, written, cleared;
        e->OnReadBlock = [&](quint8 r, quint16 a, const QByteArray &d) { read = {r, a, d}; };
        e->OnWriteBlock = [&](quint8 r, quint16 a, quint16 c) { written = {r, a, c}; };
        e->OnClearBlock = [&](quint8 r, quint16 a, quint16 c) { cleared = {r, a, c}; };
        e->InputData(DeviceFrame(Hex("10 02 00 10") + data));
        QCOMPARE(read, (QList<QVariant>{2, 0x1000, data}));
        e->InputData(DeviceFrame(Hex("11 01 02 01 02 00")));
        QCOMPARE(written, (QList<QVariant>{1, 0x0102, 2}));
        e->InputData(DeviceFrame(Hex("15 03 10 00 00 02")));
        QCOMPARE(cleared, (QList<QVariant>{3, 0x10, 0x200}));
        // Short block answers are not read past their end.
        written.clear();
        e->InputData(DeviceFrame(Hex("11 01 02")));
        e->InputData(DeviceFrame(Hex("10 02")));
        QVERIFY(written.isEmpty());
    }
};

TAMREL_TEST_MAIN_CORE(TestKvBlocks)
#include "tst_KvBlocks.moc"

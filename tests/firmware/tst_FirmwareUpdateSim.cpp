// The firmware update end to end: the main window connected to the simulated tester over a
// pseudo-terminal, the update button, the firmware window and the simulator's boot loader,
// which writes what it received to a file.
#include "TestMain.h"
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uPlatformTick.h"
#include "uPrivateRuntime.h"
#include "uSimFrames.h"
#include "uSimPty.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <memory>

using namespace SimFrames;

namespace {

const QString Success = QStringLiteral("Прошивка завершена успешно");

// An image that names itself the way the simulated tester reads it, then random bytes.
QByteArray MakeImage(int size, const QByteArray &name = "Tavik TAMREL 2.0") {
    QByteArray b(size, 0);
    QRandomGenerator rng(quint32(size) * 2654435761u);
    for (char &c : b)
        c = char(rng.bounded(256));
    if (!name.isEmpty() && size > name.size()) b.replace(0, name.size() + 1, name + '\0');
    return b;
}

} // namespace

class TestFirmwareUpdateSim : public QObject {
    Q_OBJECT

    TPrivateRuntime RuntimeDir; // a port folder of this test's own
    QTemporaryDir Work;
    std::unique_ptr<TSimPty> Sim;
    std::unique_ptr<TFormTamrel> Form;
    QStringList Messages;
    // The state when the success text appeared.
    bool ConnectedAtSuccess = false;
    bool DisconnectTimerAtSuccess = false;
    QElapsedTimer SinceSuccess;

    TFormFirmwareUpdate *Fw() const { return FormFirmwareUpdate; }
    QString ImagePath() const { return Work.filePath(QStringLiteral("image.bin")); }
    QByteArray ReceivedImage() const {
        QFile f(ImagePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The program as it starts: the main window and its hidden firmware window; connected
    // through the port search. The update button shows once register 0 has been read.
    void StartAndConnect(TSimOptions options) {
        options.ImageOutPath = ImagePath();
        QFile::remove(ImagePath());
        Sim = std::make_unique<TSimPty>();
        QString error;
        QVERIFY2(Sim->Start(options, &error), qPrintable(error));
        Form = std::make_unique<TFormTamrel>();
        new TFormFirmwareUpdate(Form.get());
        QVERIFY(Fw() && Fw()->isHidden());
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        QVERIFY(!Form->ButtonUpdateFirmware->isVisible());
        Form->DeviceLink->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(Form->DeviceLink->IsConnected(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(Form->ButtonUpdateFirmware->isVisible(), 5000);
        QCOMPARE(Form->ButtonUpdateFirmware->toolTip(), options.Ident);
        QCOMPARE(Fw()->EditFirmwareOldName->text(), options.Ident); // also while hidden
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(1), qint64(1), 3000);
    }
    void OpenWindowAndLoad(const QByteArray &image, const QString &name) {
        Form->ButtonUpdateFirmware->click();
        QVERIFY(Fw()->isVisible());
        QCOMPARE(Fw()->EditLoaderIdentStr->text(), QStringLiteral("Tavik"));
        QCOMPARE(Fw()->DeviceName, QStringLiteral("TAMREL"));
        QCOMPARE(NotSuitableText, QStringLiteral("Firmware is not suitable for this device"));
        connect(Fw()->EditMessage, &QLineEdit::textChanged, this, [this](const QString &t) {
            Messages << t;
            if (t != Success) return;
            SinceSuccess.start();
            // Looked at once the handler that showed the text has finished.
            QTimer::singleShot(0, this, [this] {
                ConnectedAtSuccess = Form->DeviceLink->IsConnected();
                DisconnectTimerAtSuccess = Fw()->TimerDisconnect->isActive();
            });
        });
        Fw()->LoadFirmwareBuffer(image, name, false);
        QVERIFY(Fw()->ButtonStartUpdate->isEnabled());
    }
    // Every "position/size" text stays within the image's last page.
    void CheckProgressWithinImage(int size, int pageSize) {
        static const QRegularExpression re(QStringLiteral("^(\\d+)/(\\d+)$"));
        const qint64 end = (qint64(size) + pageSize - 1) / pageSize * pageSize;
        for (const QString &m : Messages) {
            const auto match = re.match(m);
            if (!match.hasMatch()) continue;
            QCOMPARE(match.captured(2).toLongLong(), qint64(size));
            QVERIFY2(match.captured(1).toLongLong() <= end, qPrintable(m));
        }
    }

private slots:
    void initTestCase() { QVERIFY(RuntimeDir.InUse() && Work.isValid()); }
    void init() {
        Messages.clear();
        ConnectedAtSuccess = DisconnectTimerAtSuccess = false;
        SinceSuccess.invalidate();
    }
    void cleanup() {
        Form.reset();
        Sim.reset();
        KvPlatform::SetTickCountOffset(0);
    }

    // A 60 KiB image arrives byte for byte; the connection closes 500 ms after success and
    // the tester then runs the new firmware, whose name the program shows at the next connect.
    void imageArrivesByteIdentical() {
        StartAndConnect(TSimOptions());
        const QByteArray image = MakeImage(60 * 1024);
        OpenWindowAndLoad(image, QStringLiteral("TAMREL 2.0;DeviceIdentStr=TAMREL-BL.firmware"));
        QCOMPARE(Fw()->EditFirmwareName->text(), QStringLiteral("TAMREL 2.0"));
        QCOMPARE(Fw()->EditFirmwareSize->text(), QStringLiteral("61440 Б"));
        Fw()->ButtonStartUpdate->click();
        // Polling and the tester's work stop before the boot loader is asked.
        QVERIFY(!Form->TimerUpdateRegisters->isActive());
        QVERIFY(!Form->DeviceLink->KeepConnection);
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditMessage->text(), Success, 30000);
        QTRY_VERIFY(ConnectedAtSuccess);
        QVERIFY(DisconnectTimerAtSuccess);
        QCOMPARE(ReceivedImage(), image);
        QCOMPARE(Fw()->ProgressBar1->value(), Fw()->ProgressBar1->maximum());
        QCOMPARE(Fw()->ProgressBar1->maximum(), image.size());
        CheckProgressWithinImage(image.size(), 128);
        const QVector<TSimFrameRecord> log = Sim->FrameLog();
        const QString pass = CheckFinalPass(log, 480);
        QVERIFY2(pass.isEmpty(), qPrintable(pass));
        QCOMPARE(ReceivedPages(log).size(), 480);
        QCOMPARE(Sim->Device()->RegisterInt(1), qint64(0));
        QVERIFY2(QRegularExpression(QStringLiteral("^60\\.0 KB in \\d+\\.\\d s \\(\\d+\\.\\d KB/s\\)$"))
                     .match(Fw()->LabelTransferRate->text())
                     .hasMatch(),
                 qPrintable(Fw()->LabelTransferRate->text()));

        QTRY_VERIFY_WITH_TIMEOUT(!Form->DeviceLink->IsConnected(), 5000);
        QVERIFY2(SinceSuccess.elapsed() >= 400, qPrintable(QString::number(SinceSuccess.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(!Sim->HostPresent(), 3000);
        QCOMPARE(Sim->Register(0), QByteArray("Tavik TAMREL 2.0"));
        QVERIFY(Form->ButtonUpdateFirmware->isVisible()); // stays
        Form->DeviceLink->sButtonConnect->click();
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditFirmwareOldName->text(), QStringLiteral("Tavik TAMREL 2.0"),
                                  5000);
        QCOMPARE(Form->ButtonUpdateFirmware->toolTip(), QStringLiteral("Tavik TAMREL 2.0"));
    }

    // The boot loader's identification against the one in the file name.
    void identification_data() {
        QTest::addColumn<QString>("loaderIdent");
        QTest::addColumn<QString>("fileIdent");
        QTest::addColumn<QString>("message");
        QTest::newRow("other letter case accepted") << "TAMREL-BL"
                                                    << "tamrel-bl" << Success;
        QTest::newRow("other loader refused")
            << "OTHER-BL"
            << "TAMREL-BL"
            << "Firmware is not suitable for this device (OTHER-BL <> TAMREL-BL)";
    }
    void identification() {
        QFETCH(QString, loaderIdent);
        QFETCH(QString, fileIdent);
        QFETCH(QString, message);
        TSimOptions options;
        options.LoaderIdent = loaderIdent;
        StartAndConnect(options);
        const QByteArray image = MakeImage(3000);
        OpenWindowAndLoad(image, QStringLiteral("Main;DeviceIdentStr=%1.firmware").arg(fileIdent));
        Fw()->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditMessage->text(), message, 10000);
        if (message == Success) {
            QCOMPARE(ReceivedImage(), image);
            return;
        }
        QTest::qWait(300);
        QCOMPARE(Count(Sim->FrameLog(), true, CmdPage), 0);
        QVERIFY(Form->DeviceLink->IsConnected());
        QVERIFY(!Fw()->TimerDisconnect->isActive());
    }

    // The image must be smaller than the flash: exactly its size is refused.
    void flashSize_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("message");
        QTest::newRow("exactly 4 KiB refused") << 4096 << "Не соотв. размер";
        QTest::newRow("one byte less written") << 4095 << Success;
    }
    void flashSize() {
        QFETCH(int, size);
        QFETCH(QString, message);
        TSimOptions options;
        options.FlashSizeKiB = 4;
        StartAndConnect(options);
        const QByteArray image = MakeImage(size);
        OpenWindowAndLoad(image, QStringLiteral("Small;DeviceIdentStr=TAMREL-BL.firmware"));
        Fw()->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditMessage->text(), message, 10000);
        if (message == Success) {
            QCOMPARE(ReceivedImage(), image);
            return;
        }
        QTest::qWait(300);
        QCOMPARE(Count(Sim->FrameLog(), true, CmdPage), 0);
        QVERIFY(Form->DeviceLink->IsConnected());
    }

    // A refused page shows the tester's code; nothing more is sent and the link stays open.
    void refusedPage() {
        TSimOptions options;
        options.FailPageIndex = 3;
        StartAndConnect(options);
        OpenWindowAndLoad(MakeImage(5000), QStringLiteral("F;DeviceIdentStr=TAMREL-BL.firmware"));
        Fw()->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditMessage->text(), QStringLiteral("Ошибка 5"), 10000);
        QCOMPARE(ReceivedPages(Sim->FrameLog()), (QVector<int>{0, 1, 2, 3}));
        QTest::qWait(600);
        QCOMPARE(ReceivedPages(Sim->FrameLog()), (QVector<int>{0, 1, 2, 3}));
        QCOMPARE(Fw()->ProgressBar1->value(), 3 * 128);
        QVERIFY(Form->DeviceLink->IsConnected());
        QVERIFY(!Fw()->TimerDisconnect->isActive());
    }

    // A tester that stops answering in the middle of the transfer: each page waits a bounded
    // time and is sent again a few times, then the window says at which page it stopped and is
    // usable again. The link stays open, so Start asks the boot loader anew.
    void silentTesterMidTransfer() {
        TSimOptions options;
        options.SilentAfterPages = 20;
        StartAndConnect(options);
        Fw()->FirmwareUpdate->AnswerTimeOutMs = 300;
        OpenWindowAndLoad(MakeImage(20 * 1024), QStringLiteral("F;DeviceIdentStr=TAMREL-BL.firmware"));
        Fw()->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(
            Fw()->EditMessage->text(),
            QStringLiteral("The tester stopped answering at page 20; press Start to write the image anew"),
            30000);
        QCOMPARE(ReceivedPages(Sim->FrameLog()).count(20), 1 + TFirmwareUpdate::PageRepeats);
        QCOMPARE(Count(Sim->FrameLog(), true, CmdPage), 20 + 1 + TFirmwareUpdate::PageRepeats);
        QVERIFY(!Fw()->FirmwareUpdate->Busy());
        QVERIFY(Fw()->LabelTransferRate->text().isEmpty());
        QVERIFY(Fw()->ButtonStartUpdate->isEnabled());
        QVERIFY(!Fw()->TimerDisconnect->isActive());
        QVERIFY(Form->DeviceLink->IsConnected());

        const int starts = Count(Sim->FrameLog(), true, CmdLoaderInfo);
        Fw()->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditMessage->text(),
                                  QStringLiteral("The boot loader did not answer; press Start to try again"),
                                  30000);
        QVERIFY(Count(Sim->FrameLog(), true, CmdLoaderInfo) > starts);
    }

    // A boot loader that answers the start late still gets one clean pass: when it answers
    // every repeated request, each answer after the first restarts at page 0, and the pages
    // of the abandoned passes that are on their way send nothing further.
    void lateLoader_data() {
        QTest::addColumn<int>("ignore");
        QTest::addColumn<int>("delay");
        QTest::addColumn<bool>("restarts");
        QTest::newRow("first two requests unanswered") << 2 << 0 << false;
        QTest::newRow("every request answered 120 ms late") << 0 << 120 << true;
    }
    void lateLoader() {
        QFETCH(int, ignore);
        QFETCH(int, delay);
        QFETCH(bool, restarts);
        TSimOptions options;
        options.LoaderIgnoreStarts = ignore;
        options.LoaderAnswerDelayMs = delay;
        StartAndConnect(options);
        const QByteArray image = MakeImage(20 * 1024 + 50);
        OpenWindowAndLoad(image, QStringLiteral("F;DeviceIdentStr=TAMREL-BL.firmware"));
        Fw()->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditMessage->text(), Success, 30000);
        QCOMPARE(ReceivedImage(), image);
        QTest::qWait(100); // statuses still on their way would show now
        const QVector<TSimFrameRecord> log = Sim->FrameLog();
        QVERIFY(Count(log, true, CmdLoaderInfo) >= 3); // the first request and two repeats at least
        QCOMPARE(Count(log, true, CmdLoaderInfo) - ignore, Count(log, false, CmdLoaderInfo));
        const QVector<int> pages = ReceivedPages(log);
        if (restarts) QVERIFY(pages.count(0) > 1); // the scenario did restart
        const QString pass = CheckFinalPass(log, 161);
        QVERIFY2(pass.isEmpty(), qPrintable(pass));
        CheckProgressWithinImage(image.size(), 128);
        QCOMPARE(Messages.count(Success), 1);
        QCOMPARE(Fw()->ProgressBar1->value(), image.size());
    }
};

TAMREL_TEST_MAIN(TestFirmwareUpdateSim)
#include "tst_FirmwareUpdateSim.moc"

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
QByteArray MakeImage(int Size, const QByteArray &Name = "Tavik TAMREL 2.0") {
    QByteArray B(Size, 0);
    QRandomGenerator Rng(quint32(Size) * 2654435761u);
    for (char &C : B)
        C = char(Rng.bounded(256));
    if (!Name.isEmpty() && Size > Name.size()) B.replace(0, Name.size() + 1, Name + '\0');
    return B;
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
        QFile F(ImagePath());
        return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
    }

    // The program as it starts: the main window and its hidden firmware window; connected
    // through the port search. The update button shows once register 0 has been read.
    void StartAndConnect(TSimOptions Options) {
        Options.ImageOutPath = ImagePath();
        QFile::remove(ImagePath());
        Sim = std::make_unique<TSimPty>();
        QString Error;
        QVERIFY2(Sim->Start(Options, &Error), qPrintable(Error));
        Form = std::make_unique<TFormTamrel>();
        new TFormFirmwareUpdate(Form.get());
        QVERIFY(Fw() && Fw()->isHidden());
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        QVERIFY(!Form->ButtonUpdateFirmware->isVisible());
        Form->DeviceLink->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(Form->DeviceLink->IsConnected(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(Form->ButtonUpdateFirmware->isVisible(), 5000);
        QCOMPARE(Form->ButtonUpdateFirmware->toolTip(), Options.Ident);
        QCOMPARE(Fw()->EditFirmwareOldName->text(), Options.Ident); // also while hidden
        QTRY_COMPARE_WITH_TIMEOUT(Sim->Device()->RegisterInt(1), qint64(1), 3000);
    }
    void OpenWindowAndLoad(const QByteArray &Image, const QString &Name) {
        Form->ButtonUpdateFirmware->click();
        QVERIFY(Fw()->isVisible());
        QCOMPARE(Fw()->EditLoaderIdentStr->text(), QStringLiteral("Tavik"));
        QCOMPARE(Fw()->DeviceName, QStringLiteral("TAMREL"));
        QCOMPARE(NotSuitableText, QStringLiteral("Firmware is not suitable for this device"));
        connect(Fw()->EditMessage, &QLineEdit::textChanged, this, [this](const QString &T) {
            Messages << T;
            if (T != Success) return;
            SinceSuccess.start();
            // Looked at once the handler that showed the text has finished.
            QTimer::singleShot(0, this, [this] {
                ConnectedAtSuccess = Form->DeviceLink->IsConnected();
                DisconnectTimerAtSuccess = Fw()->TimerDisconnect->isActive();
            });
        });
        Fw()->LoadFirmwareBuffer(Image, Name, false);
        QVERIFY(Fw()->ButtonStartUpdate->isEnabled());
    }
    // Every "position/size" text stays within the image's last page.
    void CheckProgressWithinImage(int Size, int PageSize) {
        static const QRegularExpression Re(QStringLiteral("^(\\d+)/(\\d+)$"));
        const qint64 End = (qint64(Size) + PageSize - 1) / PageSize * PageSize;
        for (const QString &M : Messages) {
            const auto Match = Re.match(M);
            if (!Match.hasMatch()) continue;
            QCOMPARE(Match.captured(2).toLongLong(), qint64(Size));
            QVERIFY2(Match.captured(1).toLongLong() <= End, qPrintable(M));
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
        const QByteArray Image = MakeImage(60 * 1024);
        OpenWindowAndLoad(Image, QStringLiteral("TAMREL 2.0;DeviceIdentStr=TAMREL-BL.firmware"));
        QCOMPARE(Fw()->EditFirmwareName->text(), QStringLiteral("TAMREL 2.0"));
        QCOMPARE(Fw()->EditFirmwareSize->text(), QStringLiteral("61440 Б"));
        Fw()->ButtonStartUpdate->click();
        // Polling and the tester's work stop before the boot loader is asked.
        QVERIFY(!Form->TimerUpdateRegisters->isActive());
        QVERIFY(!Form->DeviceLink->KeepConnection);
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditMessage->text(), Success, 30000);
        QTRY_VERIFY(ConnectedAtSuccess);
        QVERIFY(DisconnectTimerAtSuccess);
        QCOMPARE(ReceivedImage(), Image);
        QCOMPARE(Fw()->ProgressBar1->value(), Fw()->ProgressBar1->maximum());
        QCOMPARE(Fw()->ProgressBar1->maximum(), Image.size());
        CheckProgressWithinImage(Image.size(), 128);
        const QVector<TSimFrameRecord> Log = Sim->FrameLog();
        const QString Pass = CheckFinalPass(Log, 480);
        QVERIFY2(Pass.isEmpty(), qPrintable(Pass));
        QCOMPARE(ReceivedPages(Log).size(), 480);
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
        QTest::addColumn<QString>("LoaderIdent");
        QTest::addColumn<QString>("FileIdent");
        QTest::addColumn<QString>("Message");
        QTest::newRow("other letter case accepted") << "TAMREL-BL"
                                                    << "tamrel-bl" << Success;
        QTest::newRow("other loader refused")
            << "OTHER-BL"
            << "TAMREL-BL"
            << "Firmware is not suitable for this device (OTHER-BL <> TAMREL-BL)";
    }
    void identification() {
        QFETCH(QString, LoaderIdent);
        QFETCH(QString, FileIdent);
        QFETCH(QString, Message);
        TSimOptions Options;
        Options.LoaderIdent = LoaderIdent;
        StartAndConnect(Options);
        const QByteArray Image = MakeImage(3000);
        OpenWindowAndLoad(Image, QStringLiteral("Main;DeviceIdentStr=%1.firmware").arg(FileIdent));
        Fw()->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditMessage->text(), Message, 10000);
        if (Message == Success) {
            QCOMPARE(ReceivedImage(), Image);
            return;
        }
        QTest::qWait(300);
        QCOMPARE(Count(Sim->FrameLog(), true, CmdPage), 0);
        QVERIFY(Form->DeviceLink->IsConnected());
        QVERIFY(!Fw()->TimerDisconnect->isActive());
    }

    // The image must be smaller than the flash: exactly its size is refused.
    void flashSize_data() {
        QTest::addColumn<int>("Size");
        QTest::addColumn<QString>("Message");
        QTest::newRow("exactly 4 KiB refused") << 4096 << "Не соотв. размер";
        QTest::newRow("one byte less written") << 4095 << Success;
    }
    void flashSize() {
        QFETCH(int, Size);
        QFETCH(QString, Message);
        TSimOptions Options;
        Options.FlashSizeKiB = 4;
        StartAndConnect(Options);
        const QByteArray Image = MakeImage(Size);
        OpenWindowAndLoad(Image, QStringLiteral("Small;DeviceIdentStr=TAMREL-BL.firmware"));
        Fw()->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditMessage->text(), Message, 10000);
        if (Message == Success) {
            QCOMPARE(ReceivedImage(), Image);
            return;
        }
        QTest::qWait(300);
        QCOMPARE(Count(Sim->FrameLog(), true, CmdPage), 0);
        QVERIFY(Form->DeviceLink->IsConnected());
    }

    // A refused page shows the tester's code; nothing more is sent and the link stays open.
    void refusedPage() {
        TSimOptions Options;
        Options.FailPageIndex = 3;
        StartAndConnect(Options);
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

    // A boot loader that answers the start late still gets one clean pass: when it answers
    // every repeated request, each answer after the first restarts at page 0, and the pages
    // of the abandoned passes that are on their way send nothing further.
    void lateLoader_data() {
        QTest::addColumn<int>("Ignore");
        QTest::addColumn<int>("Delay");
        QTest::addColumn<bool>("Restarts");
        QTest::newRow("first two requests unanswered") << 2 << 0 << false;
        QTest::newRow("every request answered 120 ms late") << 0 << 120 << true;
    }
    void lateLoader() {
        QFETCH(int, Ignore);
        QFETCH(int, Delay);
        QFETCH(bool, Restarts);
        TSimOptions Options;
        Options.LoaderIgnoreStarts = Ignore;
        Options.LoaderAnswerDelayMs = Delay;
        StartAndConnect(Options);
        const QByteArray Image = MakeImage(20 * 1024 + 50);
        OpenWindowAndLoad(Image, QStringLiteral("F;DeviceIdentStr=TAMREL-BL.firmware"));
        Fw()->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(Fw()->EditMessage->text(), Success, 30000);
        QCOMPARE(ReceivedImage(), Image);
        QTest::qWait(100); // statuses still on their way would show now
        const QVector<TSimFrameRecord> Log = Sim->FrameLog();
        QVERIFY(Count(Log, true, CmdLoaderInfo) >= 3); // the first request and two repeats at least
        QCOMPARE(Count(Log, true, CmdLoaderInfo) - Ignore, Count(Log, false, CmdLoaderInfo));
        const QVector<int> Pages = ReceivedPages(Log);
        if (Restarts) QVERIFY(Pages.count(0) > 1); // the scenario did restart
        const QString Pass = CheckFinalPass(Log, 161);
        QVERIFY2(Pass.isEmpty(), qPrintable(Pass));
        CheckProgressWithinImage(Image.size(), 128);
        QCOMPARE(Messages.count(Success), 1);
        QCOMPARE(Fw()->ProgressBar1->value(), Image.size());
    }
};

TAMREL_TEST_MAIN(TestFirmwareUpdateSim)
#include "tst_FirmwareUpdateSim.moc"

// End to end, as a technician does it with ./scripts/run: the program connected to the
// simulated tester over a pseudo-terminal and the demo update server serving the bundled
// tree. "Update Firmware" -> internet button -> device list -> TAMREL chosen -> its last
// file selected -> Download -> Start writes the image into the simulated tester.
#include "CompGraphicSpeedButton.h"
#include "TestMain.h"
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameInternetUpdates.h"
#include "uKvApplication.h"
#include "uPrivateRuntime.h"
#include "uSimPty.h"
#include "uSimUpdateServer.h"
#include "uUpdateServerSetting.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

#include <memory>

class TInternetUpdatesEndToEndTest : public QObject {
    Q_OBJECT
    TPrivateRuntime RuntimeDir; // a port folder of this test's own
    QTemporaryDir Work;

private slots:
    void initTestCase() { QVERIFY(RuntimeDir.InUse() && Work.isValid()); }

    void updateFromTheDemoServer() {
        QStringList Errors;
        TKvApplication::SetErrorDisplay([&](const QString &M) { Errors << M; });
        TSimUpdateServerOptions ServerOptions;
        ServerOptions.Root = TAMREL_DEMO_UPDATES;
        ServerOptions.Port = 0;
        TSimUpdateServer Server(ServerOptions);
        QString Error;
        QVERIFY2(Server.Start(&Error), qPrintable(Error));
        SetUpdateServerAddress(Server.BaseAddress()); // as main() does with --update-server

        TSimOptions SimOptions;
        SimOptions.ImageOutPath = Work.filePath("image.bin");
        TSimPty Sim;
        QVERIFY2(Sim.Start(SimOptions, &Error), qPrintable(Error));
        auto Form = std::make_unique<TFormTamrel>();
        new TFormFirmwareUpdate(Form.get());
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
        Form->DeviceLink->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(Form->ButtonUpdateFirmware->isVisible(), 10000);

        // "Update Firmware", then the internet button.
        Form->ButtonUpdateFirmware->click();
        TFormFirmwareUpdate *Fw = FormFirmwareUpdate;
        QVERIFY(Fw->isVisible());
        Fw->GraphicSpeedButtonInternet->click();
        TFrameInternetUpdates *Frame = Fw->FrameInternetUpdates;
        QVERIFY(Frame->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(Frame->FileRowCount() > 0 && !Frame->IsRequestRunning(), 20000);
        QCOMPARE(Errors, QStringList{});
        // The tester's own folder was chosen, and the device panel made way.
        QCOMPARE(Frame->ListViewDevices->selectedItems().size(), 1);
        QCOMPARE(Frame->ListViewDevices->selectedItems().first()->text(0), QString("TAMREL"));
        QVERIFY(Frame->PanelSelectUpdate->isHidden());
        const QString Name = "Tamrel 1.7;DeviceIdentStr=TAMREL-BL.firmware";
        QVERIFY(Frame->SelectedFileRow());
        QCOMPARE(Frame->SelectedFileRow()->text(1), Name);

        Frame->ButtonDownloadFirmware->click();
        QTRY_VERIFY_WITH_TIMEOUT(!Frame->IsRequestRunning(), 20000);
        QCOMPARE(Errors, QStringList{});
        QFile Published(QString(TAMREL_DEMO_UPDATES) + "/firmware_update/KVBL/TAMREL/" + Name);
        QVERIFY(Published.open(QIODevice::ReadOnly));
        const QByteArray Image = Published.readAll();
        // The firmware window shows what was downloaded and may start.
        QCOMPARE(Fw->EditFirmwareName->text(), QString("Tamrel 1.7"));
        QCOMPARE(Fw->EditLoaderIdentStr->text(), QString("TAMREL-BL"));
        QCOMPARE(Fw->FirmwareBuffer, Image);
        QVERIFY(Fw->ButtonStartUpdate->isEnabled());
        QVERIFY(Fw->PanelFirmwareUpdate->isVisible());

        Fw->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(Fw->EditMessage->text(), QString("Прошивка завершена успешно"), 60000);
        QFile Written(SimOptions.ImageOutPath);
        QVERIFY(Written.open(QIODevice::ReadOnly));
        QCOMPARE(Written.readAll(), Image);
        // 500 ms later the link lets go and the tester runs the new firmware.
        QTRY_VERIFY_WITH_TIMEOUT(!Form->DeviceLink->IsConnected(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(Sim.Device()->Register(0), QByteArray("Tavik TAMREL 1.7"), 5000);

        Form.reset();
        Sim.Stop();
        SetUpdateServerAddress(DefaultUpdateServerAddress);
        TKvApplication::SetErrorDisplay({});
    }
};

TAMREL_TEST_MAIN(TInternetUpdatesEndToEndTest)
#include "tst_InternetUpdatesEndToEnd.moc"

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
        QStringList errors;
        TKvApplication::SetErrorDisplay([&](const QString &m) { errors << m; });
        TSimUpdateServerOptions serverOptions;
        serverOptions.Root = TAMREL_DEMO_UPDATES;
        serverOptions.Port = 0;
        TSimUpdateServer server(serverOptions);
        QString error;
        QVERIFY2(server.Start(&error), qPrintable(error));
        SetUpdateServerAddress(server.BaseAddress()); // as main() does with --update-server

        TSimOptions simOptions;
        simOptions.ImageOutPath = Work.filePath("image.bin");
        TSimPty sim;
        QVERIFY2(sim.Start(simOptions, &error), qPrintable(error));
        auto form = std::make_unique<TFormTamrel>();
        new TFormFirmwareUpdate(form.get());
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->DeviceLink->sButtonConnect->click();
        QTRY_VERIFY_WITH_TIMEOUT(form->ButtonUpdateFirmware->isVisible(), 10000);

        // "Update Firmware", then the internet button.
        form->ButtonUpdateFirmware->click();
        TFormFirmwareUpdate *fw = FormFirmwareUpdate;
        QVERIFY(fw->isVisible());
        fw->GraphicSpeedButtonInternet->click();
        TFrameInternetUpdates *frame = fw->FrameInternetUpdates;
        QVERIFY(frame->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(frame->FileRowCount() > 0 && !frame->IsRequestRunning(), 20000);
        QCOMPARE(errors, QStringList{});
        // The tester's own folder was chosen, and the device panel made way.
        QCOMPARE(frame->ListViewDevices->selectedItems().size(), 1);
        QCOMPARE(frame->ListViewDevices->selectedItems().first()->text(0), QString("TAMREL"));
        QVERIFY(frame->PanelSelectUpdate->isHidden());
        const QString name = "Tamrel 1.7;DeviceIdentStr=TAMREL-BL.firmware";
        QVERIFY(frame->SelectedFileRow());
        QCOMPARE(frame->SelectedFileRow()->text(1), name);

        frame->ButtonDownloadFirmware->click();
        QTRY_VERIFY_WITH_TIMEOUT(!frame->IsRequestRunning(), 20000);
        QCOMPARE(errors, QStringList{});
        QFile published(QString(TAMREL_DEMO_UPDATES) + "/firmware_update/KVBL/TAMREL/" + name);
        QVERIFY(published.open(QIODevice::ReadOnly));
        const QByteArray image = published.readAll();
        // The firmware window shows what was downloaded and may start.
        QCOMPARE(fw->EditFirmwareName->text(), QString("Tamrel 1.7"));
        QCOMPARE(fw->EditLoaderIdentStr->text(), QString("TAMREL-BL"));
        QCOMPARE(fw->FirmwareBuffer, image);
        QVERIFY(fw->ButtonStartUpdate->isEnabled());
        QVERIFY(fw->PanelFirmwareUpdate->isVisible());

        fw->ButtonStartUpdate->click();
        QTRY_COMPARE_WITH_TIMEOUT(fw->EditMessage->text(), QString("Прошивка завершена успешно"), 60000);
        QFile written(simOptions.ImageOutPath);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), image);
        // 500 ms later the link lets go and the tester runs the new firmware.
        QTRY_VERIFY_WITH_TIMEOUT(!form->DeviceLink->IsConnected(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.Device()->Register(0), QByteArray("Tavik TAMREL 1.7"), 5000);

        form.reset();
        sim.Stop();
        SetUpdateServerAddress(DefaultUpdateServerAddress);
        TKvApplication::SetErrorDisplay({});
    }
};

TAMREL_TEST_MAIN(TInternetUpdatesEndToEndTest)
#include "tst_InternetUpdatesEndToEnd.moc"

// The main window and the firmware window: the firmware name read from the tester goes into
// both, the update button opens the firmware window for this window's link, and the link's
// close ends an update that runs over it.
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"

#include <QLineEdit>
#include <QPushButton>

void TFormTamrel::ShowFirmwareName() {
    // Register 0 arrives only from a connected tester: from then on the update is offered.
    ButtonUpdateFirmware->show();
    if (FormFirmwareUpdate) FormFirmwareUpdate->EditFirmwareOldName->setText(ButtonUpdateFirmware->toolTip());
}

void TFormTamrel::FirmwareLinkClosed(IDeviceLink *closedLink) {
    if (FormFirmwareUpdate && FormFirmwareUpdate->DeviceLink == closedLink)
        FormFirmwareUpdate->DeviceLinkClosed();
}

void TFormTamrel::ButtonUpdateFirmwareClick() {
    // The program creates the window at start; a main window built on its own gets one here.
    if (!FormFirmwareUpdate) new TFormFirmwareUpdate(this);
    TFormFirmwareUpdate *form = FormFirmwareUpdate;
    form->EditFirmwareOldName->setText(ButtonUpdateFirmware->toolTip());
    form->DeviceLink = Link();
    form->SetUpdateRegisters = [this](bool doUpdate) { SetUpdateRegisters(doUpdate); };
    // A tester that drops after its update is waited for under its new name.
    form->OnUpdated = [this] {
        if (!FTestLink) DeviceLink->ExpectRenamedTester();
    };
    form->EditLoaderIdentStr->setText(DeviceLink->DeviceIdentStr);
    form->DeviceName = QStringLiteral("TAMREL");
    // The program's language: English unless Russian was chosen.
    if (FRussian)
        form->DoRus();
    else
        form->DoEnglish();
    form->show();
    form->raise();
    form->activateWindow();
}

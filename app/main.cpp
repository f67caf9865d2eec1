// Program start: the application object with the general error display, the main window, the
// hidden firmware window, and the message loop until the main window closes.
#include "uFormFirmwareUpdate.h"
#include "uFormTamrel.h"
#include "uKvApplication.h"

#include <QStyleFactory>

int main(int argc, char **argv) {
    TKvApplication App(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    TFormTamrel Form;
    // Hidden until the update button opens it; it closes and goes with the main window.
    new TFormFirmwareUpdate(&Form);
    Form.show();
    return App.exec();
}

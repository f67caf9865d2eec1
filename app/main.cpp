// Program start: the application object with the general error display, the main window,
// and the message loop until the main window closes.
#include "uFormTamrel.h"
#include "uKvApplication.h"

#include <QStyleFactory>

int main(int argc, char **argv) {
    TKvApplication App(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    TFormTamrel Form;
    Form.show();
    return App.exec();
}

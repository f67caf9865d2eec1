// Not a test: draws the main window offscreen, connected to the simulator when one is given,
// and saves it as a picture for the README.  Usage: app_readme_shot <out.png> [wait-ms]
#include "uFormTamrel.h"

#include <QApplication>
#include <QStyleFactory>
#include <QTimer>

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString Out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshot.png");
    const int WaitMs = argc > 2 ? atoi(argv[2]) : 300;
    TFormTamrel Form;
    Form.show();
    QTimer::singleShot(WaitMs, &App, [&] {
        Form.grab().save(Out);
        App.quit();
    });
    return App.exec();
}

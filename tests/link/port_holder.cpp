// Another program holding a serial port: opens the port named on the command line the way a
// terminal program would, says "held", and keeps it until its standard input closes.
#include <QCoreApplication>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("failed %s\n", qPrintable(port.errorString()));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char byte;
        if (read(STDIN_FILENO, &byte, 1) <= 0) app.quit();
    });
    return app.exec();
}

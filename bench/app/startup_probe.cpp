// The program's start as main.cpp does it, up to the first paint of the main window; then it
// prints its peak resident set size and ends. Run by bench_app to time the start-up.
#include "uFormTamrel.h"
#include "uKvApplication.h"

#include <QFile>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>

namespace {

long PeakRssKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

class TFirstPaint : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && !FDone) {
            FDone = true;
            QTimer::singleShot(0, [] {
                std::printf("shown %ld\n", PeakRssKiB());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool FDone = false;
};

} // namespace

int main(int argc, char **argv) {
    TKvApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    TFormTamrel form;
    TFirstPaint probe;
    form.installEventFilter(&probe);
    form.show();
    return app.exec();
}

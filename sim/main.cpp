// tamrel-sim: the simulated tester on a pseudo-terminal, published in the virtual-port
// folder until SIGINT or SIGTERM (or its die-after time) ends it.
#include "uSimOptions.h"
#include "uSimPty.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
int g_SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char c = 1;
    [[maybe_unused]] auto r = ::write(g_SignalPipe[1], &c, 1);
}
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tamrel-sim");

    TSimOptions options;
    QString error, help;
    bool wantsHelp = false;
    if (!ParseSimOptions(app.arguments(), options, &error, &wantsHelp, &help)) {
        std::fprintf(stderr, "tamrel-sim: %s\n", qPrintable(error));
        return 2;
    }
    if (wantsHelp) {
        std::fputs(qPrintable(help), stdout);
        return 0;
    }

    // The log and image files are written as frames come; refuse at once a path that cannot be.
    for (const QString &path : {options.FrameLogPath, options.ImageOutPath}) {
        QFile f(path);
        if (!path.isEmpty() && !f.open(QIODevice::Append)) {
            std::fprintf(stderr, "tamrel-sim: %s: %s\n", qPrintable(path), qPrintable(f.errorString()));
            return 2;
        }
    }

    // Signals only write a byte; the event loop does the rest, so the link is always removed.
    if (::pipe2(g_SignalPipe, O_CLOEXEC) != 0) return 1;
    QSocketNotifier notifier(g_SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    TSimPty pty;
    if (!pty.Start(options, &error)) {
        std::fprintf(stderr, "tamrel-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("TAMSIM port: %s\n", qPrintable(pty.PortName()));
    std::fflush(stdout);

    // After the die-after time the port is gone; so is the simulator.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&pty] {
        if (pty.Died()) QCoreApplication::quit();
    });
    watch.start(50);

    const int rc = app.exec();
    pty.Stop();
    return rc;
}

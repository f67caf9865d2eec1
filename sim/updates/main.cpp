// tamrel-update-server: the demo update server, serving a folder tree on 127.0.0.1 until it
// is stopped (Ctrl+C or a signal).
#include "uSimUpdateServer.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication App(argc, argv);
    QCoreApplication::setApplicationName("tamrel-update-server");
    TSimUpdateServerOptions Options;
    QString Error, Help;
    bool WantsHelp = false;
    if (!ParseSimUpdateServerOptions(App.arguments(), Options, &Error, &WantsHelp, &Help)) {
        std::fprintf(stderr, "tamrel-update-server: %s\n", qPrintable(Error));
        return 2;
    }
    if (WantsHelp) {
        std::fputs(qPrintable(Help), stdout);
        return 0;
    }
    TSimUpdateServer Server(Options);
    if (!Server.Start(&Error)) {
        std::fprintf(stderr, "tamrel-update-server: %s\n", qPrintable(Error));
        return 1;
    }
    std::printf("Update server: %s\n", qPrintable(Server.BaseAddress()));
    std::fflush(stdout);
    return App.exec();
}

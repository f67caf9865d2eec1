// tamrel-update-server: the demo update server, serving a folder tree on 127.0.0.1 until it
// is stopped (Ctrl+C or a signal).
#include "uSimUpdateServer.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tamrel-update-server");
    TSimUpdateServerOptions options;
    QString error, help;
    bool wantsHelp = false;
    if (!ParseSimUpdateServerOptions(app.arguments(), options, &error, &wantsHelp, &help)) {
        std::fprintf(stderr, "tamrel-update-server: %s\n", qPrintable(error));
        return 2;
    }
    if (wantsHelp) {
        std::fputs(qPrintable(help), stdout);
        return 0;
    }
    TSimUpdateServer server(options);
    if (!server.Start(&error)) {
        std::fprintf(stderr, "tamrel-update-server: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("Update server: %s\n", qPrintable(server.BaseAddress()));
    std::fflush(stdout);
    return app.exec();
}

// A server in a process of its own, for the tests of a server whose previous instance crashed:
// it starts an engine with the server name given, says "ready <published name>", and on the
// line "crash" dies at once by SIGKILL, optionally holding the block's spin lock, so that the
// named objects are left behind exactly as a crash leaves them.
//   trazer_server_proc NAME [--settings DIR] [--hold-lock]
#include "uKvProtocol.h"
#include "uTrazerServerKv.h"
#include "uTrazerSpinLock.h"

#include <QCoreApplication>
#include <QSettings>

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    bool holdLock = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--settings") == 0 && i + 1 < argc)
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                               QString::fromLocal8Bit(argv[++i]));
        else if (std::strcmp(argv[i], "--hold-lock") == 0)
            holdLock = true;
    }
    QCoreApplication app(argc, argv);
    TKvProtocol engine([](const QByteArray &) {}, {}, {}, {}, {}, false, {}, false,
                       QString::fromLocal8Bit(argv[1]));
    auto *server = dynamic_cast<TTrazerServer *>(engine.TrazerServerI.get());
    if (!server || !server->PSharedBuffer) {
        std::cout << "error no server" << std::endl;
        return 1;
    }
    std::cout << "ready " << server->RegisterServerName.toStdString() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "crash") {
            if (holdLock) TTrazerSpinLock(reinterpret_cast<std::int32_t *>(server->PSharedBuffer)).Lock(1000);
            std::raise(SIGKILL);
        }
    }
    return 0;
}

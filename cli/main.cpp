// tamrel-cli: the tester from the command line, over the program's own protocol engine, port
// search, register map, firmware rules and test records. QtCore only: it runs where no
// display is, in scripts and on a bench computer's console.
#include "uCliCommandLine.h"
#include "uCliCommands.h"
#include "uCliError.h"

#include <QCoreApplication>

#include <exception>
#include <functional>
#include <map>

namespace {

struct TCommand {
    std::function<int(const QStringList &)> Run;
    const char *Summary;
};

const std::map<QString, TCommand> &Commands() {
    static const std::map<QString, TCommand> commands{
        {QStringLiteral("ports"), {CliPorts, "list the host's serial ports"}},
        {QStringLiteral("find"), {CliFind, "search the ports for the tester"}},
        {QStringLiteral("read"), {CliRead, "read registers: read REG..."}},
        {QStringLiteral("write"), {CliWrite, "write a register: write REG VALUE"}},
        {QStringLiteral("watch"), {CliWatch, "poll registers as CSV lines: watch [REG...] [--period MS]"}},
        {QStringLiteral("sweep"), {CliSweep, "hysteresis sweep on channel 1, judged and stored"}},
        {QStringLiteral("flash"), {CliFlash, "write a firmware image: flash FILE"}},
    };
    return commands;
}

QString GeneralHelp() {
    QString text = QStringLiteral("Usage: tamrel-cli COMMAND [options] [arguments]\n\n"
                                  "The Tamrel tester from the command line.\n\nCommands:\n");
    for (const auto &[name, command] : Commands())
        text += QStringLiteral("  %1  %2\n").arg(name, -6).arg(QLatin1String(command.Summary));
    text += QStringLiteral(
                "\n'tamrel-cli COMMAND --help' tells a command's options. Every command takes --json.\n"
                "Commands that talk to the tester take --port PORT (no search) and --timeout MS.\n\n") +
            CliExitCodesText();
    return text.trimmed();
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    // The program's name, so that the records and settings are the program's own files.
    QCoreApplication::setApplicationName(QStringLiteral("tamrel"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (arguments.isEmpty()) {
        CliErr(CliErrorPrefix(ceBadArguments) + QStringLiteral("no command given"));
        CliOut(GeneralHelp());
        return CliExitError;
    }
    const QString name = arguments.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        CliOut(GeneralHelp());
        return CliExitOk;
    }
    const auto command = Commands().find(name);
    if (command == Commands().end()) {
        CliErr(CliErrorPrefix(ceBadArguments) +
               QStringLiteral("unknown command \"%1\"; try tamrel-cli --help").arg(name));
        return CliExitError;
    }
    try {
        return command->second.Run(arguments);
    } catch (const ECliError &e) {
        CliErr(CliErrorPrefix(e.Kind) + QString::fromStdString(e.what()));
        if (e.Kind == ceBadArguments) CliErr(QStringLiteral("try tamrel-cli %1 --help").arg(name));
    } catch (const std::exception &e) {
        CliErr(CliErrorPrefix(ceFailed) + QString::fromStdString(e.what()));
    }
    return CliExitError;
}

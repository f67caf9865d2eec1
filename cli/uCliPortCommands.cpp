// ports: the host's port table as the program lists it; find: the program's search.
#include "uCliCommandLine.h"
#include "uCliCommands.h"
#include "uCliError.h"
#include "uComPortList.h"

#include <QJsonArray>

int CliPorts(const QStringList &arguments) {
    TCliCommandLine line(
        QStringLiteral("ports"),
        QStringLiteral(
            "Lists the host's serial ports in the program's order: port, the host's "
            "device name, and \"usb\" for a USB adapter, as --only-usb selects them (else \"-\")."),
        false);
    if (!line.Parse(arguments)) return CliExitOk;
    if (!line.Parser.positionalArguments().isEmpty())
        throw ECliError(ceBadArguments, QStringLiteral("ports takes no arguments"));
    QStringList ports;
    TComNameDescriptions all;
    GetComPortListEx(ports, false, &all);
    QJsonArray rows;
    for (const TComNameDescription &entry : all) {
        const bool isUsb = IsUsbAdapterName(entry.ComDescription);
        if (line.Json())
            rows.append(QJsonObject{{QStringLiteral("port"), entry.ComName},
                                    {QStringLiteral("device"), entry.ComDescription},
                                    {QStringLiteral("usb"), isUsb}});
        else
            CliOut(QStringLiteral("%1\t%2\t%3")
                       .arg(entry.ComName, entry.ComDescription,
                            isUsb ? QStringLiteral("usb") : QStringLiteral("-")));
    }
    if (line.Json()) CliOutJson({{QStringLiteral("ports"), rows}});
    return CliExitOk;
}

int CliFind(const QStringList &arguments) {
    TCliCommandLine line(
        QStringLiteral("find"),
        QStringLiteral("Searches the serial ports for the tester as the program's connect button "
                       "does and prints its port and identification."),
        true);
    if (!line.Parse(arguments)) return CliExitOk;
    if (!line.Parser.positionalArguments().isEmpty())
        throw ECliError(ceBadArguments, QStringLiteral("find takes no arguments"));
    TCliFoundTester found;
    if (!line.Port().isEmpty()) {
        // A given port is asked directly, with the same question.
        TCliConnection connection(line.TimeoutMs());
        connection.Open(line.Port());
        found = {line.Port(), connection.Identify()};
    } else {
        found = line.FindPort();
    }
    if (line.Json())
        CliOutJson({{QStringLiteral("port"), found.Port}, {QStringLiteral("ident"), found.Ident}});
    else
        CliOut(QStringLiteral("%1\t%2").arg(found.Port, found.Ident));
    return CliExitOk;
}

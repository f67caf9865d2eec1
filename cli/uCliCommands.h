#pragma once
// The commands of tamrel-cli. Each takes the arguments after its name, parses them with its
// own QCommandLineParser, and returns the exit code; failures leave as ECliError.
#include <QStringList>

int CliPorts(const QStringList &arguments);
int CliFind(const QStringList &arguments);
int CliRead(const QStringList &arguments);
int CliWrite(const QStringList &arguments);
int CliWatch(const QStringList &arguments);
int CliSweep(const QStringList &arguments);
int CliFlash(const QStringList &arguments);

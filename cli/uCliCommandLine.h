#pragma once
// What every command shares: its own QCommandLineParser with --help and --json, the options
// of the commands that talk to the tester (--port, --timeout, --only-usb), output on stdout
// and stderr, and the connection those options ask for.
#include "uCliConnection.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QJsonObject>
#include <QString>
#include <QStringList>

class TCliCommandLine {
public:
    // name: the command; summary: one line for --help; withDevice: adds --port, --timeout and
    // --only-usb.
    TCliCommandLine(const QString &name, const QString &summary, bool withDevice);

    QCommandLineParser Parser;

    // Parses the command's arguments (those after the command's name). Returns false when
    // --help was given (the help has been printed: the command ends with exit code 0);
    // ECliError (bad arguments) for options the command does not know or lacks.
    bool Parse(const QStringList &arguments);
    bool Json() const { return Parser.isSet(FJson); }
    QString Port() const { return Parser.value(FPort); }
    int TimeoutMs() const;
    // The tester's port: --port as given, else the port the search finds.
    TCliFoundTester FindPort() const;

    // A whole number option within [min, max]; ECliError (bad arguments) otherwise, or when it
    // is missing and required.
    int IntValue(const QCommandLineOption &option, int min, int max, bool required, int fallback = 0) const;

private:
    QString FName;
    QCommandLineOption FJson;
    QCommandLineOption FPort;
    QCommandLineOption FTimeout;
    QCommandLineOption FOnlyUsb;
    bool FWithDevice;
};

// The exit codes as every --help ends with them.
QString CliExitCodesText();

// A line on stdout, UTF-8, flushed at once (a watching script sees it when it happens).
void CliOut(const QString &line);
void CliOutJson(const QJsonObject &object);
// A line on stderr, prefixed "tamrel-cli: ".
void CliErr(const QString &line);

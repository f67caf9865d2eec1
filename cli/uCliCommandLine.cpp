#include "uCliCommandLine.h"

#include "uCliError.h"

#include <QJsonDocument>

#include <cstdio>

namespace {
constexpr int DefaultTimeoutMs = 1000;
} // namespace

QString CliErrorPrefix(TCliErrorKind kind) {
    switch (kind) {
    case ceBadArguments:
        return QStringLiteral("bad arguments: ");
    case ceNoTester:
        return QStringLiteral("no tester found: ");
    case ceTimeout:
        return QStringLiteral("timeout: ");
    case ceRefused:
        return QStringLiteral("refused: ");
    case ceInterrupted:
        return QStringLiteral("interrupted: ");
    default:
        return QStringLiteral("error: ");
    }
}

QString CliExitCodesText() {
    return QStringLiteral("Exit codes:\n"
                          "  0  done; for sweep: PASS, or no verdict because no limits are set\n"
                          "  1  sweep only: FAIL against the limits in the program's settings\n"
                          "  2  error: bad arguments, no tester found, timeout, refused write or\n"
                          "     firmware, interrupted, or a port or file that cannot be used\n");
}

void CliOut(const QString &line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void CliOutJson(const QJsonObject &object) {
    CliOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void CliErr(const QString &line) {
    const QByteArray bytes = QStringLiteral("tamrel-cli: %1\n").arg(line).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

TCliCommandLine::TCliCommandLine(const QString &name, const QString &summary, bool withDevice)
    : FName(name), FJson(QStringLiteral("json"), QStringLiteral("Print the results as JSON.")),
      FPort(QStringLiteral("port"),
            QStringLiteral("The tester's serial port; without it the ports are searched."),
            QStringLiteral("PORT")),
      FTimeout(QStringLiteral("timeout"),
               QStringLiteral("Milliseconds to wait for each answer of the tester (default %1).")
                   .arg(DefaultTimeoutMs),
               QStringLiteral("MS")),
      FOnlyUsb(QStringLiteral("only-usb"), QStringLiteral("Search only the ports the program lists as USB.")),
      FWithDevice(withDevice) {
    Parser.setApplicationDescription(summary + QStringLiteral("\n\n") + CliExitCodesText());
    Parser.addHelpOption();
    Parser.addOption(FJson);
    if (withDevice) Parser.addOptions({FPort, FTimeout, FOnlyUsb});
}

bool TCliCommandLine::Parse(const QStringList &arguments) {
    // The parser takes the first argument as the program's name.
    if (!Parser.parse(QStringList{QStringLiteral("tamrel-cli ") + FName} + arguments))
        throw ECliError(ceBadArguments, Parser.errorText());
    if (Parser.isSet(QStringLiteral("help"))) {
        // The usage line names the program; the command belongs right after it.
        QString help = Parser.helpText().trimmed();
        const qsizetype options = help.indexOf(QLatin1String(" [options]"));
        const qsizetype lineEnd = help.indexOf(QLatin1Char('\n'));
        if (options >= 0 && (lineEnd < 0 || options < lineEnd))
            help = QStringLiteral("Usage: tamrel-cli ") + FName + help.mid(options);
        CliOut(help);
        return false;
    }
    if (FWithDevice && Parser.isSet(FPort) && Port().isEmpty())
        throw ECliError(ceBadArguments, QStringLiteral("--port needs a port name"));
    if (FWithDevice) TimeoutMs(); // checked now, before anything is sent
    return true;
}

int TCliCommandLine::IntValue(const QCommandLineOption &option, int min, int max, bool required,
                              int fallback) const {
    const QString name = QStringLiteral("--") + option.names().constFirst();
    if (!Parser.isSet(option)) {
        if (required) throw ECliError(ceBadArguments, QStringLiteral("%1 is required").arg(name));
        return fallback;
    }
    bool ok = false;
    const int value = Parser.value(option).toInt(&ok, 10);
    if (!ok || value < min || value > max)
        throw ECliError(ceBadArguments, QStringLiteral("%1 takes a whole number from %2 to %3, not \"%4\"")
                                            .arg(name)
                                            .arg(min)
                                            .arg(max)
                                            .arg(Parser.value(option)));
    return value;
}

int TCliCommandLine::TimeoutMs() const {
    return IntValue(FTimeout, 10, 600000, false, DefaultTimeoutMs);
}

TCliFoundTester TCliCommandLine::FindPort() const {
    if (Parser.isSet(FPort)) return {Port(), QString()};
    return FindCliTester(Parser.isSet(FOnlyUsb));
}

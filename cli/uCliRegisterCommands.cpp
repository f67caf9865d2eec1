// read, write and watch: the tester's registers by number or name.
#include "uCliCommandLine.h"
#include "uCliCommands.h"
#include "uCliError.h"
#include "uCliRegisters.h"
#include "uCliWait.h"
#include "uTestRecordCsv.h"

#include <QDateTime>
#include <QJsonArray>

namespace {

QVector<quint8> ParseRegisters(const QStringList &texts) {
    QVector<quint8> regs;
    for (const QString &text : texts)
        regs.append(ParseCliRegister(text));
    return regs;
}

QJsonObject RegisterJson(const TKvRegister &reg) {
    const TCliRegisterName &name = CliRegisterName(reg.RegAdr);
    return {{QStringLiteral("register"), int(reg.RegAdr)},
            {QStringLiteral("name"), QLatin1String(name.Name)},
            {QStringLiteral("value"), CliValueJson(reg)},
            {QStringLiteral("unit"), QLatin1String(name.Unit)}};
}

QString RegisterLine(const TKvRegister &reg) {
    const TCliRegisterName &name = CliRegisterName(reg.RegAdr);
    QString line =
        QStringLiteral("%1 %2 = %3").arg(reg.RegAdr).arg(QLatin1String(name.Name), CliValueText(reg));
    if (*name.Unit) line += QLatin1Char(' ') + QLatin1String(name.Unit);
    return line;
}

// Opens the tester's port (searched for without --port) and checks that a tester answers.
QString Connect(const TCliCommandLine &line, TCliConnection &connection) {
    const TCliFoundTester found = line.FindPort();
    connection.Open(found.Port);
    return connection.Identify();
}

const QString RegisterHelp = QStringLiteral(
    "A register by number (0 to 16) or by name, in any letter case: ident, start, pos1, head, manual, pwm1, "
    "vin1, temp, cur1, pwm2, pump, pos2, vin2, cur2, involt, volts1, volts2 (or the long names: "
    "firmwarename, "
    "startstop, position1, resistivehead, manualcontrol, manualcontrolpwm1, setupvin1, headtemperature, "
    "current1, manualcontrolpwm2, pumptype, position2, setupvin2, current2, manualinvolt, "
    "manualcontrolvolts1, "
    "manualcontrolvolts2). Values are the tester's raw integers (mV, 0.01 A, 0.1 degC, %, 0.1 V).");

} // namespace

int CliRead(const QStringList &arguments) {
    TCliCommandLine line(QStringLiteral("read"),
                         QStringLiteral("Reads registers of the tester.\n") + RegisterHelp, true);
    line.Parser.addPositionalArgument(QStringLiteral("REG"), QStringLiteral("Register to read."),
                                      QStringLiteral("REG..."));
    if (!line.Parse(arguments)) return CliExitOk;
    const QStringList texts = line.Parser.positionalArguments();
    if (texts.isEmpty()) throw ECliError(ceBadArguments, QStringLiteral("read needs at least one register"));
    const QVector<quint8> regs = ParseRegisters(texts);
    TCliConnection connection(line.TimeoutMs());
    Connect(line, connection);
    QJsonArray rows;
    for (const quint8 reg : regs) {
        const TKvRegister value = connection.Read(reg);
        if (line.Json())
            rows.append(RegisterJson(value));
        else
            CliOut(RegisterLine(value));
    }
    if (line.Json()) CliOutJson({{QStringLiteral("registers"), rows}});
    return CliExitOk;
}

int CliWrite(const QStringList &arguments) {
    TCliCommandLine line(
        QStringLiteral("write"),
        QStringLiteral("Writes a register of the tester and waits for its acknowledgement.\n") + RegisterHelp,
        true);
    line.Parser.addPositionalArgument(QStringLiteral("REG"), QStringLiteral("Register to write."));
    line.Parser.addPositionalArgument(
        QStringLiteral("VALUE"),
        QStringLiteral("A whole number within the register's type, or text for the text register; a "
                       "negative number goes after \"--\" (write REG -- -5)."));
    if (!line.Parse(arguments)) return CliExitOk;
    const QStringList texts = line.Parser.positionalArguments();
    if (texts.size() != 2)
        throw ECliError(ceBadArguments, QStringLiteral("write needs a register and a value"));
    const quint8 reg = ParseCliRegister(texts[0]);
    const QVariant value = ParseCliValue(reg, texts[1]);
    TCliConnection connection(line.TimeoutMs());
    Connect(line, connection);
    connection.Write(reg, value);
    TKvRegister written = connection.Protocol()->Registers[reg];
    if (line.Json())
        CliOutJson({{QStringLiteral("written"), RegisterJson(written)}});
    else
        CliOut(RegisterLine(written));
    return CliExitOk;
}

int CliWatch(const QStringList &arguments) {
    TCliCommandLine line(
        QStringLiteral("watch"),
        QStringLiteral("Reads registers every period and prints one CSV line per poll: the local "
                       "time (ISO 8601 with the offset from UTC) and the values, after a header "
                       "line. Runs until Ctrl+C or --count polls.\n") +
            RegisterHelp,
        true);
    line.Parser.addPositionalArgument(
        QStringLiteral("REG"), QStringLiteral("Register to watch (default: pos1 cur1 temp pos2 cur2)."),
        QStringLiteral("[REG...]"));
    const QCommandLineOption period(QStringLiteral("period"),
                                    QStringLiteral("Milliseconds between polls (default 500)."),
                                    QStringLiteral("MS"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Stop after N polls."),
                                   QStringLiteral("N"));
    line.Parser.addOptions({period, count});
    if (!line.Parse(arguments)) return CliExitOk;
    const int periodMs = line.IntValue(period, 10, 3600000, false, 500);
    const int polls = line.IntValue(count, 1, std::numeric_limits<int>::max(), false, 0);
    QStringList texts = line.Parser.positionalArguments();
    if (texts.isEmpty()) texts = {"pos1", "cur1", "temp", "pos2", "cur2"};
    const QVector<quint8> regs = ParseRegisters(texts);
    InstallCliInterrupt();
    TCliConnection connection(line.TimeoutMs());
    Connect(line, connection);
    if (!line.Json()) {
        QStringList header{QStringLiteral("time")};
        for (const quint8 reg : regs)
            header.append(QLatin1String(CliRegisterName(reg).Name));
        CliOut(header.join(QLatin1Char(',')));
    }
    try {
        for (int done = 0; polls == 0 || done < polls; ++done) {
            if (done > 0 && CliPause(periodMs) == cwInterrupted) break;
            const QDateTime at = QDateTime::currentDateTime();
            QStringList fields{CsvLocalTime(at)};
            QJsonArray rows;
            for (const quint8 reg : regs) {
                const TKvRegister value = connection.Read(reg);
                fields.append(CsvField(CliValueText(value)));
                rows.append(RegisterJson(value));
            }
            if (line.Json())
                CliOutJson({{QStringLiteral("time"), CsvLocalTime(at)}, {QStringLiteral("registers"), rows}});
            else
                CliOut(fields.join(QLatin1Char(',')));
        }
    } catch (const ECliError &e) {
        // Ctrl+C during a poll ends the watch as Ctrl+C between polls does.
        if (e.Kind != ceInterrupted) throw;
    }
    return CliExitOk;
}

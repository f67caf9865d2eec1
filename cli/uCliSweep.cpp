// sweep: the hysteresis measurement on channel 1 with settled samples, judged against the
// limits in the program's settings and stored with the program's test records.
#include "uCliCommandLine.h"
#include "uCliCommands.h"
#include "uCliError.h"
#include "uCliTesterGuard.h"
#include "uCliWait.h"
#include "uSweepRecord.h"
#include "uSweepRun.h"
#include "uTamrelRegisterMap.h"
#include "uTamrelTester.h"
#include "uTestRecordCsv.h"
#include "uTestRecordExportFile.h"
#include "uTestRecordStore.h"
#include "uTestRecordWorker.h"
#include "uUpdateServerSetting.h"

#include <QJsonArray>
#include <QSettings>

namespace {

using namespace TamrelReg;

// A request whose answer is lost is sent again this often before the sweep is given up.
constexpr int LostAnswerRetries = 2;
// How long a sweep's end waits for its record to reach the server (a connect is bounded by
// 5 s); past it the record waits in the local queue for the next run or the window.
constexpr int CliStoreWaitMs = 15000;

// The type the tester is set to, by the register's code.
QString FromRegister(const QStringList &names, TCliConnection &connection, quint8 reg, const char *what) {
    const qint64 code = RegisterToVariant(connection.Read(reg)).toLongLong();
    if (code < 0 || code >= names.size())
        throw ECliError(ceFailed,
                        QStringLiteral("the tester reports %1 code %2, which has no name; give it with --%1")
                            .arg(QLatin1String(what))
                            .arg(code));
    return names[int(code)];
}

// The sweep's tester on the command line: channel 1 over the blocking connection, the steps
// counted out with pauses by the command's loop. Every request waits for its answer (and is
// asked again when the answer is lost), so a position reading reaches the sweep from inside
// its request.
class TCliSweepTester final : public ISweepTester {
public:
    explicit TCliSweepTester(TCliConnection &connection) : FConnection(connection) {}
    TSweepRun Sweep{*this};
    // The steps' period while the sweep runs; 0 once they have ended.
    int PeriodMs = 0;
    std::optional<TSweepOutcome> Outcome;

    void WriteDuty(qint64 duty) override { FConnection.Write(regManualControlPWM1, duty); }
    void RequestPosition() override {
        Sweep.PositionReceived(SweepPositionMillivolts(FConnection.Read(regPosition1)));
    }
    void StartSteps(int periodMs) override { PeriodMs = periodMs; }
    void StepsEnded() override { PeriodMs = 0; }
    // Its request has been answered already, and nothing reads the position unasked here: a
    // last reading that was no number is not followed by another.
    void AwaitLastSample(int) override { FGiveUp = true; }
    void SampleTaken(const TTestRecordPoint &) override {}
    void SweepFinished(const TSweepOutcome &outcome) override { Outcome = outcome; }

    // Runs the sweep to its end: a step per period. ECliError as the connection's requests,
    // or interrupted by a signal.
    TSweepOutcome Run(const TSweepSettings &settings) {
        Sweep.Start(settings);
        while (Sweep.Running()) {
            if (CliPause(PeriodMs) == cwInterrupted)
                throw ECliError(ceInterrupted, QStringLiteral("the sweep was stopped; no record was stored"));
            Sweep.Tick();
        }
        if (FGiveUp) Sweep.GiveUpLastSample();
        if (!Outcome) throw ECliError(ceFailed, QStringLiteral("the sweep ended without its outcome"));
        return *Outcome;
    }

private:
    TCliConnection &FConnection;
    bool FGiveUp = false;
};

QString Volts(double volts) {
    return QString::number(volts, 'f', 3) + QStringLiteral(" V");
}

QJsonValue Optional(const std::optional<double> &value) {
    return value ? QJsonValue(*value) : QJsonValue();
}

void PrintResult(const TTestRecord &record, bool json, const QString &storedIn) {
    const THysteresisFigures &f = record.Figures;
    if (json) {
        QJsonObject figures{{QStringLiteral("compared_points"), f.ComparedPoints},
                            {QStringLiteral("span_v"), f.SpanVolts}};
        if (f.Available()) {
            figures.insert(QStringLiteral("max_hysteresis_v"), f.MaxVolts);
            figures.insert(QStringLiteral("mean_hysteresis_v"), f.MeanVolts);
            figures.insert(QStringLiteral("max_at_duty_percent"), f.MaxAtDuty);
        }
        if (f.HasPercent()) {
            figures.insert(QStringLiteral("max_hysteresis_percent"), f.MaxPercent);
            figures.insert(QStringLiteral("mean_hysteresis_percent"), f.MeanPercent);
        }
        QJsonArray points;
        for (const TTestRecordPoint &p : record.Points)
            points.append(
                QJsonObject{{QStringLiteral("branch"),
                             p.Branch == sbRising ? QStringLiteral("rising") : QStringLiteral("falling")},
                            {QStringLiteral("duty_percent"), p.Duty},
                            {QStringLiteral("volts"), p.Volts}});
        CliOutJson(
            {{QStringLiteral("record_id"), record.Id},
             {QStringLiteral("head_serial"), record.HeadSerial},
             {QStringLiteral("pump_type"), record.PumpType},
             {QStringLiteral("head_type"), record.HeadType},
             {QStringLiteral("figures"), figures},
             {QStringLiteral("limits"),
              QJsonObject{
                  {QStringLiteral("max_hysteresis_v"), Optional(record.Limits.MaxHysteresisVolts)},
                  {QStringLiteral("max_hysteresis_percent"), Optional(record.Limits.MaxHysteresisPercent)},
                  {QStringLiteral("min_span_v"), Optional(record.Limits.MinSpanVolts)}}},
             {QStringLiteral("verdict"), TestVerdictText(record.Verdict)},
             {QStringLiteral("failures"), QJsonArray::fromStringList(record.Failures)},
             {QStringLiteral("points"), points},
             {QStringLiteral("store"), storedIn}});
        return;
    }
    CliOut(QStringLiteral("Points: %1 (%2 rising, %3 falling)")
               .arg(record.Points.size())
               .arg(record.Branch(sbRising).size())
               .arg(record.Branch(sbFalling).size()));
    CliOut(QStringLiteral("Span: %1").arg(Volts(f.SpanVolts)));
    if (f.Available()) {
        CliOut(QStringLiteral("Max hysteresis: %1 at %2 %").arg(Volts(f.MaxVolts)).arg(f.MaxAtDuty));
        CliOut(QStringLiteral("Mean hysteresis: %1").arg(Volts(f.MeanVolts)));
        if (f.HasPercent())
            CliOut(QStringLiteral("Max hysteresis: %1 % of span; mean %2 %")
                       .arg(QString::number(f.MaxPercent, 'f', 1), QString::number(f.MeanPercent, 'f', 1)));
    } else {
        CliOut(QStringLiteral("Hysteresis: not available (the branches share no duty range)"));
    }
    if (record.Verdict == tvNone)
        CliOut(QStringLiteral("Verdict: none (no limits set for %1 / %2)")
                   .arg(record.PumpType, record.HeadType));
    else
        CliOut(QStringLiteral("Verdict: %1").arg(TestVerdictText(record.Verdict)));
    for (const QString &failure : record.Failures)
        CliOut(QStringLiteral("  ") + failure);
    // Printed once the record has been stored.
    if (!storedIn.isEmpty()) CliOut(QStringLiteral("Record: %1 in %2").arg(record.Id, storedIn));
}

} // namespace

int CliSweep(const QStringList &arguments) {
    TCliCommandLine line(
        QStringLiteral("sweep"),
        QStringLiteral(
            "Measures channel 1's hysteresis: manual control in percent, the duty rising from --start by "
            "--step as far as --end, then falling by --step while it stays above --start (the top and the "
            "start "
            "are measured once), one step per period. At each step the position is read after the duty has "
            "been in force for one period (a settled sample), then the next duty is written; a reading that "
            "is no number gives that step no point. Prints the figures and the verdict against the limits "
            "stored in the program's settings "
            "for the pump and head type, and stores the test record where the program keeps its records. "
            "Without limits for that pump and head type there is no verdict and the exit code is 0."),
        true);
    const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("First duty, % (0 to 99)."),
                                   QStringLiteral("S"));
    const QCommandLineOption end(QStringLiteral("end"), QStringLiteral("Highest duty, % (1 to 100)."),
                                 QStringLiteral("E"));
    const QCommandLineOption step(QStringLiteral("step"), QStringLiteral("Duty step, % (1 to 100)."),
                                  QStringLiteral("D"));
    const QCommandLineOption period(QStringLiteral("period"),
                                    QStringLiteral("Milliseconds per step (10 to 1000)."),
                                    QStringLiteral("MS"));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("Write the points as CSV to this file."),
                                 QStringLiteral("FILE.csv"));
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("The head's serial number."),
                                    QStringLiteral("N"));
    const QCommandLineOption pump(
        QStringLiteral("pump"), QStringLiteral("Pump type VE, PE or Zexel (default: as the tester is set)."),
        QStringLiteral("P"));
    const QCommandLineOption head(
        QStringLiteral("head"),
        QStringLiteral("Head type Inductive or Resistive (default: as the tester is set)."),
        QStringLiteral("H"));
    line.Parser.addOptions({start, end, step, period, out, serial, pump, head});
    if (!line.Parse(arguments)) return CliExitOk;
    if (!line.Parser.positionalArguments().isEmpty())
        throw ECliError(ceBadArguments, QStringLiteral("sweep takes no arguments besides its options"));
    TSweepSettings sweep;
    sweep.StartDuty = line.IntValue(start, 0, 99, true);
    sweep.EndDuty = line.IntValue(end, 1, 100, true);
    sweep.StepDuty = line.IntValue(step, 1, 100, true);
    sweep.PeriodMs = line.IntValue(period, 10, 1000, true);
    sweep.Sampling = smSettled;
    if (sweep.EndDuty <= sweep.StartDuty)
        throw ECliError(ceBadArguments, QStringLiteral("--end must be above --start"));
    QString pumpType, headType;
    if (line.Parser.isSet(pump)) {
        pumpType = TamrelTester::CanonicalTypeName(TamrelTester::PumpTypeNames(), line.Parser.value(pump));
        if (pumpType.isEmpty())
            throw ECliError(
                ceBadArguments,
                QStringLiteral("--pump takes VE, PE or Zexel, not \"%1\"").arg(line.Parser.value(pump)));
    }
    if (line.Parser.isSet(head)) {
        headType = TamrelTester::CanonicalTypeName(TamrelTester::HeadTypeNames(), line.Parser.value(head));
        if (headType.isEmpty())
            throw ECliError(ceBadArguments, QStringLiteral("--head takes Inductive or Resistive, not \"%1\"")
                                                .arg(line.Parser.value(head)));
    }

    InstallCliInterrupt();
    TCliConnection connection(line.TimeoutMs());
    const TCliFoundTester found = line.FindPort();
    connection.Open(found.Port);
    connection.Retries = LostAnswerRetries;
    TSweepSubject subject;
    subject.HeadSerial = line.Parser.value(serial);
    subject.TesterId = found.Port;
    subject.Firmware = connection.Identify();
    subject.PumpType = pumpType.isEmpty()
                           ? FromRegister(TamrelTester::PumpTypeNames(), connection, regPumpType, "pump")
                           : pumpType;
    subject.HeadType = headType.isEmpty()
                           ? FromRegister(TamrelTester::HeadTypeNames(), connection, regResistiveHead, "head")
                           : headType;

    // Manual control in percent, as the program's sweep sets it, from the first duty on. On
    // every way out the tester is put back: the first duty, manual control as it was, and
    // stopped if the sweep started it.
    TCliTesterGuard guard(connection);
    TCliSweepTester tester(connection);
    TSweepOutcome outcome;
    try {
        guard.Drive(sweep.StartDuty);
        outcome = tester.Run(sweep);
    } catch (const ECliError &e) {
        // The first error is the one to report; the tester is put back all the same.
        guard.Restore(sweep.StartDuty);
        // A signal may end a request's wait as well as the pause between steps: it says the same.
        if (e.Kind == ceInterrupted)
            throw ECliError(ceInterrupted, QStringLiteral("the sweep was stopped; no record was stored"));
        throw;
    } catch (...) {
        guard.Restore(sweep.StartDuty);
        throw;
    }
    const QString restoreError = guard.Restore(sweep.StartDuty);
    connection.Close();

    // The measurement is shown and written out before anything can fail to store it.
    QSettings settings(UpdateServerSettingsFilePath(), QSettings::IniFormat);
    const std::optional<TTestRecord> made = MakeSweepRecord(subject, outcome, settings);
    if (!made || !SweepRecordWorthKeeping(*made, outcome.Complete))
        throw ECliError(
            ceFailed,
            restoreError.isEmpty()
                ? QStringLiteral("no position reading of the sweep was a number; no record was stored")
                : restoreError);
    const TTestRecord &record = *made;
    if (!line.Json()) PrintResult(record, false, QString());
    QStringList errors;
    if (!restoreError.isEmpty()) errors << restoreError;
    if (line.Parser.isSet(out)) {
        try {
            SaveExportFile(line.Parser.value(out), TestRecordPointsCsv(record));
        } catch (const ETestRecordExport &e) {
            errors << QString::fromStdString(e.what());
        }
    }
    QString storedIn;
    try {
        // The window's store: the server with the local queue when one is configured.
        const TStoredTestRecord where =
            StoreTestRecord(UpdateServerSettingsFilePath(), {}, record, CliStoreWaitMs);
        storedIn =
            !where.ServerSet ? where.FilePath
            : where.Sent
                ? QStringLiteral("the test-record server")
                : QStringLiteral("%1, waiting for the server (%2)").arg(where.FilePath, where.ServerError);
    } catch (const ETestRecordStore &e) {
        errors << QStringLiteral("the record could not be stored: %1").arg(e.what());
    }
    if (line.Json())
        PrintResult(record, true, storedIn);
    else if (!storedIn.isEmpty())
        CliOut(QStringLiteral("Record: %1 in %2").arg(record.Id, storedIn));
    for (const QString &error : errors)
        CliErr(CliErrorPrefix(ceFailed) + error);
    // A stored record's verdict is the answer; without a stored record, or with the tester
    // not put back, the run failed.
    if (storedIn.isEmpty() || !restoreError.isEmpty()) return CliExitError;
    return record.Verdict == tvFail ? CliExitFail : CliExitOk;
}

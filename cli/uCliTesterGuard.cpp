#include "uCliTesterGuard.h"

#include "uCliError.h"
#include "uCliWait.h"
#include "uTamrelRegisterMap.h"

using namespace TamrelReg;

namespace {
qint64 ReadInt(TCliConnection &connection, quint8 reg) {
    return RegisterToVariant(connection.Read(reg)).toLongLong();
}
} // namespace

TCliTesterGuard::~TCliTesterGuard() {
    try {
        if (FDriven) Restore(FRestDuty);
    } catch (...) {
        // Nothing may leave a destructor; the command's own error is the one reported.
    }
}

void TCliTesterGuard::Drive(int duty) {
    FDriven = true;
    FRestDuty = duty;
    const bool running = ReadInt(FConnection, regStartStop) == 1;
    const bool manualOn = ReadInt(FConnection, regManualControl) != 0;
    FUnitBefore = ReadInt(FConnection, regManualInVolt);
    // Each change is noted before it is sent: a write whose acknowledgement is lost may still
    // have been made.
    if (!running) {
        FStartedTester = true;
        FConnection.Write(regStartStop, 1);
    }
    if (!manualOn) {
        FTurnedManualOn = true;
        FConnection.Write(regManualControl, 1);
    }
    if (FUnitBefore != 0) {
        FChangedUnit = true;
        FConnection.Write(regManualInVolt, 0);
    }
    FConnection.Write(regManualControlPWM1, duty);
}

QString TCliTesterGuard::Restore(int restDuty) {
    if (!FDriven) return {};
    FDriven = false;
    struct TStep {
        bool Needed;
        quint8 Reg;
        qint64 Value;
    };
    const TStep steps[] = {
        {true, regManualControlPWM1, restDuty},
        {FChangedUnit, regManualInVolt, FUnitBefore},
        {FTurnedManualOn, regManualControl, 0},
        {FStartedTester, regStartStop, 0},
    };
    // Every step is sent even when an earlier one went unanswered: a tester whose answers are
    // lost may still take the writes. A lost answer is asked for again as in the command, but
    // once a step has gone unanswered through all its repeats the rest are sent once each, so
    // a tester gone for good costs little more than one time-out per step.
    const int retries = FConnection.Retries;
    QString failed;
    for (const TStep &step : steps) {
        if (!step.Needed) continue;
        // The signal that ended the command has been taken: the tester is put back still.
        CliResetInterrupt();
        try {
            FConnection.Write(step.Reg, step.Value);
        } catch (const ECliError &e) {
            FConnection.Retries = 0;
            if (failed.isEmpty())
                failed = QStringLiteral("the tester may not have been put back (register %1 := %2): %3")
                             .arg(step.Reg)
                             .arg(step.Value)
                             .arg(QString::fromStdString(e.what()));
        }
    }
    FConnection.Retries = retries;
    return failed;
}

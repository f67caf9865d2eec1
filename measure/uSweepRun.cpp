#include "uSweepRun.h"

#include "uTamrelRegisterNumber.h"

void TSweepRun::Start(const TSweepSettings &settings) {
    if (FAwaitingLast) Finish();
    FOutcome = TSweepOutcome();
    FOutcome.Settings = settings;
    FOutcome.StartedAt = QDateTime::currentDateTimeUtc();
    FStart = settings.StartDuty;
    FEnd = settings.EndDuty;
    FStep = settings.StepDuty;
    FDuty = FStart;
    FSampleWanted = false;
    FMode = dmForward;
    FTester.WriteDuty(FDuty);
    // Settled sampling reads the start duty's position at the end of its period, at the
    // first step; sampling right after the step reads it now.
    if (settings.Sampling == smAfterStep) RequestSample(dmForward);
    FTester.StartSteps(settings.PeriodMs);
}

void TSweepRun::Follow(qint64 dutyInForce, qint64 start, qint64 end, qint64 step) {
    FDuty = dutyInForce;
    FStart = start;
    FEnd = end;
    FStep = step;
}

void TSweepRun::Tick() {
    if (FMode == dmNone) return;
    // A sweep keeps the sampling it started with.
    const bool settled = FOutcome.Settings.Sampling == smSettled;
    // The duty in force has had its whole period to settle: its position is asked for first,
    // before the next duty's write, so that the tester answers it for this duty. A position
    // read after the write would show the actuator before it moved.
    if (settled) RequestSample(FMode);
    const TSweepStep next = NextSweepStep(FDuty, FMode, FStart, FEnd, FStep);
    if (next.Mode == dmNone) {
        End(true, true);
        return;
    }
    FMode = next.Mode;
    FDuty = next.Duty;
    FTester.WriteDuty(FDuty);
    if (!settled) RequestSample(FMode);
}

void TSweepRun::Stop(TSweepStop why) {
    if (FMode == dmNone) return;
    End(false, why == ssUser);
}

void TSweepRun::RequestSample(TDiagramMode mode) {
    // A newer request replaces one still open: a step whose reading did not come has no point.
    FSampleWanted = true;
    FSampleDuty = FDuty;
    FSampleMode = mode;
    FTester.RequestPosition();
}

void TSweepRun::End(bool complete, bool awaitLastSample) {
    FMode = dmNone;
    FOutcome.Complete = complete;
    FDuty = FStart;
    FTester.WriteDuty(FStart);
    FTester.StepsEnded();
    // A blocking face may have taken the last sample already, inside the request.
    if (awaitLastSample && FSampleWanted) {
        FAwaitingLast = true;
        FTester.AwaitLastSample(LastSampleWaitMs);
        return;
    }
    Finish();
}

void TSweepRun::PositionReceived(std::optional<qint64> millivolts) {
    if (!FSampleWanted || !millivolts) return;
    FSampleWanted = false;
    const TTestRecordPoint point{double(FSampleDuty), double(*millivolts) / 1000.0,
                                 SweepBranchOf(FSampleMode)};
    FOutcome.Points.append(point);
    FTester.SampleTaken(point);
    if (FAwaitingLast) Finish();
}

void TSweepRun::GiveUpLastSample() {
    if (FAwaitingLast) Finish();
}

void TSweepRun::Finish() {
    FAwaitingLast = false;
    // A reading that comes after this belongs to no sweep.
    FSampleWanted = false;
    FTester.SweepFinished(FOutcome);
}

std::optional<qint64> SweepPositionMillivolts(const TKvRegister &reg) {
    return TamrelReg::RegisterNumber(reg, TesterRegistersInfo()[TamrelReg::regPosition1].RegType);
}

#pragma once
// The plan of a hysteresis sweep: the duty rises from the start by the step while it stays
// within the end, then falls by the step while it stays above the start. The top is measured
// once (on the rising branch) and the start is not measured again on the way down.
#include "uTestRecord.h"

#include <QtGlobal>

// State of the hysteresis sweep: no sweep, duty rising, duty falling.
enum TDiagramMode : quint8 { dmNone = 0, dmForward = 1, dmBackward = 2 };

// The step that follows a duty: the next duty and the half it belongs to, or dmNone when the
// loop is closed (Duty is then the start, where the sweep leaves the duty).
struct TSweepStep {
    TDiagramMode Mode = dmNone;
    qint64 Duty = 0;
    bool operator==(const TSweepStep &) const = default;
};

// The step after duty in mode, for the sweep from start to end by step (compared as 64-bit
// signed integers). A step of 0 measures the start again at every step while start <= end.
TSweepStep NextSweepStep(qint64 duty, TDiagramMode mode, qint64 start, qint64 end, qint64 step);

// The branch of the loop that a sample taken in mode belongs to.
inline TSweepBranch SweepBranchOf(TDiagramMode mode) {
    return mode == dmBackward ? sbFalling : sbRising;
}

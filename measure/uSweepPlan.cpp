#include "uSweepPlan.h"

TSweepStep NextSweepStep(qint64 duty, TDiagramMode mode, qint64 start, qint64 end, qint64 step) {
    if (mode == dmForward) {
        if (duty + step <= end) return {dmForward, duty + step};
        // Past the end: the loop turns, and the top is not measured twice.
        mode = dmBackward;
    }
    if (mode == dmBackward && duty - step > start) return {dmBackward, duty - step};
    // Back at (or below) the start, which the rising branch began with: the loop is closed.
    return {dmNone, start};
}

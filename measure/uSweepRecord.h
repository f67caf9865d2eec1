#pragma once
// The test record a sweep leaves: what the face knows of the head and the tester, the
// sweep's settings and points, its figures, the limits in force and the verdict; and whether
// it is worth keeping.
#include "uSweepRun.h"
#include "uTestRecord.h"

#include <optional>

class QSettings;

// Who and what was measured, as the face knows it.
struct TSweepSubject {
    QString HeadSerial;
    QString TesterId; // the port, or the identification when there is no port
    QString Firmware; // register 0's text
    QString PumpType;
    QString HeadType;
};

// The record of a finished sweep with at least one point: a new id, taken when the sweep
// started, judged against the limits stored for its pump and head type under settings.
// Nothing for a sweep without a point: there is nothing to judge or keep.
std::optional<TTestRecord> MakeSweepRecord(const TSweepSubject &subject, const TSweepOutcome &outcome,
                                           QSettings &settings);

// A record is kept when its loop was closed, or when its branches could be compared at one
// duty at least: a sweep stopped before its branches met has no hysteresis to keep.
bool SweepRecordWorthKeeping(const TTestRecord &record, bool complete);

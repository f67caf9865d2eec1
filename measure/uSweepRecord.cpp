#include "uSweepRecord.h"

std::optional<TTestRecord> MakeSweepRecord(const TSweepSubject &subject, const TSweepOutcome &outcome,
                                           QSettings &settings) {
    if (outcome.Points.isEmpty()) return std::nullopt;
    TTestRecord record;
    record.Id = TTestRecord::NewId();
    record.HeadSerial = subject.HeadSerial;
    record.TakenAt = outcome.StartedAt.isValid() ? outcome.StartedAt : QDateTime::currentDateTimeUtc();
    record.TesterId = subject.TesterId;
    record.Firmware = subject.Firmware;
    record.PumpType = subject.PumpType;
    record.HeadType = subject.HeadType;
    record.Sweep = outcome.Settings;
    record.Points = outcome.Points;
    record.Limits = LoadTestLimits(settings, record.PumpType, record.HeadType);
    record.Evaluate();
    return record;
}

bool SweepRecordWorthKeeping(const TTestRecord &record, bool complete) {
    return !record.Points.isEmpty() && (complete || record.Figures.ComparedPoints > 0);
}

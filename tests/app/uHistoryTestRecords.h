#pragma once
// Test records of a known shape for the history window's tests and its README picture: a sweep
// from 10 % to 90 % in steps of 4 %, the rising branch 0.5 V + 0.04 V per percent (a span of
// 3.2 V), the falling branch above it by width * sin, the most (width) at 50 %.
#include "uTestRecord.h"

#include <cmath>

inline TTestRecord HistoryTestRecord(const QString &serial, const QDateTime &takenAt, double width,
                                     bool withLimits = true) {
    TTestRecord record;
    record.Id = TTestRecord::NewId();
    record.HeadSerial = serial;
    record.TakenAt = takenAt.toUTC();
    record.TesterId = QStringLiteral("/dev/ttyACM0");
    record.Firmware = QStringLiteral("Tavik TAMREL 1.6");
    record.PumpType = QStringLiteral("VE");
    record.HeadType = QStringLiteral("Inductive");
    record.Sweep = {10, 90, 4, 200, smSettled};
    for (int duty = 10; duty <= 90; duty += 4)
        record.Points.append({double(duty), 0.5 + 0.04 * duty, sbRising});
    for (int duty = 90; duty >= 10; duty -= 4)
        record.Points.append(
            {double(duty), 0.5 + 0.04 * duty + width * std::sin((duty - 10) / 80.0 * M_PI), sbFalling});
    if (withLimits) record.Limits = {0.3, std::nullopt, 2.0};
    record.Evaluate();
    return record;
}

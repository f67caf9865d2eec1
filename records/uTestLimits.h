#pragma once
// The limits a head must meet in the hysteresis test, per pump type and head type, and the
// verdict of a sweep's figures against them.
#include "uHysteresisFigures.h"

#include <QString>
#include <QStringList>
#include <optional>

class QSettings;

// Every limit may be unset; a head type with no limit set gets figures but no verdict.
struct TTestLimits {
    std::optional<double> MaxHysteresisVolts;   // the maximum hysteresis may be at most this
    std::optional<double> MaxHysteresisPercent; // ... and at most this percentage of the span
    std::optional<double> MinSpanVolts;         // the rising branch must span at least this

    bool IsEmpty() const { return !MaxHysteresisVolts && !MaxHysteresisPercent && !MinSpanVolts; }
    bool operator==(const TTestLimits &) const = default;
};

// Stored as a number: 0, 1, 2 (kept in test records).
enum TTestVerdict : quint8 { tvNone = 0, tvPass = 1, tvFail = 2 };

struct TTestJudgement {
    TTestVerdict Verdict = tvNone;
    // One line for each limit not met, for the display, e.g. "Max hysteresis 0.42 V > 0.30 V".
    QStringList Failures;
};

// "PASS", "FAIL", or "" for no verdict.
QString TestVerdictText(TTestVerdict verdict);

// Judges a sweep's figures. No limit set: tvNone. A figure exactly at its limit passes (within
// a billionth, so that 1.3 V - 1.0 V at a 0.3 V limit is not failed by rounding). A limit whose
// figure is not available fails: a sweep stopped before its branches overlap, or one whose
// span is 0 V under a percentage limit, has not shown that the head meets it.
TTestJudgement JudgeHysteresis(const THysteresisFigures &figures, const TTestLimits &limits);

// The limits stored for a pump type and head type under the group "TestLimits" of settings;
// an entry that is missing or not a finite number is unset.
TTestLimits LoadTestLimits(QSettings &settings, const QString &pumpType, const QString &headType);
// Stores them there; an unset limit removes its entry.
void SaveTestLimits(QSettings &settings, const QString &pumpType, const QString &headType,
                    const TTestLimits &limits);

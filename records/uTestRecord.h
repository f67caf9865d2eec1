#pragma once
// One hysteresis test of one actuator head as it is stored: who, when, on what, how the sweep
// ran, every sample, the figures, the limits in force and the verdict.
#include "uHysteresisFigures.h"
#include "uTestLimits.h"

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <QVector>

// When the position feedback is read after a duty step: after the period has let the
// actuator settle, or at once (which shows the actuator's lag as well).
enum TSamplingMode : quint8 { smSettled = 0, smAfterStep = 1 };

struct TSweepSettings {
    int StartDuty = 0; // percent
    int EndDuty = 0;   // percent
    int StepDuty = 1;  // percent
    int PeriodMs = 0;
    TSamplingMode Sampling = smSettled;
    bool operator==(const TSweepSettings &) const = default;
};

enum TSweepBranch : quint8 { sbRising = 0, sbFalling = 1 };

struct TTestRecordPoint {
    double Duty = 0;  // percent
    double Volts = 0; // position feedback
    TSweepBranch Branch = sbRising;
    bool operator==(const TTestRecordPoint &) const = default;
};

struct TTestRecord {
    QString Id;         // a QUuid as text without braces; a record's identity everywhere
    QString HeadSerial; // typed by the technician: any text
    QDateTime TakenAt;  // kept and stored in UTC; shown in local time
    QString TesterId;   // which tester (its port or identification)
    QString Firmware;   // the tester's firmware name, register 0's text
    QString PumpType;   // "VE", "PE", "Zexel"
    QString HeadType;   // "Inductive", "Resistive"
    TSweepSettings Sweep;
    QVector<TTestRecordPoint> Points; // in the order taken
    THysteresisFigures Figures;
    TTestLimits Limits;
    TTestVerdict Verdict = tvNone;
    QStringList Failures; // the limits not met, as shown

    bool operator==(const TTestRecord &) const = default;

    static QString NewId() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

    QVector<THysteresisPoint> Branch(TSweepBranch branch) const {
        QVector<THysteresisPoint> points;
        for (const TTestRecordPoint &point : Points)
            if (point.Branch == branch) points.append({point.Duty, point.Volts});
        return points;
    }

    // Figures, verdict and failures from the points and the limits.
    void Evaluate() {
        Figures = ComputeHysteresisFigures(Branch(sbRising), Branch(sbFalling));
        const TTestJudgement judgement = JudgeHysteresis(Figures, Limits);
        Verdict = judgement.Verdict;
        Failures = judgement.Failures;
    }
};

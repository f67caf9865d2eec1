#pragma once
// The figures of one hysteresis sweep: how far the falling branch of the loop lies from the
// rising one, and how far the actuator's position feedback moved over the sweep.
#include <QVector>
#include <optional>

// One sample of a sweep: the duty cycle set (percent) and the position feedback read (volts).
struct THysteresisPoint {
    double Duty = 0;
    double Volts = 0;
    bool operator==(const THysteresisPoint &) const = default;
};

struct THysteresisFigures {
    // How many duties the branches were compared at; 0 means the hysteresis figures are not
    // available (a branch is empty or the branches share no duty range) and are all 0.
    int ComparedPoints = 0;
    // Hysteresis is the absolute difference |falling - rising| of the output voltage at equal
    // duty. Absolute, because the sign only says which way the feedback slopes with the duty
    // (a head's sensor may rise or fall with the duty, and the falling branch lags behind
    // either way), while a limit asks how far apart the branches are; a signed mean would also
    // let the parts of a loop whose branches cross cancel each other out.
    double MaxVolts = 0;
    double MeanVolts = 0;
    // The same as a percentage of SpanVolts; only meaningful when HasPercent().
    double MaxPercent = 0;
    double MeanPercent = 0;
    // The duty at which MaxVolts occurs (the lowest such duty on a tie).
    double MaxAtDuty = 0;
    // The rising branch's span: its highest minus its lowest voltage, over all its points;
    // known whenever the rising branch has a point, even when the hysteresis is not.
    double SpanVolts = 0;

    bool Available() const { return ComparedPoints > 0; }
    bool HasPercent() const { return Available() && SpanVolts > 0; }
    bool operator==(const THysteresisFigures &) const = default;
};

// Computes the figures of a sweep from its rising and its falling branch, each in the order
// taken. Duties may be unsorted and may differ between the branches: the branches are compared
// at every duty either of them was sampled at, inside the duty range both cover, the other
// branch's voltage interpolated linearly between its neighbouring samples. Samples of one
// branch at the same duty count as their mean. Non-finite samples are left out.
THysteresisFigures ComputeHysteresisFigures(const QVector<THysteresisPoint> &rising,
                                            const QVector<THysteresisPoint> &falling);

// A branch's voltage at duty, interpolated linearly between its neighbouring samples in the
// same way as the figures compare the branches; nothing when duty lies outside the branch.
std::optional<double> BranchVoltsAt(const QVector<THysteresisPoint> &branch, double duty);

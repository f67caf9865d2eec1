#include "uHysteresisFigures.h"

#include <algorithm>
#include <cmath>

namespace {

// A branch ordered by duty, with one voltage per duty.
QVector<THysteresisPoint> Normalised(const QVector<THysteresisPoint> &branch) {
    QVector<THysteresisPoint> sorted;
    sorted.reserve(branch.size());
    for (const THysteresisPoint &point : branch)
        if (std::isfinite(point.Duty) && std::isfinite(point.Volts)) sorted.append(point);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const THysteresisPoint &a, const THysteresisPoint &b) { return a.Duty < b.Duty; });
    QVector<THysteresisPoint> merged;
    merged.reserve(sorted.size());
    for (qsizetype first = 0; first < sorted.size();) {
        qsizetype last = first;
        double sum = 0;
        while (last < sorted.size() && sorted[last].Duty == sorted[first].Duty)
            sum += sorted[last++].Volts;
        merged.append({sorted[first].Duty, sum / double(last - first)});
        first = last;
    }
    return merged;
}

// The branch's voltage at duty, which lies within the branch's duty range.
double VoltsAt(const QVector<THysteresisPoint> &branch, double duty) {
    const auto upper = std::lower_bound(branch.cbegin(), branch.cend(), duty,
                                        [](const THysteresisPoint &p, double d) { return p.Duty < d; });
    if (upper == branch.cend()) return branch.last().Volts;
    if (upper->Duty == duty || upper == branch.cbegin()) return upper->Volts;
    const THysteresisPoint &lower = *(upper - 1);
    const double share = (duty - lower.Duty) / (upper->Duty - lower.Duty);
    return lower.Volts + share * (upper->Volts - lower.Volts);
}

} // namespace

THysteresisFigures ComputeHysteresisFigures(const QVector<THysteresisPoint> &rising,
                                            const QVector<THysteresisPoint> &falling) {
    const QVector<THysteresisPoint> up = Normalised(rising);
    const QVector<THysteresisPoint> down = Normalised(falling);
    THysteresisFigures figures;
    if (!up.isEmpty()) {
        // Over the samples as taken: two readings at one duty both count for the span.
        double lowest = up.first().Volts, highest = up.first().Volts;
        for (const THysteresisPoint &point : rising) {
            if (!std::isfinite(point.Duty) || !std::isfinite(point.Volts)) continue;
            lowest = std::min(lowest, point.Volts);
            highest = std::max(highest, point.Volts);
        }
        figures.SpanVolts = highest - lowest;
    }
    if (up.isEmpty() || down.isEmpty()) return figures;

    const double low = std::max(up.first().Duty, down.first().Duty);
    const double high = std::min(up.last().Duty, down.last().Duty);
    if (low > high) return figures;

    QVector<double> duties;
    for (const auto *branch : {&up, &down})
        for (const THysteresisPoint &point : *branch)
            if (point.Duty >= low && point.Duty <= high) duties.append(point.Duty);
    std::sort(duties.begin(), duties.end());
    duties.erase(std::unique(duties.begin(), duties.end()), duties.end());

    double sum = 0;
    for (double duty : duties) {
        const double difference = std::abs(VoltsAt(down, duty) - VoltsAt(up, duty));
        sum += difference;
        if (figures.ComparedPoints == 0 || difference > figures.MaxVolts) {
            figures.MaxVolts = difference;
            figures.MaxAtDuty = duty;
        }
        ++figures.ComparedPoints;
    }
    figures.MeanVolts = sum / double(figures.ComparedPoints);

    if (figures.SpanVolts > 0) {
        figures.MaxPercent = 100.0 * figures.MaxVolts / figures.SpanVolts;
        figures.MeanPercent = 100.0 * figures.MeanVolts / figures.SpanVolts;
    }
    return figures;
}

std::optional<double> BranchVoltsAt(const QVector<THysteresisPoint> &branch, double duty) {
    const QVector<THysteresisPoint> sorted = Normalised(branch);
    if (sorted.isEmpty() || !(duty >= sorted.first().Duty && duty <= sorted.last().Duty)) return std::nullopt;
    return VoltsAt(sorted, duty);
}

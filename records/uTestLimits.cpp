#include "uTestLimits.h"

#include <QLocale>
#include <QSettings>
#include <QUrl>
#include <cmath>

namespace {

// Figures come from millivolt readings; a billionth is far below anything measured.
constexpr double LimitTolerance = 1e-9;

const QString KeyMaxVolts = QStringLiteral("MaxHysteresisVolts");
const QString KeyMaxPercent = QStringLiteral("MaxHysteresisPercent");
const QString KeyMinSpan = QStringLiteral("MinSpanVolts");

// The figure and the limit with as many decimals as it takes to tell them apart (at least
// `decimals`), so that a failure never reads "0.30 V > 0.30 V".
QString Compared(double figure, const char *relation, double limit, int decimals, const QString &unit) {
    QString a, b;
    for (int d = decimals; d <= 9; ++d) {
        a = QString::number(figure, 'f', d);
        b = QString::number(limit, 'f', d);
        if (a != b) break;
    }
    return QStringLiteral("%1 %2 %3 %4 %2").arg(a, unit, QLatin1String(relation), b);
}

// Settings keys hold '/' as a group separator: a type's name is percent-encoded to stay one key.
QString GroupOf(const QString &pumpType, const QString &headType) {
    return QStringLiteral("TestLimits/%1/%2")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(pumpType)),
             QString::fromLatin1(QUrl::toPercentEncoding(headType)));
}

std::optional<double> Read(const QSettings &settings, const QString &key) {
    bool ok = false;
    const double value = settings.value(key).toString().toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

void Write(QSettings &settings, const QString &key, const std::optional<double> &value) {
    if (value)
        settings.setValue(key, QString::number(*value, 'g', QLocale::FloatingPointShortest));
    else
        settings.remove(key);
}

} // namespace

QString TestVerdictText(TTestVerdict verdict) {
    switch (verdict) {
    case tvPass:
        return QStringLiteral("PASS");
    case tvFail:
        return QStringLiteral("FAIL");
    case tvNone:
        break;
    }
    return {};
}

TTestJudgement JudgeHysteresis(const THysteresisFigures &figures, const TTestLimits &limits) {
    TTestJudgement judgement;
    if (limits.IsEmpty()) return judgement;
    const QString volts = QStringLiteral("V"), percent = QStringLiteral("%");

    if ((limits.MaxHysteresisVolts || limits.MaxHysteresisPercent) && !figures.Available())
        judgement.Failures << QStringLiteral("Hysteresis not measured: the branches share no duty range");
    if (limits.MaxHysteresisVolts && figures.Available() &&
        figures.MaxVolts > *limits.MaxHysteresisVolts + LimitTolerance)
        judgement.Failures << QStringLiteral("Max hysteresis ") +
                                  Compared(figures.MaxVolts, ">", *limits.MaxHysteresisVolts, 2, volts);
    if (limits.MaxHysteresisPercent && figures.Available()) {
        if (!figures.HasPercent())
            judgement.Failures << QStringLiteral("Max hysteresis in % not measured: the span is 0 V");
        else if (figures.MaxPercent > *limits.MaxHysteresisPercent + LimitTolerance)
            judgement.Failures << QStringLiteral("Max hysteresis ") + Compared(figures.MaxPercent, ">",
                                                                               *limits.MaxHysteresisPercent,
                                                                               1, percent);
    }
    if (limits.MinSpanVolts && figures.SpanVolts < *limits.MinSpanVolts - LimitTolerance)
        judgement.Failures << QStringLiteral("Span ") +
                                  Compared(figures.SpanVolts, "<", *limits.MinSpanVolts, 2, volts);

    judgement.Verdict = judgement.Failures.isEmpty() ? tvPass : tvFail;
    return judgement;
}

TTestLimits LoadTestLimits(QSettings &settings, const QString &pumpType, const QString &headType) {
    settings.beginGroup(GroupOf(pumpType, headType));
    TTestLimits limits;
    limits.MaxHysteresisVolts = Read(settings, KeyMaxVolts);
    limits.MaxHysteresisPercent = Read(settings, KeyMaxPercent);
    limits.MinSpanVolts = Read(settings, KeyMinSpan);
    settings.endGroup();
    return limits;
}

void SaveTestLimits(QSettings &settings, const QString &pumpType, const QString &headType,
                    const TTestLimits &limits) {
    settings.beginGroup(GroupOf(pumpType, headType));
    Write(settings, KeyMaxVolts, limits.MaxHysteresisVolts);
    Write(settings, KeyMaxPercent, limits.MaxHysteresisPercent);
    Write(settings, KeyMinSpan, limits.MinSpanVolts);
    settings.endGroup();
}

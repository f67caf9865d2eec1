#include "uTestRecordCsv.h"

#include <cmath>

namespace {

const QString LineEnd = QStringLiteral("\r\n");

QByteArray Rows(const QStringList &header, const QVector<QStringList> &rows) {
    QString text = header.join(u',') + LineEnd;
    for (const QStringList &row : rows) {
        QStringList fields;
        fields.reserve(row.size());
        for (const QString &field : row)
            fields << CsvField(field);
        text += fields.join(u',') + LineEnd;
    }
    return text.toUtf8();
}

} // namespace

QString CsvField(const QString &text) {
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString CsvText(const QString &text) {
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text[0])) return u'\'' + text;
    return text;
}

QString CsvNumber(double value, int decimals) {
    if (!std::isfinite(value)) return QString();
    double scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    const double scaled = std::round(value * scale); // half away from zero
    // QString::number never follows the default locale: '.' and no group separators. Beyond
    // 2^53 a double holds no fractional digits anyway.
    if (std::fabs(scaled) >= 9007199254740992.0) return QString::number(value, 'f', decimals);
    // Written from the whole number of units: the text is the exact decimal of what was
    // rounded, with no second rounding in a formatter and no negative zero.
    const qint64 units = qint64(scaled);
    const quint64 magnitude = quint64(units < 0 ? -units : units);
    QString digits = QString::number(magnitude).rightJustified(decimals + 1, u'0');
    if (decimals > 0) digits.insert(digits.size() - decimals, u'.');
    return units < 0 ? u'-' + digits : digits;
}

QString CsvVolts(double volts) {
    return CsvNumber(volts, 3);
}

QString CsvPercent(double percent) {
    return CsvNumber(percent, 1);
}

QString CsvLocalTime(const QDateTime &time) {
    const QDateTime local = time.toLocalTime();
    // As an offset from UTC, so that the text carries the offset that was in force then.
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QByteArray TestRecordPointsCsv(const TTestRecord &record) {
    QVector<QStringList> rows;
    rows.reserve(record.Points.size());
    const QString takenAt = CsvLocalTime(record.TakenAt);
    for (int i = 0; i < record.Points.size(); ++i) {
        const TTestRecordPoint &point = record.Points[i];
        rows.append({record.Id, CsvText(record.HeadSerial), takenAt, CsvText(record.PumpType),
                     CsvText(record.HeadType),
                     point.Branch == sbFalling ? QStringLiteral("falling") : QStringLiteral("rising"),
                     QString::number(i), CsvPercent(point.Duty), CsvVolts(point.Volts)});
    }
    return Rows({"record_id", "head_serial", "taken_at", "pump_type", "head_type", "branch", "point",
                 "duty_percent", "volts"},
                rows);
}

QByteArray TestRecordListCsv(const QVector<TTestRecordSummary> &records) {
    QVector<QStringList> rows;
    rows.reserve(records.size());
    for (const TTestRecordSummary &record : records) {
        const THysteresisFigures &f = record.Figures;
        const auto ifVolts = [&](double value) { return f.Available() ? CsvVolts(value) : QString(); };
        const auto ifPercent = [&](double value) { return f.HasPercent() ? CsvPercent(value) : QString(); };
        rows.append({record.Id, CsvText(record.HeadSerial), CsvLocalTime(record.TakenAt),
                     CsvText(record.PumpType), CsvText(record.HeadType), TestVerdictText(record.Verdict),
                     QString::number(f.ComparedPoints), ifVolts(f.MaxVolts), ifVolts(f.MeanVolts),
                     ifPercent(f.MaxPercent), ifPercent(f.MeanPercent),
                     f.Available() ? CsvPercent(f.MaxAtDuty) : QString(), CsvVolts(f.SpanVolts)});
    }
    return Rows({"record_id", "head_serial", "taken_at", "pump_type", "head_type", "verdict",
                 "compared_points", "max_hysteresis_v", "mean_hysteresis_v", "max_hysteresis_percent",
                 "mean_hysteresis_percent", "max_at_duty_percent", "span_v"},
                rows);
}

QByteArray TimeSamplesCsv(const QVector<QPointF> &samples) {
    QVector<QStringList> rows;
    rows.reserve(samples.size());
    for (const QPointF &sample : samples)
        rows.append({CsvNumber(sample.x(), 0), CsvVolts(sample.y())});
    return Rows({"time_ms", "volts"}, rows);
}

#include "uTestRecordCsv.h"

#include <QLocale>

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

QString CsvNumber(double value) {
    // QString::number never follows the default locale: '.' and no group separators.
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
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
                     QString::number(i), CsvNumber(point.Duty), CsvNumber(point.Volts)});
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
        const auto ifAvailable = [&](double value) { return f.Available() ? CsvNumber(value) : QString(); };
        const auto ifPercent = [&](double value) { return f.HasPercent() ? CsvNumber(value) : QString(); };
        rows.append({record.Id, CsvText(record.HeadSerial), CsvLocalTime(record.TakenAt),
                     CsvText(record.PumpType), CsvText(record.HeadType), TestVerdictText(record.Verdict),
                     QString::number(f.ComparedPoints), ifAvailable(f.MaxVolts), ifAvailable(f.MeanVolts),
                     ifPercent(f.MaxPercent), ifPercent(f.MeanPercent), ifAvailable(f.MaxAtDuty),
                     CsvNumber(f.SpanVolts)});
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
        rows.append({CsvNumber(sample.x()), CsvNumber(sample.y())});
    return Rows({"time_ms", "volts"}, rows);
}

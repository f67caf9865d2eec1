#pragma once
// Test records as CSV (RFC 4180) for spreadsheets and other programs: UTF-8, comma-separated,
// CRLF line ends, a header row, no byte-order mark; numbers always with '.' as the decimal
// separator whatever the user's locale, with the digits the measurement has (volts to the
// millivolt, percent to a tenth, times to the millisecond); instants in local time, ISO 8601
// with the offset from UTC.
#include "uTestRecord.h"
#include "uTestRecordStore.h"

#include <QByteArray>
#include <QPointF>

// A field as written: in double quotes, inner quotes doubled, when it holds a comma, a quote or
// a line break (serial numbers are typed by the user), else as it is.
QString CsvField(const QString &text);
// Typed text (a serial, a type) as a spreadsheet must show it: text that starts with '=', '+',
// '-' or '@' would be taken for a formula, so it gets a leading apostrophe, which spreadsheets
// read as "this is text". Numbers never go through this.
QString CsvText(const QString &text);
// value rounded to the given number of decimals, half away from zero, written in full with
// '.' and no exponent: CsvNumber(0.0005, 3) -> "0.001", CsvNumber(100, 1) -> "100.0",
// CsvNumber(-0.0004, 3) -> "0.000" (no negative zero). The tester counts in millivolts and
// whole percent, so a record's value k / 1000.0 is written as the exact decimal k / 1000 and
// any reader's correctly rounded parser gives the very same double back; a value with more
// digits than the measurement (a mean) is rounded to its precision. Not finite: an empty field.
QString CsvNumber(double value, int decimals);
QString CsvVolts(double volts);     // to the millivolt: 3 decimals
QString CsvPercent(double percent); // to a tenth of a percent: 1 decimal
// 2026-03-01T09:15:30.250+01:00 for 08:15:30.250 UTC where the local zone is UTC+1.
QString CsvLocalTime(const QDateTime &time);

// One row per point of the record: record_id, head_serial, taken_at, pump_type, head_type,
// branch ("rising"/"falling"), point (its place in the order taken, from 0), duty_percent, volts.
QByteArray TestRecordPointsCsv(const TTestRecord &record);

// One row per record with its figures: record_id, head_serial, taken_at, pump_type, head_type,
// verdict ("PASS", "FAIL" or empty), compared_points, max_hysteresis_v, mean_hysteresis_v,
// max_hysteresis_percent, mean_hysteresis_percent, max_at_duty_percent, span_v. Figures that
// are not available are empty fields.
QByteArray TestRecordListCsv(const QVector<TTestRecordSummary> &records);

// The position chart's samples: time_ms, volts, a row per sample (x is the time in whole
// milliseconds, y the voltage).
QByteArray TimeSamplesCsv(const QVector<QPointF> &samples);

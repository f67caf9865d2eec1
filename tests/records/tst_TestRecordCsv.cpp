// CSV exports read back, field by field, in a process whose locale writes "1,5" for 1.5.
#include "TestMain.h"
#include "uCsvTestSupport.h"
#include "uRecordTestSupport.h"
#include "uTestRecordCsv.h"
#include "uTestRecordExportFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <clocale>
#include <cmath>
#include <ctime>

namespace {

double Number(const QString &text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok) qWarning("not a number: %s", qPrintable(text));
    return ok ? value : std::nan("");
}

// QCOMPARE compares doubles fuzzily; an export must give back the very same double.
#define COMPARE_EXACTLY(actual, expected)                                                                    \
    QVERIFY2((actual) == (expected), qPrintable(QString::number(actual, 'g', 17) + QStringLiteral(" != ") +  \
                                                QString::number(expected, 'g', 17)))

// What a value reads back as from its field: the decimal at the measurement's precision.
double AtPrecision(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

// A record as the tester measures it: duties in whole percent, volts in whole millivolts.
TTestRecord MeasuredRecord(const QVector<int> &millivolts) {
    TTestRecord record = FullTestRecord(QStringLiteral("M-1"));
    record.Points.clear();
    for (int i = 0; i < millivolts.size(); ++i)
        record.Points.append({double(i % 101), millivolts[i] / 1000.0, i % 2 ? sbFalling : sbRising});
    return record;
}

QDateTime Instant(const QString &text) {
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

} // namespace

class TestTestRecordCsv : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void field_data();
    void field();
    void number_data();
    void number();
    void everyMillivoltReadsBackExactly();
    void pointsReadBack();
    void listReadBack();
    void samplesReadBack();
    void pythonReadsTheSame();
    void formulaLikeTextStaysText_data();
    void formulaLikeTextStaysText();
    void saveFailureIsReported();

private:
    TTestRecord FRecord;
};

void TestTestRecordCsv::initTestCase() {
    // Central European time (UTC+1 in March), and German number formats everywhere they could
    // leak in: Qt's default locale and the C library's.
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) qInfo("no de_DE.UTF-8 C locale here; Qt's default is German");
    QCOMPARE(QLocale().toString(1.5), QStringLiteral("1,5"));
    FRecord = FullTestRecord();
}

void TestTestRecordCsv::field_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << "SN-42 Ä"
                           << "SN-42 Ä";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("comma") << "12,5"
                           << "\"12,5\"";
    QTest::newRow("quote") << "5\" head"
                           << "\"5\"\" head\"";
    QTest::newRow("line feed") << "a\nb"
                               << "\"a\nb\"";
    QTest::newRow("carriage return") << "a\rb"
                                     << "\"a\rb\"";
}

void TestTestRecordCsv::field() {
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(CsvField(text), field);
}

void TestTestRecordCsv::number_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("readBack");
    // Volts to the millivolt, percent to a tenth, in a locale that writes "1,5" (initTestCase).
    QTest::newRow("half a millivolt rounds away from zero") << 0.0005 << 3 << "0.001" << 0.001;
    QTest::newRow("below half a millivolt") << 0.00049 << 3 << "0.000" << 0.0;
    QTest::newRow("a mean with more digits") << (2.0 + 2.001 + 2.001) / 3 << 3 << "2.001" << 2.001;
    QTest::newRow("negative") << -0.25 << 3 << "-0.250" << -0.25;
    QTest::newRow("negative half a millivolt") << -0.0005 << 3 << "-0.001" << -0.001;
    QTest::newRow("no negative zero") << -0.0004 << 3 << "0.000" << 0.0;
    QTest::newRow("12.345 V") << 12.345 << 3 << "12.345" << 12.345;
    QTest::newRow("12345 mV measured") << 12345 / 1000.0 << 3 << "12.345" << 12.345;
    QTest::newRow("no group separator") << 12345.678 << 3 << "12345.678" << 12345.678;
    QTest::newRow("0.1 + 0.2 V") << 0.1 + 0.2 << 3 << "0.300" << 0.3;
    QTest::newRow("below a microvolt") << -3e-7 << 3 << "0.000" << 0.0;
    QTest::newRow("100 %") << 100.0 << 1 << "100.0" << 100.0;
    QTest::newRow("a third of a percent") << 100.0 / 3 << 1 << "33.3" << 33.3;
    QTest::newRow("0.05 %") << 0.05 << 1 << "0.1" << 0.1;
    QTest::newRow("whole milliseconds") << 1000.5 << 0 << "1001" << 1001.0;
}

void TestTestRecordCsv::number() {
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QFETCH(double, readBack);
    QCOMPARE(CsvNumber(value, decimals), text);
    COMPARE_EXACTLY(Number(CsvNumber(value, decimals)), readBack);
    if (decimals == 3) QCOMPARE(CsvVolts(value), text);
    if (decimals == 1) QCOMPARE(CsvPercent(value), text);
    QCOMPARE(CsvNumber(std::nan(""), decimals), QString()); // not available: an empty field
}

void TestTestRecordCsv::everyMillivoltReadsBackExactly() {
    // Every reading from -5 V to 15 V, as the record holds it (k / 1000.0), read back by the
    // strict reader gives the very same double.
    QVector<int> millivolts;
    for (int mv = -5000; mv <= 15000; ++mv)
        millivolts << mv;
    const TTestRecord record = MeasuredRecord(millivolts);
    const QVector<QStringList> rows = ParseCsv(TestRecordPointsCsv(record));
    QCOMPARE(rows.size(), 1 + record.Points.size());
    for (int i = 0; i < record.Points.size(); ++i) {
        COMPARE_EXACTLY(Number(rows[i + 1][7]), record.Points[i].Duty);
        COMPARE_EXACTLY(Number(rows[i + 1][8]), record.Points[i].Volts);
        QCOMPARE(rows[i + 1][8].size() - rows[i + 1][8].indexOf(u'.'), 4); // three decimals, always
    }
}

void TestTestRecordCsv::pointsReadBack() {
    const QByteArray csv = TestRecordPointsCsv(FRecord);
    QVERIFY(csv.startsWith("record_id,")); // no byte-order mark before the first column's name
    const QVector<QStringList> rows = ParseCsv(csv);
    QCOMPARE(rows.size(), 1 + FRecord.Points.size());
    QCOMPARE(rows[0], (QStringList{"record_id", "head_serial", "taken_at", "pump_type", "head_type", "branch",
                                   "point", "duty_percent", "volts"}));
    for (int i = 0; i < FRecord.Points.size(); ++i) {
        const QStringList &row = rows[i + 1];
        const TTestRecordPoint &point = FRecord.Points[i];
        QCOMPARE(row.size(), 9);
        QCOMPARE(row[0], FRecord.Id);
        QCOMPARE(row[1], FRecord.HeadSerial); // a comma, quotes and a line break in it
        QCOMPARE(row[2], "2026-03-01T09:15:30.250+01:00");
        QCOMPARE(Instant(row[2]), FRecord.TakenAt);
        QCOMPARE(row[3], "VE");
        QCOMPARE(row[4], "Inductive");
        QCOMPARE(row[5], point.Branch == sbRising ? "rising" : "falling");
        QCOMPARE(row[6], QString::number(i));
        COMPARE_EXACTLY(Number(row[7]), point.Duty);
        COMPARE_EXACTLY(Number(row[8]), AtPrecision(point.Volts, 3)); // 0.30000000000001: the millivolt
    }
    QCOMPARE(rows[1][7], QStringLiteral("10.0"));
    QCOMPARE(rows[1][8], QStringLiteral("0.300"));
    QVERIFY(csv.endsWith("\r\n"));
}

void TestTestRecordCsv::listReadBack() {
    TTestRecord early = FullTestRecord(QStringLiteral("E-1"));
    early.Points.resize(3); // stopped while rising: no hysteresis
    early.Limits = {};
    early.TakenAt = QDateTime(QDate(2026, 7, 15), QTime(22, 30), Qt::UTC); // summer: UTC+2
    early.Evaluate();
    QVERIFY(!early.Figures.Available());
    const auto summary = [](const TTestRecord &r) {
        return TTestRecordSummary{r.Id,       r.HeadSerial, r.TakenAt, r.PumpType,
                                  r.HeadType, r.Figures,    r.Verdict};
    };
    const QVector<QStringList> rows = ParseCsv(TestRecordListCsv({summary(early), summary(FRecord)}));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].size(), 13);
    QCOMPARE(rows[0][7], "max_hysteresis_v");

    const QStringList &e = rows[1];
    QCOMPARE(e[1], "E-1");
    QCOMPARE(e[2], "2026-07-16T00:30:00.000+02:00");
    QCOMPARE(e[5], "");  // no limits, no verdict
    QCOMPARE(e[6], "0"); // no points compared
    QCOMPARE(e.mid(7, 5), QStringList(5, QString()));
    COMPARE_EXACTLY(Number(e[12]), AtPrecision(early.Figures.SpanVolts, 3));

    const QStringList &f = rows[2];
    const THysteresisFigures &figures = FRecord.Figures;
    QCOMPARE(f[1], FRecord.HeadSerial);
    QCOMPARE(f[5], "FAIL");
    QCOMPARE(f[6].toInt(), figures.ComparedPoints);
    // Computed figures with more digits than the measurement, rounded to its precision.
    COMPARE_EXACTLY(Number(f[7]), AtPrecision(figures.MaxVolts, 3));
    COMPARE_EXACTLY(Number(f[8]), AtPrecision(figures.MeanVolts, 3));
    COMPARE_EXACTLY(Number(f[9]), AtPrecision(figures.MaxPercent, 1));
    COMPARE_EXACTLY(Number(f[10]), AtPrecision(figures.MeanPercent, 1));
    COMPARE_EXACTLY(Number(f[11]), AtPrecision(figures.MaxAtDuty, 1));
    COMPARE_EXACTLY(Number(f[12]), AtPrecision(figures.SpanVolts, 3));
}

void TestTestRecordCsv::samplesReadBack() {
    // The chart's samples as the window keeps them: whole milliseconds of the tick, millivolts.
    const QVector<QPointF> samples = {
        {0, 1250 / 1000.0}, {500, 300 / 1000.0}, {4294967295.0, -7 / 1000.0}, {1500, 12345678 / 1000.0}};
    const QVector<QStringList> rows = ParseCsv(TimeSamplesCsv(samples));
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows[0], (QStringList{"time_ms", "volts"}));
    for (int i = 0; i < samples.size(); ++i) {
        QCOMPARE(rows[i + 1].size(), 2);
        COMPARE_EXACTLY(Number(rows[i + 1][0]), samples[i].x());
        COMPARE_EXACTLY(Number(rows[i + 1][1]), samples[i].y());
    }
    QCOMPARE(rows[3], (QStringList{"4294967295", "-0.007"}));
    QCOMPARE(rows[4][1], "12345.678"); // no group separator
}

void TestTestRecordCsv::pythonReadsTheSame() {
    // A reader written by others: Python's csv module (./scripts/deps installs python3).
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    QVERIFY2(!python.isEmpty(), "python3 is missing: ./scripts/deps installs it");
    // Readings as the tester gives them, the awkward ones among them, come back as the same
    // doubles; Python runs in the German locale too (LC_ALL above is inherited).
    TTestRecord record = MeasuredRecord({0, 1, -1, 5, 300, 1005, 12345, -2500, 100000, 2147483});
    record.HeadSerial = FRecord.HeadSerial;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("points.csv"));
    SaveExportFile(path, TestRecordPointsCsv(record));
    QProcess process;
    process.start(python, {QStringLiteral("-c"),
                           QStringLiteral("import csv, json, sys\n"
                                          "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                          "    rows = list(csv.reader(f, strict=True))\n"
                                          "print(json.dumps([[r[1], r[2], float(r[7]), float(r[8])] for r in "
                                          "rows[1:]]))\n"),
                           path});
    QVERIFY(process.waitForFinished(30000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    const QJsonArray rows = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
    QCOMPARE(rows.size(), record.Points.size());
    for (int i = 0; i < rows.size(); ++i) {
        const QJsonArray row = rows[i].toArray();
        QCOMPARE(row[0].toString(), record.HeadSerial);
        QCOMPARE(Instant(row[1].toString()), record.TakenAt);
        COMPARE_EXACTLY(row[2].toDouble(), record.Points[i].Duty);
        COMPARE_EXACTLY(row[3].toDouble(), record.Points[i].Volts);
    }
}

void TestTestRecordCsv::formulaLikeTextStaysText_data() {
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("written");
    QTest::newRow("formula") << "=HYPERLINK(\"http://x\")"
                             << "'=HYPERLINK(\"http://x\")";
    QTest::newRow("plus") << "+7-12"
                          << "'+7-12";
    QTest::newRow("minus") << "-3+A1"
                           << "'-3+A1";
    QTest::newRow("at") << "@SUM(A1)"
                        << "'@SUM(A1)";
    QTest::newRow("such a sign later is plain text") << "VE-1=2"
                                                     << "VE-1=2";
    QTest::newRow("empty") << ""
                           << "";
}

void TestTestRecordCsv::formulaLikeTextStaysText() {
    QFETCH(QString, serial);
    QFETCH(QString, written);
    TTestRecord record = FullTestRecord(serial);
    record.Points[0].Volts = -0.25; // a negative number stays a number
    const QVector<QStringList> points = ParseCsv(TestRecordPointsCsv(record));
    QCOMPARE(points[1][1], written);
    QCOMPARE(points[1][8], QStringLiteral("-0.250"));
    TTestRecordSummary summary;
    summary.Id = record.Id;
    summary.HeadSerial = serial;
    summary.PumpType = QStringLiteral("-VE");
    summary.TakenAt = record.TakenAt;
    const QVector<QStringList> list = ParseCsv(TestRecordListCsv({summary}));
    QCOMPARE(list[1][1], written);
    QCOMPARE(list[1][3], QStringLiteral("'-VE"));
}

void TestTestRecordCsv::saveFailureIsReported() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("list.csv"));
    SaveExportFile(path, "old");
    // A folder where the file should be replaced: the old file stays, the reason is given.
    QFile plain(dir.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString impossible = dir.filePath(QStringLiteral("plain/list.csv"));
    try {
        SaveExportFile(impossible, "new");
        QFAIL("the write was reported as done");
    } catch (const ETestRecordExport &e) {
        QVERIFY2(QString::fromStdString(e.what()).startsWith("Cannot write " +
                                                             QDir::toNativeSeparators(impossible)),
                 e.what());
    }
    QFile old(path);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), "old");
}

TAMREL_TEST_MAIN_CORE(TestTestRecordCsv)
#include "tst_TestRecordCsv.moc"

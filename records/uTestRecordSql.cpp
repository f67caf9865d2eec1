#include "uTestRecordSql.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <QSet>
#include <algorithm>

namespace {

// Instants are stored as UTC text of one fixed width, so that text order is time order on
// every driver: 2026-03-01T08:15:00.000Z.
QString TimeText(const QDateTime &time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + u'Z';
}

QDateTime TimeFromText(const QString &text) {
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.toUTC();
}

// The serial as searched: case-folded, so that a search ignores letter case on every driver
// and in every script (SQLite's own lower() knows only ASCII letters).
QString SerialKey(const QString &serial) {
    return serial.toCaseFolded();
}

// A LIKE pattern that finds text anywhere, '!' escaping LIKE's own characters.
QString ContainsPattern(const QString &text) {
    QString escaped;
    for (QChar c : text) {
        if (c == u'%' || c == u'_' || c == u'!') escaped += u'!';
        escaped += c;
    }
    return u'%' + escaped + u'%';
}

// Text as bound: empty, never NULL (a null QString binds as NULL).
QVariant Text(const QString &text) {
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

QVariant Optional(const std::optional<double> &value) {
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<double>());
}

std::optional<double> OptionalFrom(const QVariant &value) {
    if (value.isNull()) return std::nullopt;
    return value.toDouble();
}

const QStringList TablesV2 = {
    QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
    QStringLiteral("CREATE TABLE test_record ("
                   "id TEXT PRIMARY KEY, head_serial TEXT NOT NULL, head_serial_key TEXT NOT NULL, "
                   "taken_at_utc TEXT NOT NULL, tester_id TEXT NOT NULL, firmware TEXT NOT NULL, "
                   "pump_type TEXT NOT NULL, head_type TEXT NOT NULL, "
                   "start_duty INTEGER NOT NULL, end_duty INTEGER NOT NULL, step_duty INTEGER NOT NULL, "
                   "period_ms INTEGER NOT NULL, sampling_mode INTEGER NOT NULL DEFAULT 0, "
                   "compared_points INTEGER NOT NULL, max_hyst_volts DOUBLE PRECISION NOT NULL, "
                   "mean_hyst_volts DOUBLE PRECISION NOT NULL, max_hyst_percent DOUBLE PRECISION, "
                   "mean_hyst_percent DOUBLE PRECISION, max_at_duty DOUBLE PRECISION NOT NULL, "
                   "span_volts DOUBLE PRECISION NOT NULL, limit_max_hyst_volts DOUBLE PRECISION, "
                   "limit_max_hyst_percent DOUBLE PRECISION, limit_min_span_volts DOUBLE PRECISION, "
                   "verdict INTEGER NOT NULL, failures TEXT NOT NULL)"),
    QStringLiteral("CREATE TABLE test_point ("
                   "record_id TEXT NOT NULL REFERENCES test_record (id) ON DELETE CASCADE, "
                   "seq INTEGER NOT NULL, branch INTEGER NOT NULL, duty DOUBLE PRECISION NOT NULL, "
                   "volts DOUBLE PRECISION NOT NULL, PRIMARY KEY (record_id, seq))"),
    QStringLiteral("CREATE INDEX test_record_taken_at ON test_record (taken_at_utc)"),
    QStringLiteral("CREATE INDEX test_record_serial ON test_record (head_serial)"),
    QStringLiteral("INSERT INTO schema_version (version) VALUES (2)"),
};

const QString SummaryColumns =
    QStringLiteral("id, head_serial, taken_at_utc, pump_type, head_type, compared_points, max_hyst_volts, "
                   "mean_hyst_volts, max_hyst_percent, mean_hyst_percent, max_at_duty, span_volts, verdict");

// Reads the summary columns from column first on.
void ReadSummary(const QSqlQuery &query, int first, TTestRecordSummary *summary) {
    summary->Id = query.value(first).toString();
    summary->HeadSerial = query.value(first + 1).toString();
    summary->TakenAt = TimeFromText(query.value(first + 2).toString());
    summary->PumpType = query.value(first + 3).toString();
    summary->HeadType = query.value(first + 4).toString();
    THysteresisFigures &figures = summary->Figures;
    figures.ComparedPoints = query.value(first + 5).toInt();
    figures.MaxVolts = query.value(first + 6).toDouble();
    figures.MeanVolts = query.value(first + 7).toDouble();
    figures.MaxPercent = query.value(first + 8).toDouble(); // 0 when NULL
    figures.MeanPercent = query.value(first + 9).toDouble();
    figures.MaxAtDuty = query.value(first + 10).toDouble();
    figures.SpanVolts = query.value(first + 11).toDouble();
    const int verdict = query.value(first + 12).toInt();
    summary->Verdict = verdict == tvPass ? tvPass : verdict == tvFail ? tvFail : tvNone;
}

} // namespace

TTestRecordSql::TTestRecordSql(const QString &driver)
    : FConnectionName(QStringLiteral("tamrel-test-records-") +
                      QUuid::createUuid().toString(QUuid::WithoutBraces)),
      FDb(QSqlDatabase::addDatabase(driver, FConnectionName)), FWhere(driver) {
}

TTestRecordSql::~TTestRecordSql() {
    FDb.close();
    FDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(FConnectionName);
}

void TTestRecordSql::Open(const QString &what, const QString &where) {
    FWhere = where;
    if (!FDb.isValid())
        Fail(what, QStringLiteral("the Qt SQL driver %1 is not installed").arg(FDb.driverName()));
    if (!FDb.open()) Fail(what, FDb.lastError().text());
}

void TTestRecordSql::Exec(const QString &what, const QString &statement) {
    QSqlQuery query(FDb);
    if (!query.exec(statement)) Fail(what, query.lastError().text());
}

void TTestRecordSql::Fail(const QString &what, const QString &why) {
    throw ETestRecordStore(QStringLiteral("%1 (%2): %3").arg(what, FWhere, why).toStdString());
}

void TTestRecordSql::Begin(const QString &what) {
    if (!FDb.transaction()) Fail(what, FDb.lastError().text());
}

void TTestRecordSql::Commit(const QString &what) {
    if (!FDb.commit()) {
        const QString why = FDb.lastError().text();
        FDb.rollback();
        Fail(what, why);
    }
}

int TTestRecordSql::StoredSchemaVersion() {
    const QStringList tables = FDb.tables();
    if (!tables.contains(QStringLiteral("schema_version"))) {
        if (tables.contains(QStringLiteral("test_record")))
            Fail(QStringLiteral("Cannot open the test records"),
                 QStringLiteral("the schema version is missing"));
        if (!tables.isEmpty())
            Fail(QStringLiteral("Cannot open the test records"),
                 QStringLiteral("the database holds other tables and is not a test-record store"));
        return 0;
    }
    QSqlQuery query(FDb);
    if (!query.exec(QStringLiteral("SELECT version FROM schema_version")) || !query.next())
        Fail(QStringLiteral("Cannot read the schema version of the test records"), query.lastError().text());
    return query.value(0).toInt();
}

void TTestRecordSql::CreateOrMigrate() {
    const QString what = QStringLiteral("Cannot prepare the test records");
    if (StoredSchemaVersion() == SchemaVersion) {
        EnsureSearchIndexes();
        return;
    }
    // Two programs (the window and the command line) may open a new file at the same moment:
    // an immediate transaction takes the write lock first, so that the second waits for the
    // first and then finds the tables made.
    if (FDb.driverName() == QLatin1String("QSQLITE"))
        Exec(what, QStringLiteral("BEGIN IMMEDIATE"));
    else
        Begin(what);
    try {
        // Several benches may open a new server database at the same moment: the first to
        // take the lock makes the tables, the others wait for it and then find them made.
        // The lock ends with the transaction.
        if (FDb.driverName() == QLatin1String("QPSQL"))
            Exec(what, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(SchemaLockKey));
        const int version = StoredSchemaVersion();
        if (version == SchemaVersion) {
            FDb.rollback();
            EnsureSearchIndexes();
            return;
        }
        if (version > SchemaVersion)
            Fail(what,
                 QStringLiteral("written by a newer program (schema version %1; this program knows up to %2)")
                     .arg(version)
                     .arg(SchemaVersion));
        if (version < 0 || (version == 0 && !FDb.tables().isEmpty()))
            Fail(what, QStringLiteral("unknown schema version %1").arg(version));
        if (version == 0) {
            for (const QString &statement : TablesV2) {
                QSqlQuery query(FDb);
                if (!query.exec(statement)) Fail(what, query.lastError().text());
            }
        } else {
            MigrateFrom1To2();
        }
    } catch (...) {
        FDb.rollback();
        throw;
    }
    Commit(what);
    EnsureSearchIndexes();
}

bool TTestRecordSql::HasIndex(const QString &name) {
    QSqlQuery query(FDb);
    query.setForwardOnly(true);
    const bool sqlite = FDb.driverName() == QLatin1String("QSQLITE");
    query.prepare(sqlite ? QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ?")
                         : QStringLiteral("SELECT 1 FROM pg_indexes WHERE schemaname = current_schema() AND "
                                          "indexname = ?"));
    query.bindValue(0, name);
    if (!query.exec()) Fail(QStringLiteral("Cannot prepare the test records"), query.lastError().text());
    return query.next();
}

void TTestRecordSql::EnsureSearchIndexes() {
    const QString what = QStringLiteral("Cannot prepare the test records");
    if (FDb.driverName() == QLatin1String("QSQLITE")) {
        // A serial part ("12345") may sit anywhere in a serial, so no index finds it: the
        // newest-first list walks the time index and tests every record's serial until its
        // page is full, which for a rare serial is every record. With the serial's search key
        // beside the time in the index, that walk reads the index alone instead of each
        // record's row: a rare serial among 100,000 records in about a third of the time.
        // A file that cannot take it now (read-only, another program writing) is searched
        // without it, as before, and gets it at a later open.
        if (!HasIndex(QStringLiteral("test_record_taken_at_serial"))) {
            QSqlQuery query(FDb);
            query.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS test_record_taken_at_serial ON test_record "
                                      "(taken_at_utc, head_serial_key)"));
        }
        return;
    }
    // On the server, a trigram index finds a serial part anywhere in the serial without
    // reading every record (a rare serial among 1,000,000 records: 0.4 s without it). It needs
    // the pg_trgm extension (PostgreSQL's contrib, trusted: a database owner may install it);
    // a server without it, or a user not allowed to install it, searches without the index.
    const QString index = QStringLiteral("test_record_serial_trgm");
    if (HasIndex(index)) return;
    {
        QSqlQuery available(FDb);
        if (!available.exec(QStringLiteral("SELECT 1 FROM pg_available_extensions WHERE name = 'pg_trgm'")) ||
            !available.next())
            return;
    }
    Begin(what);
    try {
        // One bench makes it, the others wait for it (the lock of the tables' creation). The
        // records' table takes no writes while it is built: once, a few seconds per million
        // records, so the statement limit is raised to 5 minutes for this transaction.
        Exec(what, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(SchemaLockKey));
        Exec(what, QStringLiteral("SET LOCAL statement_timeout = 300000"));
        if (!HasIndex(index)) {
            Exec(what, QStringLiteral("SAVEPOINT search_index"));
            QSqlQuery query(FDb);
            if (!query.exec(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm")) ||
                !query.exec(
                    QStringLiteral("CREATE INDEX %1 ON test_record USING gin (head_serial_key gin_trgm_ops)")
                        .arg(index)))
                Exec(what, QStringLiteral("ROLLBACK TO SAVEPOINT search_index"));
        }
    } catch (...) {
        FDb.rollback();
        throw;
    }
    Commit(what);
}

void TTestRecordSql::MigrateFrom1To2() {
    const QString what = QStringLiteral("Cannot bring the test records from schema version 1 to 2");
    for (const QString &statement :
         {QStringLiteral("ALTER TABLE test_record ADD COLUMN sampling_mode INTEGER NOT NULL DEFAULT 0"),
          QStringLiteral("ALTER TABLE test_record ADD COLUMN head_serial_key TEXT NOT NULL DEFAULT ''"),
          QStringLiteral("CREATE INDEX test_record_serial ON test_record (head_serial)")}) {
        QSqlQuery query(FDb);
        if (!query.exec(statement)) Fail(what, query.lastError().text());
    }
    // The search key is Qt's case folding, which the database cannot compute itself.
    QVector<std::pair<QString, QString>> serials;
    QSqlQuery select(FDb);
    select.setForwardOnly(true);
    if (!select.exec(QStringLiteral("SELECT id, head_serial FROM test_record")))
        Fail(what, select.lastError().text());
    while (select.next())
        serials.append({select.value(0).toString(), select.value(1).toString()});
    select.finish();
    QSqlQuery update(FDb);
    if (!update.prepare(QStringLiteral("UPDATE test_record SET head_serial_key = ? WHERE id = ?")))
        Fail(what, update.lastError().text());
    for (const auto &[id, serial] : serials) {
        update.bindValue(0, SerialKey(serial));
        update.bindValue(1, id);
        if (!update.exec()) Fail(what, update.lastError().text());
    }
    QSqlQuery version(FDb);
    if (!version.exec(QStringLiteral("UPDATE schema_version SET version = 2")))
        Fail(what, version.lastError().text());
}

namespace {

constexpr int RecordColumns = 25;
// Rows per statement: well under every driver's limit of bound values (SQLite 32766,
// PostgreSQL 65535), and few round trips for a batch of records.
constexpr int RecordsPerStatement = 100;
constexpr int PointsPerStatement = 2000;

QString RowsOf(int rows, int columns) {
    QStringList marks(columns, QStringLiteral("?"));
    const QString row = u'(' + marks.join(u',') + u')';
    QStringList all(rows, row);
    return all.join(u',');
}

QVariantList RecordValues(const TTestRecord &record) {
    const THysteresisFigures &figures = record.Figures;
    const std::optional<double> noPercent;
    return {
        record.Id,
        Text(record.HeadSerial),
        Text(SerialKey(record.HeadSerial)),
        TimeText(record.TakenAt),
        Text(record.TesterId),
        Text(record.Firmware),
        Text(record.PumpType),
        Text(record.HeadType),
        record.Sweep.StartDuty,
        record.Sweep.EndDuty,
        record.Sweep.StepDuty,
        record.Sweep.PeriodMs,
        int(record.Sweep.Sampling),
        figures.ComparedPoints,
        figures.MaxVolts,
        figures.MeanVolts,
        Optional(figures.HasPercent() ? std::optional(figures.MaxPercent) : noPercent),
        Optional(figures.HasPercent() ? std::optional(figures.MeanPercent) : noPercent),
        figures.MaxAtDuty,
        figures.SpanVolts,
        Optional(record.Limits.MaxHysteresisVolts),
        Optional(record.Limits.MaxHysteresisPercent),
        Optional(record.Limits.MinSpanVolts),
        int(record.Verdict),
        Text(record.Failures.join(u'\n')),
    };
}

// A serial as a message names it: a serial is typed freely and may be thousands of letters.
QString SerialInMessage(const QString &serial) {
    constexpr int Most = 40;
    return u'"' + (serial.size() > Most ? serial.left(Most) + QChar(0x2026) : serial) + u'"';
}

// "Cannot store the test record of head "A"", or of the heads of a batch (the first few).
QString WriteFailure(const QVector<TTestRecord> &records) {
    if (records.size() == 1)
        return QStringLiteral("Cannot store the test record of head %1")
            .arg(SerialInMessage(records[0].HeadSerial));
    constexpr int Named = 5;
    QStringList heads;
    for (int i = 0; i < records.size() && i < Named; ++i)
        heads << SerialInMessage(records[i].HeadSerial);
    if (records.size() > Named) heads << QString(QChar(0x2026));
    return QStringLiteral("Cannot store the test records of heads %1").arg(heads.join(QStringLiteral(", ")));
}

} // namespace

void TTestRecordSql::FailQuery(const QString &what, const QSqlError &error) {
    // A server's SQLSTATE class says whether sending the same rows again could ever succeed:
    // 22 data exception, 23 integrity constraint, 54 program limit (an index row too large)
    // are the record's own; anything else (a lost connection, a time-out) is the server's.
    const QString state = error.nativeErrorCode();
    if (FDb.driverName() == QLatin1String("QPSQL") &&
        (state.startsWith(QLatin1String("22")) || state.startsWith(QLatin1String("23")) ||
         state.startsWith(QLatin1String("54"))))
        throw ETestRecordRefused(QStringLiteral("%1 (%2): %3").arg(what, FWhere, error.text()).toStdString());
    Fail(what, error.text());
}

int TTestRecordSql::WriteRecords(const QVector<TTestRecord> &records) {
    if (records.isEmpty()) return 0;
    const QString what = WriteFailure(records);
    for (const TTestRecord &record : records) {
        const QString whose = WriteFailure({record});
        if (QUuid::fromString(record.Id).isNull())
            throw ETestRecordRefused(
                QStringLiteral("%1 (%2): the record has no valid id").arg(whose, FWhere).toStdString());
        if (!record.TakenAt.isValid())
            throw ETestRecordRefused(
                QStringLiteral("%1 (%2): the record has no date").arg(whose, FWhere).toStdString());
    }
    // A record twice in one call is stored once.
    QVector<const TTestRecord *> unique;
    QSet<QString> seen;
    for (const TTestRecord &record : records)
        if (!seen.contains(record.Id)) {
            seen.insert(record.Id);
            unique.append(&record);
        }

    QSet<QString> added;
    Begin(what);
    try {
        // Many records to one statement and their points to a few more: a batch costs a few
        // round trips to a distant server, not one per point. ON CONFLICT DO NOTHING with
        // RETURNING (SQLite 3.35 and later, PostgreSQL 9.5 and later) leaves a record stored
        // before untouched and names the ones that are new, so that only their points follow.
        for (qsizetype first = 0; first < unique.size(); first += RecordsPerStatement) {
            const int rows = int(std::min<qsizetype>(RecordsPerStatement, unique.size() - first));
            QSqlQuery query(FDb);
            query.setForwardOnly(true);
            if (!query.prepare(
                    QStringLiteral(
                        "INSERT INTO test_record (id, head_serial, head_serial_key, taken_at_utc, "
                        "tester_id, firmware, pump_type, head_type, start_duty, end_duty, step_duty, "
                        "period_ms, sampling_mode, compared_points, max_hyst_volts, mean_hyst_volts, "
                        "max_hyst_percent, mean_hyst_percent, max_at_duty, span_volts, "
                        "limit_max_hyst_volts, limit_max_hyst_percent, limit_min_span_volts, "
                        "verdict, failures) VALUES ") +
                    RowsOf(rows, RecordColumns) +
                    QStringLiteral(" ON CONFLICT (id) DO NOTHING RETURNING id")))
                FailQuery(what, query.lastError());
            int bound = 0;
            for (int i = 0; i < rows; ++i)
                for (const QVariant &value : RecordValues(*unique[first + i]))
                    query.bindValue(bound++, value);
            if (!query.exec()) FailQuery(what, query.lastError());
            while (query.next())
                added.insert(query.value(0).toString());
            if (query.lastError().isValid()) FailQuery(what, query.lastError());
        }
        QVector<QVariantList> points;
        for (const TTestRecord *record : unique) {
            if (!added.contains(record->Id)) continue;
            for (int seq = 0; seq < record->Points.size(); ++seq) {
                const TTestRecordPoint &p = record->Points[seq];
                points.append({record->Id, seq, int(p.Branch), p.Duty, p.Volts});
            }
        }
        for (qsizetype first = 0; first < points.size(); first += PointsPerStatement) {
            const int rows = int(std::min<qsizetype>(PointsPerStatement, points.size() - first));
            QSqlQuery query(FDb);
            if (!query.prepare(
                    QStringLiteral("INSERT INTO test_point (record_id, seq, branch, duty, volts) VALUES ") +
                    RowsOf(rows, 5)))
                FailQuery(what, query.lastError());
            int bound = 0;
            for (int i = 0; i < rows; ++i)
                for (const QVariant &value : points[first + i])
                    query.bindValue(bound++, value);
            if (!query.exec()) FailQuery(what, query.lastError());
        }
    } catch (...) {
        FDb.rollback();
        throw;
    }
    TestRecordPause(FDb.driverName() == QLatin1String("QPSQL") ? "server-before-commit"
                                                               : "local-before-commit");
    Commit(what);
    return int(added.size());
}

QVector<TTestRecordSummary> TTestRecordSql::ListRecords(const TTestRecordFilter &filter) {
    QStringList conditions;
    QVariantList values;
    if (!filter.Serial.isEmpty()) {
        if (filter.SerialExact) {
            conditions << QStringLiteral("head_serial = ?");
            values << filter.Serial;
        } else {
            conditions << QStringLiteral("head_serial_key LIKE ? ESCAPE '!'");
            values << ContainsPattern(SerialKey(filter.Serial));
        }
    }
    if (filter.Verdict) {
        conditions << QStringLiteral("verdict = ?");
        values << int(*filter.Verdict);
    }
    if (filter.From.isValid()) {
        conditions << QStringLiteral("taken_at_utc >= ?");
        values << TimeText(filter.From);
    }
    if (filter.To.isValid()) {
        conditions << QStringLiteral("taken_at_utc < ?");
        values << TimeText(filter.To);
    }
    QString sql = QStringLiteral("SELECT ") + SummaryColumns + QStringLiteral(" FROM test_record");
    if (!conditions.isEmpty()) sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY taken_at_utc DESC, id DESC");
    if (filter.MaxRows > 0) sql += QStringLiteral(" LIMIT %1").arg(filter.MaxRows);

    const QString what = QStringLiteral("Cannot list test records");
    QSqlQuery query(FDb);
    query.setForwardOnly(true);
    if (!query.prepare(sql)) Fail(what, query.lastError().text());
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    if (!query.exec()) Fail(what, query.lastError().text());
    QVector<TTestRecordSummary> summaries;
    while (query.next()) {
        summaries.append(TTestRecordSummary());
        ReadSummary(query, 0, &summaries.last());
    }
    if (query.lastError().isValid()) Fail(what, query.lastError().text());
    return summaries;
}

std::optional<TTestRecord> TTestRecordSql::LoadRecord(const QString &id) {
    const QString what = QStringLiteral("Cannot read test record %1").arg(id);
    QSqlQuery query(FDb);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT ") + SummaryColumns +
                       QStringLiteral(", tester_id, firmware, start_duty, end_duty, step_duty, period_ms, "
                                      "sampling_mode, limit_max_hyst_volts, limit_max_hyst_percent, "
                                      "limit_min_span_volts, failures FROM test_record WHERE id = ?")))
        Fail(what, query.lastError().text());
    query.bindValue(0, id);
    if (!query.exec()) Fail(what, query.lastError().text());
    if (!query.next()) {
        if (query.lastError().isValid()) Fail(what, query.lastError().text());
        return std::nullopt;
    }
    TTestRecordSummary summary;
    ReadSummary(query, 0, &summary);
    TTestRecord record;
    record.Id = summary.Id;
    record.HeadSerial = summary.HeadSerial;
    record.TakenAt = summary.TakenAt;
    record.PumpType = summary.PumpType;
    record.HeadType = summary.HeadType;
    record.Figures = summary.Figures;
    record.Verdict = summary.Verdict;
    const int more = 13;
    record.TesterId = query.value(more).toString();
    record.Firmware = query.value(more + 1).toString();
    record.Sweep.StartDuty = query.value(more + 2).toInt();
    record.Sweep.EndDuty = query.value(more + 3).toInt();
    record.Sweep.StepDuty = query.value(more + 4).toInt();
    record.Sweep.PeriodMs = query.value(more + 5).toInt();
    record.Sweep.Sampling = query.value(more + 6).toInt() == smAfterStep ? smAfterStep : smSettled;
    record.Limits.MaxHysteresisVolts = OptionalFrom(query.value(more + 7));
    record.Limits.MaxHysteresisPercent = OptionalFrom(query.value(more + 8));
    record.Limits.MinSpanVolts = OptionalFrom(query.value(more + 9));
    const QString failures = query.value(more + 10).toString();
    if (!failures.isEmpty()) record.Failures = failures.split(u'\n');
    query.finish();

    QSqlQuery points(FDb);
    points.setForwardOnly(true);
    if (!points.prepare(
            QStringLiteral("SELECT branch, duty, volts FROM test_point WHERE record_id = ? ORDER BY seq")))
        Fail(what, points.lastError().text());
    points.bindValue(0, id);
    if (!points.exec()) Fail(what, points.lastError().text());
    while (points.next())
        record.Points.append(TTestRecordPoint{points.value(1).toDouble(), points.value(2).toDouble(),
                                              points.value(0).toInt() == sbFalling ? sbFalling : sbRising});
    if (points.lastError().isValid()) Fail(what, points.lastError().text());
    return record;
}

void TTestRecordSql::RemoveRecords(const QStringList &ids) {
    const QString what = QStringLiteral("Cannot remove test records");
    if (ids.isEmpty()) return;
    Begin(what);
    try {
        for (const QString &statement : {QStringLiteral("DELETE FROM test_point WHERE record_id = ?"),
                                         QStringLiteral("DELETE FROM test_record WHERE id = ?")}) {
            QSqlQuery query(FDb);
            if (!query.prepare(statement)) Fail(what, query.lastError().text());
            for (const QString &id : ids) {
                query.bindValue(0, id);
                if (!query.exec()) Fail(what, query.lastError().text());
            }
        }
    } catch (...) {
        FDb.rollback();
        throw;
    }
    Commit(what);
}

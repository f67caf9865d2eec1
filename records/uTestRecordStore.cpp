#include "uTestRecordStore.h"

#include "uTestRecordSql.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

TTestRecordPauseHook TestRecordPauseHook = nullptr;

namespace {

[[noreturn]] void Fail(const QString &message) {
    throw ETestRecordStore(message.toStdString());
}

} // namespace

TTestRecordStore::TTestRecordStore(const QString &folder, TAccess access)
    : FFilePath(QDir(folder).filePath(QLatin1String(FileName))) {
    if (folder.isEmpty()) Fail(QStringLiteral("Cannot open the test records: no folder given"));
    if (access == saReadWrite && !QDir().mkpath(folder))
        Fail(QStringLiteral("Cannot create the folder for test records: %1")
                 .arg(QDir::toNativeSeparators(folder)));
    if (access == saReadOnly && !QFileInfo(FFilePath).isFile())
        Fail(QStringLiteral("Cannot open the test records: %1 does not exist")
                 .arg(QDir::toNativeSeparators(FFilePath)));

    const QString what = QStringLiteral("Cannot open the test records");
    FSql = std::make_unique<TTestRecordSql>(QStringLiteral("QSQLITE"));
    FSql->Db().setDatabaseName(FFilePath);
    if (access == saReadOnly) FSql->Db().setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    FSql->Open(what, FFilePath);
    FSql->Exec(what, QStringLiteral("PRAGMA foreign_keys = ON"));
    if (access == saReadWrite) {
        // A write-ahead log lets a list be read while a record is written; FULL makes every
        // committed record survive a power loss.
        FSql->Exec(what, QStringLiteral("PRAGMA journal_mode = WAL"));
        FSql->Exec(what, QStringLiteral("PRAGMA synchronous = FULL"));
        FSql->CreateOrMigrate();
        // The queue's own marks live beside the records, outside the schema both stores share:
        // a server never holds them, and an older program reading the file ignores them.
        FSql->Exec(what,
                   QStringLiteral("CREATE TABLE IF NOT EXISTS queue_refusal (record_id TEXT PRIMARY KEY "
                                  "REFERENCES test_record (id) ON DELETE CASCADE, reason TEXT NOT NULL)"));
        return;
    }
    const int version = FSql->StoredSchemaVersion();
    if (version != TTestRecordSql::SchemaVersion)
        Fail(QStringLiteral("Cannot read the test records (%1): schema version %2, this program reads %3; "
                            "open them for writing once to bring them up to date")
                 .arg(FFilePath)
                 .arg(version)
                 .arg(TTestRecordSql::SchemaVersion));
}

TTestRecordStore::~TTestRecordStore() = default;

QString TTestRecordStore::DefaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

int TTestRecordStore::WriteRecords(const QVector<TTestRecord> &records) {
    return FSql->WriteRecords(records);
}

QVector<TTestRecordSummary> TTestRecordStore::ListRecords(const TTestRecordFilter &filter) {
    return FSql->ListRecords(filter);
}

std::optional<TTestRecord> TTestRecordStore::LoadRecord(const QString &id) {
    return FSql->LoadRecord(id);
}

void TTestRecordStore::RemoveRecords(const QStringList &ids) {
    FSql->RemoveRecords(ids);
}

namespace {

// Runs a query with values bound in order; raises with what and the file on failure.
QSqlQuery Query(QSqlDatabase &db, const QString &what, const QString &path, const QString &sql,
                const QVariantList &values = {}) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool ok = query.prepare(sql);
    for (int i = 0; ok && i < values.size(); ++i)
        query.bindValue(i, values[i]);
    if (!ok || !query.exec()) Fail(QStringLiteral("%1 (%2): %3").arg(what, path, query.lastError().text()));
    return query;
}

} // namespace

QStringList TTestRecordStore::WaitingIds(int max) {
    // rowid is the order of writing: the oldest record is sent first.
    QSqlQuery query = Query(FSql->Db(), QStringLiteral("Cannot read the queue of test records"), FFilePath,
                            QStringLiteral("SELECT id FROM test_record WHERE id NOT IN "
                                           "(SELECT record_id FROM queue_refusal) ORDER BY rowid LIMIT ?"),
                            {max});
    QStringList ids;
    while (query.next())
        ids << query.value(0).toString();
    return ids;
}

int TTestRecordStore::WaitingCount() {
    QSqlQuery query = Query(FSql->Db(), QStringLiteral("Cannot read the queue of test records"), FFilePath,
                            QStringLiteral("SELECT COUNT(*) FROM test_record WHERE id NOT IN "
                                           "(SELECT record_id FROM queue_refusal)"));
    return query.next() ? query.value(0).toInt() : 0;
}

void TTestRecordStore::MarkRefused(const QString &id, const QString &reason) {
    Query(FSql->Db(), QStringLiteral("Cannot mark a refused test record"), FFilePath,
          QStringLiteral("INSERT INTO queue_refusal (record_id, reason) VALUES (?, ?) "
                         "ON CONFLICT (record_id) DO UPDATE SET reason = excluded.reason"),
          {id, reason});
}

QVector<TRefusedTestRecord> TTestRecordStore::RefusedRecords() {
    QSqlQuery query = Query(FSql->Db(), QStringLiteral("Cannot read the queue of test records"), FFilePath,
                            QStringLiteral("SELECT r.id, r.head_serial, q.reason FROM queue_refusal q "
                                           "JOIN test_record r ON r.id = q.record_id ORDER BY r.rowid"));
    QVector<TRefusedTestRecord> refused;
    while (query.next())
        refused.append({query.value(0).toString(), query.value(1).toString(), query.value(2).toString()});
    return refused;
}

void TTestRecordStore::ClearRefused() {
    Query(FSql->Db(), QStringLiteral("Cannot clear the refusals of test records"), FFilePath,
          QStringLiteral("DELETE FROM queue_refusal"));
}

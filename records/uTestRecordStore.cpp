#include "uTestRecordStore.h"

#include "uTestRecordSql.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

namespace {

[[noreturn]] void Fail(const QString &message) {
    throw ETestRecordStore(message.toStdString());
}

void Pragma(QSqlDatabase &db, const QString &statement, const QString &path) {
    QSqlQuery query(db);
    if (!query.exec(statement))
        Fail(QStringLiteral("Cannot open the test records (%1): %2").arg(path, query.lastError().text()));
}

} // namespace

TTestRecordStore::TTestRecordStore(const QString &folder, TAccess access)
    : FFilePath(QDir(folder).filePath(QLatin1String(FileName))),
      FConnectionName(QStringLiteral("tamrel-test-records-") +
                      QUuid::createUuid().toString(QUuid::WithoutBraces)) {
    if (folder.isEmpty()) Fail(QStringLiteral("Cannot open the test records: no folder given"));
    if (access == saReadWrite && !QDir().mkpath(folder))
        Fail(QStringLiteral("Cannot create the folder for test records: %1")
                 .arg(QDir::toNativeSeparators(folder)));
    if (access == saReadOnly && !QFileInfo(FFilePath).isFile())
        Fail(QStringLiteral("Cannot open the test records: %1 does not exist")
                 .arg(QDir::toNativeSeparators(FFilePath)));

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnectionName);
    try {
        if (!db.isValid())
            Fail(QStringLiteral("Cannot open the test records: the SQLite driver of Qt is not installed"));
        db.setDatabaseName(FFilePath);
        if (access == saReadOnly) db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open())
            Fail(QStringLiteral("Cannot open the test records (%1): %2")
                     .arg(FFilePath, db.lastError().text()));
        Pragma(db, QStringLiteral("PRAGMA foreign_keys = ON"), FFilePath);
        if (access == saReadWrite) {
            // A write-ahead log lets a list be read while a record is written; FULL makes every
            // committed record survive a power loss.
            Pragma(db, QStringLiteral("PRAGMA journal_mode = WAL"), FFilePath);
            Pragma(db, QStringLiteral("PRAGMA synchronous = FULL"), FFilePath);
        }
        FSql = std::make_unique<TTestRecordSql>(db, FFilePath);
        if (access == saReadWrite) {
            FSql->CreateOrMigrate();
        } else {
            const int version = FSql->StoredSchemaVersion();
            if (version != TTestRecordSql::SchemaVersion)
                Fail(QStringLiteral(
                         "Cannot read the test records (%1): schema version %2, this program reads %3; "
                         "open them for writing once to bring them up to date")
                         .arg(FFilePath)
                         .arg(version)
                         .arg(TTestRecordSql::SchemaVersion));
        }
    } catch (...) {
        FSql.reset();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(FConnectionName);
        throw;
    }
}

TTestRecordStore::~TTestRecordStore() {
    FSql.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(FConnectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(FConnectionName);
}

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

#include "uTestRecordStore.h"

#include "uTestRecordSql.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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

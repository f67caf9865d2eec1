#pragma once
// The tables of test records and the statements on them, on an open database connection of
// any driver that speaks the common SQL used here (SQLite, PostgreSQL): one schema, one way
// to write, list and load, whichever store holds the connection.
#include "uTestRecordStore.h"

#include <QSqlDatabase>

class QSqlError;

class TTestRecordSql {
public:
    // The schema this program writes. Version 1 had no sampling mode (every sweep was sampled
    // settled) and no case-folded serial to search by.
    static constexpr int SchemaVersion = 2;
    // The server-wide lock key that makes the tables one bench at a time ("TAMR").
    static constexpr qint64 SchemaLockKey = 0x54414d52;

    // A connection of its own, under a unique name, with the Qt SQL driver named; closed and
    // removed with this object. Set it up through Db(), then Open it.
    explicit TTestRecordSql(const QString &driver);
    ~TTestRecordSql();
    TTestRecordSql(const TTestRecordSql &) = delete;
    TTestRecordSql &operator=(const TTestRecordSql &) = delete;

    QSqlDatabase &Db() { return FDb; }
    // Opens the connection; where names the store in every message from now on (a file path,
    // a server). Raises with "<what> (<where>): <why>".
    void Open(const QString &what, const QString &where);
    // Runs a statement that returns nothing wanted (a pragma); raises with what.
    void Exec(const QString &what, const QString &statement);

    // The schema version of the database: 0 when it holds no test-record tables yet.
    int StoredSchemaVersion();
    // Creates the tables in an empty database or migrates an older schema, in one transaction,
    // then makes the search indexes that are missing. Raises when the database is not a
    // test-record store or is newer than this program.
    void CreateOrMigrate();

    // Stores the records in one transaction with a few multi-row statements.
    int WriteRecords(const QVector<TTestRecord> &records);
    QVector<TTestRecordSummary> ListRecords(const TTestRecordFilter &filter);
    std::optional<TTestRecord> LoadRecord(const QString &id);
    // Removes the records with these ids and their points, in one transaction.
    void RemoveRecords(const QStringList &ids);

private:
    QString FConnectionName;
    QSqlDatabase FDb;
    QString FWhere;

    [[noreturn]] void Fail(const QString &what, const QString &why);
    void Begin(const QString &what);
    void Commit(const QString &what);
    // Raises ETestRecordRefused when the server refuses the rows themselves, else
    // ETestRecordStore.
    [[noreturn]] void FailQuery(const QString &what, const QSqlError &error);
    void MigrateFrom1To2();
    // Indexes that only make a search fast: not part of the schema version (a program without
    // them reads and writes the same tables), made where missing.
    void EnsureSearchIndexes();
    bool HasIndex(const QString &name);
};

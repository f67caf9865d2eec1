#pragma once
// Test records on a PostgreSQL server shared by several benches, with the same tables as the
// local store. The local file as the queue for it, and the sending, are the records worker's
// (uTestRecordWorker.h).
#include "uTestRecordStore.h"

class QSettings;

// The server's connection, as a libpq connection string: "host=db.example port=5432
// dbname=tamrel user=bench password=secret connect_timeout=5". host may be a folder (a unix
// socket). Keys other than host, port, dbname, user and password go to the driver as options.
struct TRecordServerSettings {
    QString ConnectionString;
    bool IsSet() const { return !ConnectionString.trimmed().isEmpty(); }
};

// The "TestRecords/Server" entry of the program's settings.
TRecordServerSettings LoadRecordServerSettings(QSettings &settings);
void SaveRecordServerSettings(QSettings &settings, const TRecordServerSettings &server);

class TTestRecordServerStore : public ITestRecordStore {
public:
    // The bounds of every wait on the server: a connection string without connect_timeout
    // gets this one; every statement is cancelled by the server after the other.
    static constexpr int DefaultConnectTimeoutS = 5;
    static constexpr int StatementTimeoutMs = 20000;

    // Connects and creates or migrates the tables; raises ETestRecordStore when the server
    // cannot be reached or refuses.
    explicit TTestRecordServerStore(const TRecordServerSettings &server);
    ~TTestRecordServerStore() override;
    TTestRecordServerStore(const TTestRecordServerStore &) = delete;
    TTestRecordServerStore &operator=(const TTestRecordServerStore &) = delete;

    int WriteRecords(const QVector<TTestRecord> &records) override;
    QVector<TTestRecordSummary> ListRecords(const TTestRecordFilter &filter = {}) override;
    std::optional<TTestRecord> LoadRecord(const QString &id) override;

private:
    QString FConnectionName;
    std::unique_ptr<TTestRecordSql> FSql;
};

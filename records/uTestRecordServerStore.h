#pragma once
// Test records on a PostgreSQL server shared by several benches, with the same tables as the
// local store; and a store that writes to the server and, while the server cannot be reached,
// keeps the records in a local queue until they can be sent.
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

// Writes go to the server when it answers, else to the local queue (a TTestRecordStore in
// queueFolder); nothing written is lost either way. Flush sends the queue to the server; a
// record the server already has (a send whose answer was lost) is not stored twice, since
// every record carries its unique id. Lists and loads ask the server.
class TQueuedTestRecordStore : public ITestRecordStore {
public:
    TQueuedTestRecordStore(const TRecordServerSettings &server, const QString &queueFolder);
    ~TQueuedTestRecordStore() override;

    // Raises only when neither the server nor the queue could take the records.
    int WriteRecords(const QVector<TTestRecord> &records) override;
    QVector<TTestRecordSummary> ListRecords(const TTestRecordFilter &filter = {}) override;
    std::optional<TTestRecord> LoadRecord(const QString &id) override;

    // Sends every queued record to the server and removes it from the queue once the server
    // has it. Returns how many left the queue; raises when the server cannot be reached.
    int Flush();
    int QueuedCount();
    // Why the last write went to the queue; empty when it reached the server.
    QString LastServerError() const { return FLastServerError; }

private:
    TRecordServerSettings FServer;
    TTestRecordStore FQueue;
    std::unique_ptr<TTestRecordServerStore> FServerStore;
    QString FLastServerError;

    TTestRecordServerStore &Server();
};

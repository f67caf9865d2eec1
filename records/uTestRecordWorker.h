#pragma once
// The one way both faces of the program reach their test records: every database call (the
// local SQLite file, the workshop's server) runs on threads of its own, reached only by queued
// calls, with each answer posted back to the thread that asked. A write hands the record over
// and returns at once; the record is made durable in the local file first, then sent. A server
// that is down, stalled or refusing delays its own records and nothing else.
//
// Two threads, each owning its connections: the local one (writes, the queue's state, lists of
// the local file) and the server one (connect, send, list and load on the server). A stalled
// server blocks only the server thread; a list that waits for it longer than ServerAnswerMs is
// answered from the local file alone.
#include "uTestRecordServerStore.h"

#include <QObject>
#include <QSet>

#include <functional>
#include <memory>

class QThread;

// What the technician is told about the records not yet on the server.
struct TRecordQueueState {
    bool ServerSet = false;              // a server is configured
    int Waiting = 0;                     // in the local queue, to be sent
    QVector<TRefusedTestRecord> Refused; // set aside: the server refused them
    QString ServerError;                 // why the last attempt did not reach the server
    bool operator==(const TRecordQueueState &) const = default;
};

// A list as the history shows it: the server's records and this bench's waiting ones, or the
// local file alone when the server cannot be asked.
struct TRecordList {
    QVector<TTestRecordSummary> Records; // newest first
    QSet<QString> Waiting;               // listed ids that are still only in the local queue
    QSet<QString> Refused;               // listed ids the server refused
    bool ServerSet = false;
    QString ServerError; // not empty: the server was not asked or did not answer in time
    QString Error;       // not empty: not even the local file could be read
};

class TTestRecordWorker : public QObject {
    Q_OBJECT
public:
    // A list waits this long for the server before the local file's records are shown alone.
    static constexpr int ServerAnswerMs = 3000;
    // Records sent in one transaction.
    static constexpr int BatchSize = 20;
    // After a failed attempt the server is tried again after 1 s, then twice as long each
    // time, up to this.
    static constexpr int MostBackOffMs = 30000;

    // folder: the local file's folder (created on first use); server: when set, records go to
    // it and the local file is their queue. Returns at once; the first flush starts now.
    TTestRecordWorker(const QString &folder, const TRecordServerSettings &server, QObject *parent = nullptr);
    // Waits for the local thread (a few ms); a server thread stuck on a stalled server is left
    // behind rather than waited for.
    ~TTestRecordWorker() override;

    QString FilePath() const;
    bool ServerSet() const { return FServerSet; }
    const TRecordQueueState &State() const { return FState; }

    // Hands the record over; Stored or StoreFailed follows.
    void Write(const TTestRecord &record);
    // Sends what waits now (a flush also runs on start, after every write and on a timer
    // while records wait).
    void Flush();
    // Refused records wait again and are sent.
    void RetryRefused();
    // done runs on this object's thread, unless this object is gone by then.
    void List(const TTestRecordFilter &filter, std::function<void(const TRecordList &)> done);
    void Load(const QString &id,
              std::function<void(const std::optional<TTestRecord> &, const QString &error)> done);

signals:
    // The record is durable in the local file (and on its way to the server, if one is set).
    void Stored(const TTestRecord &record);
    // The record could not be written even to the local file; openFailed: the file itself
    // cannot be opened (every write will say the same until it is mended).
    void StoreFailed(const TTestRecord &record, const QString &error, bool openFailed);
    // These records reached the server and left the queue.
    void Sent(const QStringList &ids);
    void StateChanged(const TRecordQueueState &state);
    // A flush attempt ended (State() tells how it went).
    void Flushed();

private:
    struct TLocalSide;
    struct TServerSide;
    struct TPostBox;
    struct TPendingList;

    bool FServerSet = false;
    QString FFolder;
    TRecordQueueState FState;
    QString FServerError;
    QThread *FLocalThread = nullptr;
    QThread *FServerThread = nullptr;
    QObject *FLocalContext = nullptr;
    QObject *FServerContext = nullptr;
    std::shared_ptr<TLocalSide> FLocal;
    std::shared_ptr<TServerSide> FServer;
    std::shared_ptr<TPostBox> FPostBox;
    quint64 FNextList = 0;

    void SetQueueState(int waiting, const QVector<TRefusedTestRecord> &refused);
    void SetServerError(const QString &error);
    void Finish(const std::shared_ptr<TPendingList> &pending);
};

// The store both faces use, from the program's settings file: the server with the local queue
// when one is configured, else the local file alone; folder empty: the program's data folder.
std::unique_ptr<TTestRecordWorker> OpenTestRecordWorker(const QString &settingsFile,
                                                        const QString &folder = {});

// A record handed to the store by a program that ends soon after (the command line): where it
// is and whether the server has it.
struct TStoredTestRecord {
    QString FilePath; // the local file (with a server, its queue)
    bool ServerSet = false;
    bool Sent = false;   // on the server
    QString ServerError; // why not, when a server is set
};

// Stores the record through the store OpenTestRecordWorker chooses and waits, at most sendWaitMs,
// until it is durable in the local file and, with a server, until one attempt to send it ended.
// Raises ETestRecordStore when not even the local file took it.
TStoredTestRecord StoreTestRecord(const QString &settingsFile, const QString &folder,
                                  const TTestRecord &record, int sendWaitMs);

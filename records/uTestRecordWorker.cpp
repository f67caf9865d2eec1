#include "uTestRecordWorker.h"

#include "uKvThreadHandOver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMutex>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include <algorithm>

// Answers go back through this box: a thread left behind on a stalled server may finish long
// after the worker is gone, and then posts to nothing.
struct TTestRecordWorker::TPostBox {
    QMutex Mutex;
    QObject *Target = nullptr;

    // body(worker) runs on the worker's thread.
    template <class F> void Post(F body) {
        const QMutexLocker lock(&Mutex);
        if (!Target) return;
        KvThread::Post(Target, [target = Target, body = std::move(body)] {
            body(static_cast<TTestRecordWorker *>(target));
        });
    }
    void Close() {
        const QMutexLocker lock(&Mutex);
        Target = nullptr;
    }
};

// Lives on the local thread: only that thread touches it.
struct TTestRecordWorker::TLocalSide {
    QString Folder;
    bool ServerSet = false;
    std::unique_ptr<TTestRecordStore> Store;

    TTestRecordStore &Open() {
        if (!Store) Store = std::make_unique<TTestRecordStore>(Folder);
        return *Store;
    }
};

// Lives on the server thread: only that thread touches it.
struct TTestRecordWorker::TServerSide {
    TRecordServerSettings Settings;
    QString Folder;
    std::shared_ptr<TPostBox> Box;
    std::unique_ptr<TTestRecordServerStore> Server;
    std::unique_ptr<TTestRecordStore> Queue;
    QTimer *Retry = nullptr;
    int BackOffMs = 0;
    QElapsedTimer FailedAt; // valid while the server is known to be away
    QString LastError;

    TTestRecordStore &QueueStore() {
        if (!Queue) Queue = std::make_unique<TTestRecordStore>(Folder);
        return *Queue;
    }

    // A connection, made afresh when there is none. While the server is known to be away no
    // connect is tried before its back-off time has passed: a window asking again and again
    // (a filter being typed) gets the last failure at once.
    TTestRecordServerStore &Connected() {
        if (Server) return *Server;
        if (FailedAt.isValid() && FailedAt.elapsed() < BackOffMs)
            throw ETestRecordStore(LastError.toStdString());
        try {
            Server = std::make_unique<TTestRecordServerStore>(Settings);
        } catch (const ETestRecordStore &e) {
            ServerFailed(QString::fromUtf8(e.what()));
            throw;
        }
        BackOffMs = 0;
        FailedAt.invalidate();
        LastError.clear();
        return *Server;
    }

    void ServerFailed(const QString &error) {
        Server.reset();
        LastError = error;
        BackOffMs = BackOffMs == 0 ? 1000 : std::min(2 * BackOffMs, MostBackOffMs);
        FailedAt.restart();
    }

    // Runs body on the server. A connection that worked before and fails now may have been cut
    // (the server restarted): it is made again once at once, before the failure counts.
    template <class F> auto OnServer(F body) {
        const bool hadConnection = Server != nullptr;
        try {
            return body(Connected());
        } catch (const ETestRecordRefused &) {
            throw;
        } catch (const ETestRecordStore &e) {
            if (!hadConnection) throw;
            ServerFailed(QString::fromUtf8(e.what()));
            FailedAt.invalidate();
        }
        try {
            return body(Connected());
        } catch (const ETestRecordRefused &) {
            throw;
        } catch (const ETestRecordStore &e) {
            if (Server) ServerFailed(QString::fromUtf8(e.what()));
            throw;
        }
    }

    void Flush() {
        QStringList sent;
        QString error;
        try {
            TTestRecordStore &queue = QueueStore();
            for (;;) {
                const QStringList ids = queue.WaitingIds(BatchSize);
                if (ids.isEmpty()) break;
                QVector<TTestRecord> records;
                for (const QString &id : ids)
                    if (std::optional<TTestRecord> record = queue.LoadRecord(id)) records << *record;
                try {
                    OnServer([&](TTestRecordServerStore &server) { return server.WriteRecords(records); });
                    TestRecordPause("server-committed");
                    queue.RemoveRecords(ids);
                    sent << ids;
                } catch (const ETestRecordRefused &) {
                    // One record or more of the batch is refused: each is sent alone, the refused
                    // ones set aside, the others go.
                    for (const TTestRecord &record : records) {
                        try {
                            OnServer([&](TTestRecordServerStore &server) {
                                return server.WriteRecords({record});
                            });
                            queue.RemoveRecords({record.Id});
                            sent << record.Id;
                        } catch (const ETestRecordRefused &e) {
                            queue.MarkRefused(record.Id, QString::fromUtf8(e.what()));
                        }
                    }
                }
            }
        } catch (const ETestRecordStore &e) {
            error = QString::fromUtf8(e.what());
        }
        PostOutcome(sent, error);
    }

    void PostOutcome(const QStringList &sent, const QString &error) {
        int waiting = 0;
        QVector<TRefusedTestRecord> refused;
        try {
            waiting = QueueStore().WaitingCount();
            refused = QueueStore().RefusedRecords();
        } catch (const ETestRecordStore &) {
            waiting = -1; // unknown: the local side says it
        }
        // While records wait for a server that did not take them, it is tried again later.
        if (!error.isEmpty() && waiting != 0 && !Retry->isActive())
            Retry->start(FailedAt.isValid() ? std::max<qint64>(100, BackOffMs - FailedAt.elapsed()) : 1000);
        Box->Post([sent, error, waiting, refused](TTestRecordWorker *worker) {
            if (!sent.isEmpty()) emit worker->Sent(sent);
            if (waiting >= 0) worker->SetQueueState(waiting, refused);
            worker->SetServerError(error);
            emit worker->Flushed();
        });
    }
};

struct TTestRecordWorker::TPendingList {
    TTestRecordFilter Filter;
    std::function<void(const TRecordList &)> Done;
    bool Finished = false;
    bool LocalAnswered = false, ServerAnswered = false, TimedOut = false;
    QVector<TTestRecordSummary> Local, Server;
    QSet<QString> LocalRefused;
    QString LocalError, ServerError;
};

TTestRecordWorker::TTestRecordWorker(const QString &folder, const TRecordServerSettings &server,
                                     QObject *parent)
    : QObject(parent), FServerSet(server.IsSet()),
      FFolder(folder.isEmpty() ? TTestRecordStore::DefaultFolder() : folder),
      FPostBox(std::make_shared<TPostBox>()) {
    FPostBox->Target = this;
    FState.ServerSet = FServerSet;
    FLocal = std::make_shared<TLocalSide>();
    FLocal->Folder = FFolder;
    FLocal->ServerSet = FServerSet;
    FLocalThread = new QThread;
    FLocalThread->setObjectName(QStringLiteral("test records"));
    FLocalContext = new QObject;
    FLocalContext->moveToThread(FLocalThread);
    FLocalThread->start();
    if (!FServerSet) return;

    FServer = std::make_shared<TServerSide>();
    FServer->Settings = server;
    FServer->Folder = FFolder;
    FServer->Box = FPostBox;
    FServerThread = new QThread;
    FServerThread->setObjectName(QStringLiteral("test-record server"));
    FServerContext = new QObject;
    FServerContext->moveToThread(FServerThread);
    FServerThread->start();
    KvThread::Post(FServerContext, [side = FServer, context = FServerContext] {
        side->Retry = new QTimer(context);
        side->Retry->setSingleShot(true);
        QObject::connect(side->Retry, &QTimer::timeout, context, [side] { side->Flush(); });
    });
    // The local thread makes the file first; then what waited since the last run goes.
    KvThread::Post(FLocalContext, [local = FLocal, side = FServer, context = FServerContext] {
        try {
            local->Open();
        } catch (const ETestRecordStore &) {
            // Said by the first write, which tries again.
        }
        KvThread::Post(context, [side] { side->Flush(); });
    });
}

TTestRecordWorker::~TTestRecordWorker() {
    FPostBox->Close();
    // The thread's last work happens before the wait returns (QThread's wait is Qt's own, which
    // the thread build cannot see: marked on both sides).
    KvThread::Post(FLocalContext, [side = FLocal] {
        side->Store.reset();
        QThread::currentThread()->quit();
        KvThread::MarkRelease(side.get());
    });
    FLocalThread->wait();
    KvThread::MarkAcquire(FLocal.get());
    delete FLocalContext;
    delete FLocalThread;
    if (!FServerThread) return;
    KvThread::Post(FServerContext, [side = FServer] {
        side->Server.reset();
        side->Queue.reset();
        delete side->Retry;
        side->Retry = nullptr;
        QThread::currentThread()->quit();
        KvThread::MarkRelease(side.get());
    });
    // A thread blocked on a stalled server is not waited for: it ends, with the program at
    // the latest, and its records are safe in the local file.
    if (FServerThread->wait(2000)) {
        KvThread::MarkAcquire(FServer.get());
        delete FServerContext;
        delete FServerThread;
        return;
    }
    // A thread may not be destroyed while it runs: the process keeps the ones left behind and
    // frees each once it has ended (looked at whenever another is left behind).
    // Never destroyed: the list outlives every static, so a thread still running at exit is
    // held, not leaked.
    static auto *leftBehind = new QList<std::pair<QThread *, QObject *>>;
    leftBehind->removeIf([](const std::pair<QThread *, QObject *> &t) {
        if (!t.first->isFinished()) return false;
        delete t.second;
        delete t.first;
        return true;
    });
    leftBehind->append({FServerThread, FServerContext});
}

QString TTestRecordWorker::FilePath() const {
    return QDir(FFolder).filePath(QLatin1String(TTestRecordStore::FileName));
}

void TTestRecordWorker::Write(const TTestRecord &record) {
    KvThread::Post(FLocalContext,
                   [side = FLocal, box = FPostBox, record, server = FServer, context = FServerContext] {
                       bool openFailed = !side->Store;
                       try {
                           TTestRecordStore &store = side->Open();
                           openFailed = false;
                           store.WriteRecords({record});
                           TestRecordPause("local-committed");
                       } catch (const ETestRecordStore &e) {
                           const QString error = QString::fromUtf8(e.what());
                           box->Post([record, error, openFailed](TTestRecordWorker *worker) {
                               emit worker->StoreFailed(record, error, openFailed);
                           });
                           return;
                       }
                       int waiting = 0;
                       QVector<TRefusedTestRecord> refused;
                       if (side->ServerSet) {
                           try {
                               waiting = side->Store->WaitingCount();
                               refused = side->Store->RefusedRecords();
                           } catch (const ETestRecordStore &) {
                               waiting = 1;
                           }
                       }
                       box->Post([record, waiting, refused](TTestRecordWorker *worker) {
                           if (worker->FServerSet) worker->SetQueueState(waiting, refused);
                           emit worker->Stored(record);
                       });
                       if (server) KvThread::Post(context, [server] { server->Flush(); });
                   });
}

void TTestRecordWorker::Flush() {
    if (FServer) KvThread::Post(FServerContext, [side = FServer] { side->Flush(); });
}

void TTestRecordWorker::RetryRefused() {
    if (!FServer) return;
    KvThread::Post(FServerContext, [side = FServer] {
        try {
            side->QueueStore().ClearRefused();
        } catch (const ETestRecordStore &) {
            // The flush says what is wrong with the file.
        }
        side->Flush();
    });
}

void TTestRecordWorker::SetQueueState(int waiting, const QVector<TRefusedTestRecord> &refused) {
    TRecordQueueState state = FState;
    state.Waiting = waiting;
    state.Refused = refused;
    if (state == FState) return;
    FState = state;
    emit StateChanged(FState);
}

void TTestRecordWorker::SetServerError(const QString &error) {
    if (FState.ServerError == error) return;
    FState.ServerError = error;
    emit StateChanged(FState);
}

void TTestRecordWorker::List(const TTestRecordFilter &filter, std::function<void(const TRecordList &)> done) {
    auto pending = std::make_shared<TPendingList>();
    pending->Filter = filter;
    pending->Done = std::move(done);
    // The local file's rows: with a server, the queue's (at most as many as the list shows).
    KvThread::Post(FLocalContext, [side = FLocal, box = FPostBox, pending, filter] {
        QVector<TTestRecordSummary> rows;
        QSet<QString> refused;
        QString error;
        try {
            rows = side->Open().ListRecords(filter);
            if (side->ServerSet)
                for (const TRefusedTestRecord &record : side->Store->RefusedRecords())
                    refused.insert(record.Id);
        } catch (const ETestRecordStore &e) {
            error = QString::fromUtf8(e.what());
        }
        box->Post([pending, rows, refused, error](TTestRecordWorker *worker) {
            pending->LocalAnswered = true;
            pending->Local = rows;
            pending->LocalRefused = refused;
            pending->LocalError = error;
            worker->Finish(pending);
        });
    });
    if (!FServer) return;
    KvThread::Post(FServerContext, [side = FServer, pending, filter] {
        QVector<TTestRecordSummary> rows;
        QString error;
        try {
            rows = side->OnServer([&](TTestRecordServerStore &server) { return server.ListRecords(filter); });
        } catch (const ETestRecordStore &e) {
            error = QString::fromUtf8(e.what());
        }
        side->Box->Post([pending, rows, error](TTestRecordWorker *worker) {
            pending->ServerAnswered = true;
            pending->Server = rows;
            pending->ServerError = error;
            worker->Finish(pending);
        });
    });
    QTimer::singleShot(ServerAnswerMs, this, [this, pending] {
        pending->TimedOut = true;
        Finish(pending);
    });
}

void TTestRecordWorker::Finish(const std::shared_ptr<TPendingList> &pending) {
    if (pending->Finished || !pending->LocalAnswered) return;
    if (FServerSet && !pending->ServerAnswered && !pending->TimedOut) return;
    pending->Finished = true;
    TRecordList list;
    list.ServerSet = FServerSet;
    list.Error = pending->LocalError;
    list.Refused = pending->LocalRefused;
    QVector<TTestRecordSummary> rows = pending->Local;
    if (FServerSet) {
        for (const TTestRecordSummary &row : pending->Local)
            if (!pending->LocalRefused.contains(row.Id)) list.Waiting.insert(row.Id);
        if (!pending->ServerAnswered)
            list.ServerError = QStringLiteral("The test-record server did not answer within %1 s")
                                   .arg(ServerAnswerMs / 1000);
        else if (!pending->ServerError.isEmpty())
            list.ServerError = pending->ServerError;
        else
            for (const TTestRecordSummary &row : pending->Server)
                if (!list.Waiting.contains(row.Id) && !list.Refused.contains(row.Id)) rows.append(row);
    }
    std::sort(rows.begin(), rows.end(), [](const TTestRecordSummary &a, const TTestRecordSummary &b) {
        return a.TakenAt != b.TakenAt ? a.TakenAt > b.TakenAt : a.Id > b.Id;
    });
    if (pending->Filter.MaxRows > 0 && rows.size() > pending->Filter.MaxRows)
        rows.resize(pending->Filter.MaxRows);
    list.Records = std::move(rows);
    if (pending->Done) pending->Done(list);
}

void TTestRecordWorker::Load(
    const QString &id, std::function<void(const std::optional<TTestRecord> &, const QString &error)> done) {
    auto callback = std::make_shared<decltype(done)>(std::move(done));
    // The local file first: a waiting record is only there, and it answers at once.
    KvThread::Post(FLocalContext, [side = FLocal, box = FPostBox, id, callback, server = FServer,
                                   context = FServerContext] {
        std::optional<TTestRecord> record;
        QString error;
        try {
            record = side->Open().LoadRecord(id);
        } catch (const ETestRecordStore &e) {
            error = QString::fromUtf8(e.what());
        }
        if (record || !server) {
            box->Post([callback, record, error](TTestRecordWorker *) { (*callback)(record, error); });
            return;
        }
        KvThread::Post(context, [server, id, callback] {
            std::optional<TTestRecord> found;
            QString failure;
            try {
                found = server->OnServer([&](TTestRecordServerStore &store) { return store.LoadRecord(id); });
            } catch (const ETestRecordStore &e) {
                failure = QString::fromUtf8(e.what());
            }
            server->Box->Post(
                [callback, found, failure](TTestRecordWorker *) { (*callback)(found, failure); });
        });
    });
}

std::unique_ptr<TTestRecordWorker> OpenTestRecordWorker(const QString &settingsFile, const QString &folder) {
    QSettings settings(settingsFile, QSettings::IniFormat);
    return std::make_unique<TTestRecordWorker>(folder, LoadRecordServerSettings(settings));
}

TStoredTestRecord StoreTestRecord(const QString &settingsFile, const QString &folder,
                                  const TTestRecord &record, int sendWaitMs) {
    const std::unique_ptr<TTestRecordWorker> worker = OpenTestRecordWorker(settingsFile, folder);
    QEventLoop loop;
    bool stored = false, sent = false;
    QString failure;
    QObject::connect(worker.get(), &TTestRecordWorker::Stored, &loop, [&](const TTestRecord &done) {
        stored = stored || done.Id == record.Id;
        if (stored && !worker->ServerSet()) loop.quit();
    });
    QObject::connect(worker.get(), &TTestRecordWorker::StoreFailed, &loop,
                     [&](const TTestRecord &, const QString &error) {
                         failure = error;
                         loop.quit();
                     });
    QObject::connect(worker.get(), &TTestRecordWorker::Sent, &loop, [&](const QStringList &ids) {
        sent = sent || ids.contains(record.Id);
        if (sent) loop.quit();
    });
    // An attempt that ended with the server away: the record waits in the queue.
    QObject::connect(worker.get(), &TTestRecordWorker::Flushed, &loop, [&] {
        if (stored && !worker->State().ServerError.isEmpty()) loop.quit();
    });
    QTimer::singleShot(sendWaitMs, &loop, &QEventLoop::quit);
    worker->Write(record);
    loop.exec();
    if (!failure.isEmpty()) throw ETestRecordStore(failure.toStdString());
    if (!stored)
        throw ETestRecordStore(QStringLiteral("The test record was not stored within %1 s")
                                   .arg(sendWaitMs / 1000)
                                   .toStdString());
    return {worker->FilePath(), worker->ServerSet(), sent,
            sent                                    ? QString()
            : worker->State().ServerError.isEmpty() ? QStringLiteral("no answer yet")
                                                    : worker->State().ServerError};
}

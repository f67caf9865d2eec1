// The records worker against a real PostgreSQL 15 server that the test starts, stops, stalls
// (SIGSTOP) and restarts, against a "server" that accepts connections and never answers, and
// with a writing program killed at each point of a write and a flush.
#include "TestMain.h"
#include "uLoopLatency.h"
#include "uPostgresTestServer.h"
#include "uRecordTestSupport.h"
#include "uTestRecordWorker.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <sys/socket.h>

Q_DECLARE_METATYPE(TRecordQueueState)

namespace {

// A listening socket on 127.0.0.1 that nobody accepts on: the kernel completes each connection
// and then nothing is ever said, as a server that hangs before its greeting.
class TSilentListener {
public:
    int Port = 0;
    TSilentListener() {
        FSocket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (FSocket < 0 || bind(FSocket, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
            listen(FSocket, 16) != 0 ||
            getsockname(FSocket, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        Port = ntohs(address.sin_port);
    }
    ~TSilentListener() {
        if (FSocket >= 0) close(FSocket);
    }
    TSilentListener(const TSilentListener &) = delete;
    TSilentListener &operator=(const TSilentListener &) = delete;

private:
    int FSocket = -1;
};

// A serial the server cannot index: far over PostgreSQL's index row limit (about 2.7 kB) and
// not compressible below it.
QString UnindexableSerial() {
    QString serial;
    quint32 seed = 12345;
    for (int i = 0; i < 6000; ++i) {
        seed = seed * 1103515245u + 12345u;
        serial += QChar(0x0410 + int((seed >> 16) % 64)); // Cyrillic letters at random
    }
    return serial;
}

// The list the worker answers, waited for.
TRecordList ListOf(TTestRecordWorker &worker, const TTestRecordFilter &filter = {}) {
    std::optional<TRecordList> answer;
    worker.List(filter, [&](const TRecordList &list) { answer = list; });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 20000); }();
    return answer.value_or(TRecordList());
}

QStringList IdsOf(const QVector<TTestRecordSummary> &records) {
    QStringList ids;
    for (const TTestRecordSummary &record : records)
        ids << record.Id;
    return ids;
}

} // namespace

class TestTestRecordWorker : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void localFileAlone();
    void waitingUntilTheServerIsBack();
    void refusedRecordHoldsBackNothing();
    void restartedServerIsReconnected();
    void neverWaitsOnAStuckServer_data();
    void neverWaitsOnAStuckServer();
    void killedAtEachPoint_data();
    void killedAtEachPoint();

private:
    std::unique_ptr<TPostgresServer> FServer;
    int FDatabases = 0;

    // A database of its own for a test: its records are the test's alone.
    TRecordServerSettings NewDatabase() {
        const QString name = QStringLiteral("worker%1").arg(++FDatabases);
        if (!FServer->CreateDatabase(name)) return {};
        return FServer->Settings(name);
    }
};

void TestTestRecordWorker::initTestCase() {
    qRegisterMetaType<TRecordQueueState>();
    QVERIFY2(QFileInfo::exists(PgBin + QStringLiteral("/initdb")),
             "PostgreSQL 15 is missing (Debian package postgresql, installed by ./scripts/deps)");
    FServer = std::make_unique<TPostgresServer>();
    QVERIFY2(FServer->Error.isEmpty(), qPrintable(FServer->Error));
}

void TestTestRecordWorker::cleanupTestCase() {
    FServer.reset();
}

void TestTestRecordWorker::localFileAlone() {
    QTemporaryDir folder;
    TTestRecordWorker worker(folder.path(), {});
    QSignalSpy stored(&worker, &TTestRecordWorker::Stored);
    TTestRecord older = FullTestRecord(QStringLiteral("L-1"));
    TTestRecord newer = FullTestRecord(QStringLiteral("L-2"));
    newer.TakenAt = older.TakenAt.addSecs(60);
    worker.Write(older);
    worker.Write(newer);
    QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 2, 20000);
    const TRecordList list = ListOf(worker);
    QCOMPARE(IdsOf(list.Records), QStringList({newer.Id, older.Id}));
    QVERIFY(list.Waiting.isEmpty());
    QVERIFY(list.ServerError.isEmpty() && !list.ServerSet);
    std::optional<TTestRecord> loaded;
    bool answered = false;
    worker.Load(older.Id, [&](const std::optional<TTestRecord> &record, const QString &) {
        loaded = record;
        answered = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(answered, 20000);
    QVERIFY(loaded == older);
    QCOMPARE(worker.State().Waiting, 0);
}

void TestTestRecordWorker::waitingUntilTheServerIsBack() {
    const TRecordServerSettings settings = NewDatabase();
    QVERIFY(settings.IsSet());
    QTemporaryDir folder;
    QVERIFY(FServer->Stop());
    TTestRecordWorker worker(folder.path(), settings);
    QSignalSpy stored(&worker, &TTestRecordWorker::Stored);
    const TTestRecord first = FullTestRecord(QStringLiteral("W-1"));
    const TTestRecord second = FullTestRecord(QStringLiteral("W-2"));
    worker.Write(first);
    worker.Write(second);
    QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 2, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(worker.State().Waiting, 2, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!worker.State().ServerError.isEmpty(), 20000);
    // Listed at once from the local file, marked as waiting, with the reason the server is
    // not asked.
    TRecordList list = ListOf(worker);
    QCOMPARE(list.Records.size(), 2);
    QCOMPARE(list.Waiting, QSet<QString>({first.Id, second.Id}));
    QVERIFY(!list.ServerError.isEmpty());

    // Back: the records go without another write.
    QVERIFY2(FServer->Start(), qPrintable(FServer->Error));
    QTRY_COMPARE_WITH_TIMEOUT(worker.State().Waiting, 0, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(worker.State().ServerError.isEmpty(), 20000);
    list = ListOf(worker);
    QVERIFY2(list.ServerError.isEmpty(), qPrintable(list.ServerError));
    QCOMPARE(list.Records.size(), 2);
    QVERIFY(list.Waiting.isEmpty());
    TTestRecordServerStore server(settings);
    QVERIFY(server.LoadRecord(first.Id) == first);
    QVERIFY(server.LoadRecord(second.Id) == second);
}

void TestTestRecordWorker::refusedRecordHoldsBackNothing() {
    const TRecordServerSettings settings = NewDatabase();
    QVERIFY(settings.IsSet());
    QTemporaryDir folder;
    // Queued during an outage: the refused record first, two good ones after it, so that
    // they share its batch.
    const TTestRecord refused = FullTestRecord(UnindexableSerial());
    const TTestRecord good1 = FullTestRecord(QStringLiteral("G-1"));
    const TTestRecord good2 = FullTestRecord(QStringLiteral("G-2"));
    {
        TTestRecordStore queue(folder.path());
        for (const TTestRecord &record : {refused, good1, good2})
            QVERIFY(queue.WriteRecord(record));
    }
    TTestRecordWorker worker(folder.path(), settings);
    QTRY_COMPARE_WITH_TIMEOUT(worker.State().Refused.size(), 1, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(worker.State().Waiting, 0, 30000);
    const TRefusedTestRecord &set = worker.State().Refused[0];
    QCOMPARE(set.Id, refused.Id);
    QVERIFY2(set.Reason.contains(QStringLiteral("index row")), qPrintable(set.Reason));
    TTestRecordServerStore server(settings);
    QVERIFY(server.LoadRecord(good1.Id) == good1);
    QVERIFY(server.LoadRecord(good2.Id) == good2);
    QVERIFY(!server.LoadRecord(refused.Id));

    // A later record goes too; the refused one is still set aside, counted and listed.
    const TTestRecord good3 = FullTestRecord(QStringLiteral("G-3"));
    QSignalSpy sent(&worker, &TTestRecordWorker::Sent);
    worker.Write(good3);
    QTRY_VERIFY_WITH_TIMEOUT(!sent.isEmpty(), 30000);
    QCOMPARE(sent[0][0].toStringList(), QStringList{good3.Id});
    QCOMPARE(worker.State().Refused.size(), 1);
    const TRecordList list = ListOf(worker);
    QCOMPARE(list.Records.size(), 4);
    QCOMPARE(list.Refused, QSet<QString>{refused.Id});
    QVERIFY(list.Waiting.isEmpty());

    // Tried again on demand: refused again, still alone.
    QSignalSpy flushed(&worker, &TTestRecordWorker::Flushed);
    worker.RetryRefused();
    QTRY_VERIFY_WITH_TIMEOUT(!flushed.isEmpty(), 30000);
    QCOMPARE(worker.State().Refused.size(), 1);
    QCOMPARE(worker.State().Waiting, 0);
    TTestRecordStore queue(folder.path(), TTestRecordStore::saReadOnly);
    QVERIFY(queue.LoadRecord(refused.Id) == refused); // kept whole in the local file
}

void TestTestRecordWorker::restartedServerIsReconnected() {
    const TRecordServerSettings settings = NewDatabase();
    QVERIFY(settings.IsSet());
    QTemporaryDir folder;
    TTestRecordWorker worker(folder.path(), settings);
    QSignalSpy sent(&worker, &TTestRecordWorker::Sent);
    worker.Write(FullTestRecord(QStringLiteral("R-1")));
    QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 1, 30000);
    QVERIFY(FServer->Stop());
    QVERIFY2(FServer->Start(), qPrintable(FServer->Error));
    // The old connection is gone with the old server: the next write makes a new one at once
    // and goes straight through, never reported as failed.
    QStringList errors;
    connect(&worker, &TTestRecordWorker::StateChanged, this, [&](const TRecordQueueState &state) {
        if (!state.ServerError.isEmpty()) errors << state.ServerError;
    });
    const TTestRecord second = FullTestRecord(QStringLiteral("R-2"));
    worker.Write(second);
    QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 2, 30000);
    QCOMPARE(sent[1][0].toStringList(), QStringList{second.Id});
    QCOMPARE(errors, QStringList());
    const TRecordList list = ListOf(worker);
    QVERIFY2(list.ServerError.isEmpty(), qPrintable(list.ServerError));
    QCOMPARE(list.Records.size(), 2);
}

void TestTestRecordWorker::neverWaitsOnAStuckServer_data() {
    QTest::addColumn<bool>("stalled"); // else: a listener that never answers
    QTest::newRow("server stopped with SIGSTOP") << true;
    QTest::newRow("a port that accepts and never answers") << false;
}

void TestTestRecordWorker::neverWaitsOnAStuckServer() {
    QFETCH(bool, stalled);
    QTemporaryDir folder;
    TSilentListener silent;
    TRecordServerSettings settings;
    if (stalled) {
        settings = NewDatabase();
    } else {
        QVERIFY(silent.Port > 0);
        // No connect_timeout: the worker's own bound applies.
        settings = {QStringLiteral("host=127.0.0.1 port=%1 dbname=tamrel user=bench").arg(silent.Port)};
    }
    QVERIFY(settings.IsSet());
    auto worker = std::make_unique<TTestRecordWorker>(folder.path(), settings);
    QSignalSpy stored(worker.get(), &TTestRecordWorker::Stored);
    QStringList failures;
    connect(worker.get(), &TTestRecordWorker::StoreFailed, this,
            [&](const TTestRecord &, const QString &error) { failures << error; });
    if (stalled) {
        // Connected and working, then the server hangs.
        QSignalSpy sent(worker.get(), &TTestRecordWorker::Sent);
        worker->Write(FullTestRecord(QStringLiteral("S-0")));
        QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 1, 30000);
        stored.clear();
        QVERIFY(FServer->Stall());
    }
    TLoopLatency latency;
    QVector<TTestRecord> records;
    for (int i = 1; i <= 3; ++i) {
        records << FullTestRecord(QStringLiteral("S-%1").arg(i));
        worker->Write(records.last());
    }
    // Durable in the local file while the server hangs.
    QTRY_COMPARE_WITH_TIMEOUT(stored.size() + failures.size(), 3, 20000);
    QCOMPARE(failures, QStringList());
    TTestRecordFilter filter;
    filter.Serial = QStringLiteral("S-");
    for (const QChar c : QStringLiteral("S-123")) {
        Q_UNUSED(c);
        worker->List(filter, [](const TRecordList &) {});
    }
    const TRecordList list = ListOf(*worker, filter);
    QVERIFY(!list.ServerError.isEmpty());
    for (const TTestRecord &record : records)
        QVERIFY(list.Waiting.contains(record.Id));
    bool loaded = false;
    worker->Load(records[0].Id, [&](const std::optional<TTestRecord> &record, const QString &) {
        loaded = record == records[0];
    });
    QTRY_VERIFY_WITH_TIMEOUT(loaded, 20000);
    const qint64 gap = latency.MaxGap();
    qInfo("longest wait of the event loop: %lld ms (%lld ms with the time it waited for a processor)", gap,
          latency.MaxWallGap());
    QVERIFY2(gap < 100, qPrintable(QStringLiteral("the event loop waited %1 ms").arg(gap)));
    if (stalled) {
        QVERIFY(FServer->Resume());
        QTRY_COMPARE_WITH_TIMEOUT(worker->State().Waiting, 0, 60000);
    }
    worker.reset();
}

void TestTestRecordWorker::killedAtEachPoint_data() {
    QTest::addColumn<QString>("point");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("queuedBefore"); // records in the queue when the writer starts
    QTest::addColumn<int>("written");      // records the writer writes
    QTest::addColumn<int>("arrive");       // records on the server in the end
    // Killed while writing its second record: the first arrives; the second was never stored.
    QTest::newRow("writing, before the local commit") << "local-before-commit" << 2 << 0 << 3 << 1;
    // Killed when its second record is committed, before the program heard of it: both arrive.
    QTest::newRow("written, before it is sent") << "local-committed" << 2 << 0 << 3 << 2;
    QTest::newRow("mid-batch, before the server's commit") << "server-before-commit" << 1 << 5 << 0 << 5;
    QTest::newRow("sent, before it leaves the queue") << "server-committed" << 1 << 5 << 0 << 5;
}

void TestTestRecordWorker::killedAtEachPoint() {
    QFETCH(QString, point);
    QFETCH(int, nth);
    QFETCH(int, queuedBefore);
    QFETCH(int, written);
    QFETCH(int, arrive);
    const TRecordServerSettings settings = NewDatabase();
    QVERIFY(settings.IsSet());
    QTemporaryDir folder;
    QStringList expected; // records the program called stored: each must arrive, once
    {
        TTestRecordStore queue(folder.path());
        for (int i = 0; i < queuedBefore; ++i) {
            const TTestRecord record = FullTestRecord(QStringLiteral("Q-%1").arg(i));
            QVERIFY(queue.WriteRecord(record));
            expected << record.Id;
        }
    }
    TChildProcess writer;
    QVERIFY(writer.Start(
        QStringLiteral(RECORD_WRITER_EXE),
        {folder.path(), settings.ConnectionString, QString::number(written), point, QString::number(nth)}));
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += writer.ReadAll()).contains("PAUSED " + point.toLatin1()), 30000);
    ::kill(pid_t(writer.Pid()), SIGKILL);
    QVERIFY(writer.WaitForFinished(20000));
    output += writer.ReadAll();
    for (const QByteArray &line : output.split('\n'))
        if (line.startsWith("STORED ")) expected << QString::fromLatin1(line.mid(7));

    // The next run sends what the killed one left.
    TChildProcess next;
    QVERIFY(next.Start(QStringLiteral(RECORD_WRITER_EXE),
                       {folder.path(), settings.ConnectionString, QStringLiteral("0")},
                       TChildProcess::ErrorMerged));
    QVERIFY(next.WaitForFinished(60000));
    const QByteArray nextOutput = next.ReadAll();
    QVERIFY2(nextOutput.contains("DONE"), nextOutput.constData());

    TTestRecordServerStore server(settings);
    const QVector<TTestRecordSummary> onServer = server.ListRecords();
    QStringList ids = IdsOf(onServer);
    for (const QString &id : expected)
        QVERIFY2(ids.contains(id), qPrintable(id + QStringLiteral(" is not on the server")));
    for (const QString &id : ids) {
        QCOMPARE(ids.count(id), 1);
        const std::optional<TTestRecord> record = server.LoadRecord(id);
        QVERIFY(record);
        QCOMPARE(record->Points.size(), FullTestRecord().Points.size()); // whole, never doubled
    }
    TTestRecordStore queue(folder.path(), TTestRecordStore::saReadOnly);
    QCOMPARE(queue.ListRecords().size(), 0);
    QCOMPARE(ids.size(), arrive);
}

TAMREL_TEST_MAIN_CORE(TestTestRecordWorker)
#include "tst_TestRecordWorker.moc"

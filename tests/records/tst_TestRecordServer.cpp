// Test records on a real PostgreSQL 15 server, started by the test in a temporary folder as an
// unprivileged user on a private unix socket, and the local queue for a server that is away.
#include "TestMain.h"
#include "uRecordTestSupport.h"
#include "uTestRecordServerStore.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <pwd.h>
#include <unistd.h>

namespace {

const QString PgBin = QStringLiteral("/usr/lib/postgresql/15/bin");

// A throw-away cluster: initdb, then pg_ctl start/stop, run as "nobody" when the test runs as
// root (PostgreSQL refuses to run as root), listening on a socket in the cluster's folder only.
class TPostgresServer {
public:
    QTemporaryDir Dir;
    int Port = 0;
    QString Error;

    TPostgresServer() : Port(20000 + int(QCoreApplication::applicationPid() % 20000)) {
        if (!Dir.isValid()) {
            Error = QStringLiteral("no temporary folder");
            return;
        }
        if (geteuid() == 0) {
            const passwd *nobody = getpwnam("nobody");
            if (!nobody || chown(qPrintable(Dir.path()), nobody->pw_uid, nobody->pw_gid) != 0) {
                Error = QStringLiteral("cannot hand the folder to nobody");
                return;
            }
        }
        if (!Run(QStringLiteral("initdb"), {"-D", DataDir(), "-A", "trust", "-U", "tamrel", "--no-sync",
                                            "--encoding=UTF8", "--locale=C"}))
            return;
        Start();
    }
    ~TPostgresServer() {
        if (Running) Stop();
    }

    bool Start() {
        Running =
            Run(QStringLiteral("pg_ctl"),
                {"-D", DataDir(), "-l", Dir.filePath("log"), "-w", "-t", "60", "-o",
                 QStringLiteral("-k %1 -c listen_addresses='' -p %2 -c fsync=off").arg(Dir.path()).arg(Port),
                 "start"});
        return Running;
    }
    bool Stop() {
        Running = false;
        return Run(QStringLiteral("pg_ctl"), {"-D", DataDir(), "-w", "-m", "fast", "stop"});
    }

    TRecordServerSettings Settings(const QString &database = QStringLiteral("postgres")) const {
        return {QStringLiteral("host=%1 port=%2 dbname=%3 user=tamrel connect_timeout=5")
                    .arg(Dir.path())
                    .arg(Port)
                    .arg(database)};
    }
    // An empty database of its own, for a test that needs the tables not yet created.
    bool CreateDatabase(const QString &name) {
        return Run(QStringLiteral("createdb"),
                   {"-h", Dir.path(), "-p", QString::number(Port), "-U", "tamrel", name});
    }

private:
    bool Running = false;
    QString DataDir() const { return Dir.filePath(QStringLiteral("data")); }

    bool Run(const QString &tool, const QStringList &arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (geteuid() == 0)
            process.start(QStringLiteral("runuser"),
                          QStringList{"-u", "nobody", "--", PgBin + u'/' + tool} + arguments);
        else
            process.start(PgBin + u'/' + tool, arguments);
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            Error = tool + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll());
            return false;
        }
        return true;
    }
};

} // namespace

class TestTestRecordServer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void roundTripOnTheServer();
    void queuedWhileTheServerIsAway();
    void sentTwiceStoredOnce();
    void serverSetting();
    void twoBenchesWriteAtOnce();
    void twoBenchesCreateTheTablesAtOnce();

private:
    std::unique_ptr<TPostgresServer> FServer;
};

void TestTestRecordServer::initTestCase() {
    // ./scripts/deps installs it: a missing server is a failure, not a reason to skip.
    QVERIFY2(QFileInfo::exists(PgBin + QStringLiteral("/initdb")),
             "PostgreSQL 15 is missing (Debian package postgresql, installed by ./scripts/deps)");
    FServer = std::make_unique<TPostgresServer>();
    QVERIFY2(FServer->Error.isEmpty(), qPrintable(FServer->Error));
}

void TestTestRecordServer::cleanupTestCase() {
    FServer.reset();
}

void TestTestRecordServer::roundTripOnTheServer() {
    const TTestRecord record = FullTestRecord();
    TTestRecord bare = FullTestRecord(QStringLiteral("Б-1"));
    bare.Limits = {};
    for (TTestRecordPoint &point : bare.Points)
        point.Volts = 2.5;
    bare.TakenAt = bare.TakenAt.addDays(1);
    bare.Evaluate();
    {
        TTestRecordServerStore store(FServer->Settings());
        QCOMPARE(store.WriteRecords({record, bare}), 2);
    }
    TTestRecordServerStore store(FServer->Settings());
    QVERIFY(store.LoadRecord(record.Id) == record);
    QVERIFY(store.LoadRecord(bare.Id) == bare);
    TTestRecordFilter filter;
    filter.Serial = QStringLiteral("гп-00"); // Cyrillic, other case
    const QVector<TTestRecordSummary> found = store.ListRecords(filter);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].Id, record.Id);
    QCOMPARE(found[0].Figures, record.Figures);
    filter = {};
    filter.MaxRows = 1;
    QCOMPARE(store.ListRecords(filter).value(0).Id, bare.Id);
}

void TestTestRecordServer::queuedWhileTheServerIsAway() {
    QTemporaryDir queueDir;
    QVERIFY(queueDir.isValid());
    TQueuedTestRecordStore store(FServer->Settings(), queueDir.path());
    const TTestRecord first = FullTestRecord(QStringLiteral("Q-1"));
    const TTestRecord second = FullTestRecord(QStringLiteral("Q-2"));
    QVERIFY(FServer->Stop());
    QVERIFY(store.WriteRecord(first));
    QVERIFY(store.WriteRecord(second));
    QVERIFY2(store.LastServerError().startsWith("Cannot reach the test-record server"),
             qPrintable(store.LastServerError()));
    QCOMPARE(store.QueuedCount(), 2);
    QVERIFY_THROWS_EXCEPTION(ETestRecordStore, store.Flush());
    QCOMPARE(store.QueuedCount(), 2);

    QVERIFY2(FServer->Start(), qPrintable(FServer->Error));
    QCOMPARE(store.Flush(), 2);
    QCOMPARE(store.QueuedCount(), 0);
    QVERIFY(store.LoadRecord(first.Id) == first);
    QVERIFY(store.LoadRecord(second.Id) == second);
    // Back on line, a write goes straight to the server.
    const TTestRecord third = FullTestRecord(QStringLiteral("Q-3"));
    QVERIFY(store.WriteRecord(third));
    QVERIFY(store.LastServerError().isEmpty());
    QCOMPARE(store.QueuedCount(), 0);
    QVERIFY(store.LoadRecord(third.Id) == third);
}

void TestTestRecordServer::sentTwiceStoredOnce() {
    // The server stored a record but its answer was lost: the record sits in the queue as well.
    QTemporaryDir queueDir;
    QVERIFY(queueDir.isValid());
    const TTestRecord record = FullTestRecord(QStringLiteral("TWICE"));
    {
        TTestRecordStore queue(queueDir.path());
        queue.WriteRecord(record);
    }
    {
        TTestRecordServerStore server(FServer->Settings());
        QVERIFY(server.WriteRecord(record));
    }
    TQueuedTestRecordStore store(FServer->Settings(), queueDir.path());
    QCOMPARE(store.QueuedCount(), 1);
    QCOMPARE(store.Flush(), 1);
    QCOMPARE(store.QueuedCount(), 0);
    TTestRecordFilter filter;
    filter.Serial = QStringLiteral("TWICE");
    filter.SerialExact = true;
    QCOMPARE(store.ListRecords(filter).size(), 1);
    QVERIFY(store.LoadRecord(record.Id) == record); // points not doubled either
}

void TestTestRecordServer::serverSetting() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tamrel.ini"));
    {
        QSettings settings(path, QSettings::IniFormat);
        QVERIFY(!LoadRecordServerSettings(settings).IsSet());
        SaveRecordServerSettings(settings, FServer->Settings());
    }
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(LoadRecordServerSettings(settings).ConnectionString, FServer->Settings().ConnectionString);
    TTestRecordServerStore store(LoadRecordServerSettings(settings));
    const TTestRecord record = FullTestRecord(QStringLiteral("SETTING"));
    store.WriteRecord(record);
    QVERIFY(store.LoadRecord(record.Id) == record);
}

void TestTestRecordServer::twoBenchesWriteAtOnce() {
    // Two benches on one server, each with its own connection and its own local queue, start
    // on a database without tables and write at the same time; the server is stopped and
    // started again while they write. In the end the server holds every record of both once,
    // points included, and neither queue keeps anything.
    const QString database = QStringLiteral("benches");
    QVERIFY2(FServer->CreateDatabase(database), qPrintable(FServer->Error));
    const TRecordServerSettings settings = FServer->Settings(database);
    constexpr int RecordsPerBench = 24;
    QTemporaryDir queues;
    QVERIFY(queues.isValid());
    std::atomic<int> written{0};
    std::atomic<int> mostQueued{0};
    QVector<QVector<TTestRecord>> records(2);
    QStringList errors(2);
    QVector<QThread *> benches;
    for (int bench = 0; bench < 2; ++bench) {
        for (int i = 0; i < RecordsPerBench; ++i)
            records[bench].append(FullTestRecord(QStringLiteral("BENCH%1-%2").arg(bench + 1).arg(i)));
        benches.append(QThread::create([&, bench] {
            try {
                // The store lives in the bench's thread: a SQL connection stays in the thread
                // that made it.
                TQueuedTestRecordStore store(settings, queues.filePath(QString::number(bench)));
                for (const TTestRecord &record : records[bench]) {
                    store.WriteRecord(record);
                    mostQueued = std::max(mostQueued.load(), store.QueuedCount());
                    ++written;
                    QThread::msleep(20);
                }
                // Whatever waited in the queue goes once the server answers again.
                for (int attempt = 0; store.QueuedCount() > 0 && attempt < 100; ++attempt) {
                    try {
                        store.Flush();
                    } catch (const ETestRecordStore &) {
                        QThread::msleep(100);
                    }
                }
                if (store.QueuedCount() > 0) errors[bench] = QStringLiteral("records left in the queue");
            } catch (const std::exception &error) {
                errors[bench] = QString::fromUtf8(error.what());
            }
        }));
    }
    for (QThread *bench : benches)
        bench->start();
    QTRY_VERIFY_WITH_TIMEOUT(written >= RecordsPerBench / 2, 60000);
    QVERIFY2(FServer->Stop(), qPrintable(FServer->Error));
    const int writtenWhileStopped = written;
    QTRY_VERIFY_WITH_TIMEOUT(written >= writtenWhileStopped + 4, 60000);
    QVERIFY2(FServer->Start(), qPrintable(FServer->Error));
    for (QThread *bench : benches) {
        QVERIFY(bench->wait(120000));
        delete bench;
    }
    QCOMPARE(errors, QStringList(2));
    QVERIFY(mostQueued > 0); // the stop was seen

    TTestRecordServerStore server(settings);
    QCOMPARE(server.ListRecords().size(), 2 * RecordsPerBench);
    for (const QVector<TTestRecord> &bench : records)
        for (const TTestRecord &record : bench)
            QVERIFY2(server.LoadRecord(record.Id) == record, qPrintable(record.HeadSerial));
}

void TestTestRecordServer::twoBenchesCreateTheTablesAtOnce() {
    // Two benches opening a new database at the same moment: one makes the tables, the other
    // waits for it and uses them; neither reports a failure. A few rounds, each on a database
    // of its own, so that the two really meet.
    for (int round = 0; round < 4; ++round) {
        const QString database = QStringLiteral("fresh%1").arg(round);
        QVERIFY2(FServer->CreateDatabase(database), qPrintable(FServer->Error));
        const TRecordServerSettings settings = FServer->Settings(database);
        std::atomic<int> ready{0};
        QStringList errors(2);
        QVector<QThread *> benches;
        for (int bench = 0; bench < 2; ++bench)
            benches.append(QThread::create([&, bench] {
                ++ready;
                while (ready < 2) {
                }
                try {
                    TTestRecordServerStore store(settings);
                    store.WriteRecord(FullTestRecord(QStringLiteral("NEW%1").arg(bench)));
                } catch (const std::exception &error) {
                    errors[bench] = QString::fromUtf8(error.what());
                }
            }));
        for (QThread *bench : benches)
            bench->start();
        for (QThread *bench : benches) {
            QVERIFY(bench->wait(60000));
            delete bench;
        }
        QCOMPARE(errors, QStringList(2));
        QCOMPARE(TTestRecordServerStore(settings).ListRecords().size(), 2);
    }
}

TAMREL_TEST_MAIN_CORE(TestTestRecordServer)
#include "tst_TestRecordServer.moc"

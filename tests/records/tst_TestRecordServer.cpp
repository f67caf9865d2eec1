// Test records on a real PostgreSQL 15 server, started by the test in a temporary folder as an
// unprivileged user on a private unix socket, and benches whose records workers write to it
// at once while it goes away and comes back.
#include "TestMain.h"
#include "uPostgresTestServer.h"
#include "uRecordTestSupport.h"
#include "uTestRecordServerStore.h"
#include "uTestRecordWorker.h"

#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>

class TestTestRecordServer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void roundTripOnTheServer();
    void sentTwiceStoredOnce();
    void serverSetting();
    void twoBenchesWriteAtOnce();
    void twoBenchesCreateTheTablesAtOnce();
    void serialPartFoundThroughTheTrigramIndex();

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

void TestTestRecordServer::sentTwiceStoredOnce() {
    // The server stored a record but its answer was lost: the record, still in the queue, is
    // sent again in the next batch. It is stored once, its points not doubled, and the batch
    // counts only the record that was new.
    const TTestRecord record = FullTestRecord(QStringLiteral("TWICE"));
    {
        TTestRecordServerStore server(FServer->Settings());
        QCOMPARE(server.WriteRecords({record}), 1);
    }
    TTestRecordServerStore store(FServer->Settings());
    QCOMPARE(store.WriteRecords({record, FullTestRecord(QStringLiteral("AFTER-TWICE"))}), 1);
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
    // Two benches on one server, each with its own records worker and local queue, start on a
    // database without tables and write at the same time; the server is stopped while they
    // write and started again. In the end the server holds every record of both once, points
    // included, and neither queue keeps anything.
    const QString database = QStringLiteral("benches");
    QVERIFY2(FServer->CreateDatabase(database), qPrintable(FServer->Error));
    const TRecordServerSettings settings = FServer->Settings(database);
    constexpr int RecordsPerBench = 24;
    QTemporaryDir queues;
    QVERIFY(queues.isValid());
    QVector<QVector<TTestRecord>> records(2);
    std::vector<std::unique_ptr<TTestRecordWorker>> workers;
    for (int bench = 0; bench < 2; ++bench) {
        for (int i = 0; i < RecordsPerBench; ++i)
            records[bench].append(FullTestRecord(QStringLiteral("BENCH%1-%2").arg(bench + 1).arg(i)));
        workers.push_back(
            std::make_unique<TTestRecordWorker>(queues.filePath(QString::number(bench)), settings));
    }
    const auto write = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            for (int bench = 0; bench < 2; ++bench)
                workers[bench]->Write(records[bench][i]);
            QTest::qWait(20); // a bench's pace, both at once
        }
    };
    write(0, RecordsPerBench / 2);
    QVERIFY2(FServer->Stop(), qPrintable(FServer->Error));
    write(RecordsPerBench / 2, RecordsPerBench / 2 + 4);
    // Both saw the server go: their records wait.
    for (const auto &worker : workers)
        QTRY_VERIFY_WITH_TIMEOUT(worker->State().Waiting > 0 && !worker->State().ServerError.isEmpty(),
                                 30000);
    QVERIFY2(FServer->Start(), qPrintable(FServer->Error));
    write(RecordsPerBench / 2 + 4, RecordsPerBench);
    for (const auto &worker : workers) {
        QTRY_COMPARE_WITH_TIMEOUT(worker->State().Waiting, 0, 120000);
        QVERIFY(worker->State().Refused.isEmpty());
    }

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

void TestTestRecordServer::serialPartFoundThroughTheTrigramIndex() {
    // The server's search index for a serial part (pg_trgm, shipped with PostgreSQL 15 in
    // Debian): made with the tables, and made for a database whose tables an earlier program
    // made without it; the store's searches find the same records through it, LIKE's own
    // characters and letter case included.
    const QString database = QStringLiteral("trgm");
    QVERIFY2(FServer->CreateDatabase(database), qPrintable(FServer->Error));
    const TRecordServerSettings settings = FServer->Settings(database);
    TTestRecordServerStore(settings).WriteRecords(
        {FullTestRecord(QStringLiteral("SN-105_x")), FullTestRecord(QStringLiteral("50%-1")),
         FullTestRecord(QStringLiteral("ГОЛОВКА-7")), FullTestRecord(QStringLiteral("SN-1059"))});
    const QString connection = QStringLiteral("trgm-check");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(FServer->Dir.path());
        db.setPort(FServer->Port);
        db.setDatabaseName(database);
        db.setUserName(QStringLiteral("tamrel"));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        const auto indexed = [&] {
            QSqlQuery query(db);
            return query.exec(QStringLiteral(
                       "SELECT 1 FROM pg_indexes WHERE indexname = 'test_record_serial_trgm'")) &&
                   query.next();
        };
        QVERIFY(indexed());
        QSqlQuery drop(db);
        QVERIFY2(drop.exec(QStringLiteral("DROP INDEX test_record_serial_trgm")),
                 qPrintable(drop.lastError().text()));
        TTestRecordServerStore again(settings); // an earlier program's tables: the index follows
        QVERIFY(indexed());
        const QVector<std::pair<QString, QStringList>> searches = {
            {QStringLiteral("5_"), {QStringLiteral("SN-105_x")}},
            {QStringLiteral("%"), {QStringLiteral("50%-1")}},
            {QStringLiteral("sn-105"), {QStringLiteral("SN-1059"), QStringLiteral("SN-105_x")}},
            {QStringLiteral("головка"), {QStringLiteral("ГОЛОВКА-7")}}};
        for (const auto &[part, serials] : searches) {
            TTestRecordFilter filter;
            filter.Serial = part;
            QStringList found;
            for (const TTestRecordSummary &summary : again.ListRecords(filter))
                found << summary.HeadSerial;
            found.sort();
            QCOMPARE(found, serials);
        }
        // The store's condition on a connection that can only use the index: the plan names it,
        // and the index's answer is the same (an escaped LIKE character included).
        QSqlQuery off(db);
        QVERIFY(off.exec(QStringLiteral("SET enable_seqscan = off")));
        QVERIFY(off.exec(QStringLiteral("SET enable_indexscan = off")));
        const QString condition =
            QStringLiteral(" FROM test_record WHERE head_serial_key LIKE '%5!_%' ESCAPE '!'");
        QSqlQuery plan(db);
        QVERIFY(plan.exec(QStringLiteral("EXPLAIN SELECT head_serial") + condition));
        QString text;
        while (plan.next())
            text += plan.value(0).toString() + u'\n';
        QVERIFY2(text.contains(QStringLiteral("test_record_serial_trgm")), qPrintable(text));
        QSqlQuery rows(db);
        QVERIFY(rows.exec(QStringLiteral("SELECT head_serial") + condition));
        QStringList found;
        while (rows.next())
            found << rows.value(0).toString();
        QCOMPARE(found, QStringList{QStringLiteral("SN-105_x")});
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

TAMREL_TEST_MAIN_CORE(TestTestRecordServer)
#include "tst_TestRecordServer.moc"

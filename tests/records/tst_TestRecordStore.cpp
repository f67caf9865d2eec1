// The local store of test records: a record comes back as written after the file is closed
// and opened again, lists filter and order, a failed write loses nothing, an old file migrates.
#include "TestMain.h"
#include "uRecordTestSupport.h"
#include "uTestRecordSql.h"
#include "uTestRecordStore.h"

#include <QTemporaryDir>

namespace {

TTestRecord Record(const QString &serial, const QDateTime &takenAt, TTestVerdict verdict) {
    TTestRecord record = FullTestRecord(serial);
    record.TakenAt = takenAt;
    record.Verdict = verdict;
    return record;
}

QDateTime At(int day, int hour, int minute = 0) {
    return QDateTime(QDate(2026, 4, day), QTime(hour, minute), Qt::UTC);
}

TTestRecordFilter BySerial(const QString &serial, bool exact = false) {
    TTestRecordFilter filter;
    filter.Serial = serial;
    filter.SerialExact = exact;
    return filter;
}

QStringList Serials(const QVector<TTestRecordSummary> &summaries) {
    QStringList serials;
    for (const TTestRecordSummary &summary : summaries)
        serials << summary.HeadSerial;
    return serials;
}

// The tables as the first program that kept test records wrote them.
const QStringList SchemaVersion1 = {
    "CREATE TABLE schema_version (version INTEGER NOT NULL)",
    "INSERT INTO schema_version (version) VALUES (1)",
    "CREATE TABLE test_record (id TEXT PRIMARY KEY, head_serial TEXT NOT NULL, taken_at_utc TEXT NOT NULL, "
    "tester_id TEXT NOT NULL, firmware TEXT NOT NULL, pump_type TEXT NOT NULL, head_type TEXT NOT NULL, "
    "start_duty INTEGER NOT NULL, end_duty INTEGER NOT NULL, step_duty INTEGER NOT NULL, "
    "period_ms INTEGER NOT NULL, compared_points INTEGER NOT NULL, max_hyst_volts DOUBLE PRECISION NOT NULL, "
    "mean_hyst_volts DOUBLE PRECISION NOT NULL, max_hyst_percent DOUBLE PRECISION, "
    "mean_hyst_percent DOUBLE PRECISION, max_at_duty DOUBLE PRECISION NOT NULL, "
    "span_volts DOUBLE PRECISION NOT NULL, limit_max_hyst_volts DOUBLE PRECISION, "
    "limit_max_hyst_percent DOUBLE PRECISION, limit_min_span_volts DOUBLE PRECISION, "
    "verdict INTEGER NOT NULL, failures TEXT NOT NULL)",
    "CREATE TABLE test_point (record_id TEXT NOT NULL REFERENCES test_record (id) ON DELETE CASCADE, "
    "seq INTEGER NOT NULL, branch INTEGER NOT NULL, duty DOUBLE PRECISION NOT NULL, "
    "volts DOUBLE PRECISION NOT NULL, PRIMARY KEY (record_id, seq))",
    "CREATE INDEX test_record_taken_at ON test_record (taken_at_utc)",
};

} // namespace

class TestTestRecordStore : public QObject {
    Q_OBJECT
private slots:
    void init();
    void roundTripThroughTheFile();
    void writtenAgainIsKeptOnce();
    void list_data();
    void list();
    void failedWriteLosesNothing();
    void readOnlyStoreRefusesWrites();
    void folderThatCannotBeCreated();
    void recordWithoutIdIsRefused();
    void version1FileMigrates();
    void foreignOrNewerFileIsRefused_data();
    void foreignOrNewerFileIsRefused();
    void twoStoresOnOneFile();
    void searchIndexAddedToAnEarlierFile();

private:
    std::unique_ptr<QTemporaryDir> FDir;
    QString Folder() const { return FDir->filePath(QStringLiteral("records")); }
    QString File() const { return QDir(Folder()).filePath(QLatin1String(TTestRecordStore::FileName)); }
};

void TestTestRecordStore::init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
}

void TestTestRecordStore::roundTripThroughTheFile() {
    const TTestRecord full = FullTestRecord();
    QCOMPARE(full.Verdict, tvFail);
    QCOMPARE(full.Failures.size(), 1);
    // No limits, no span (the actuator did not move), figures without a percentage.
    TTestRecord bare = FullTestRecord(QStringLiteral("B-1"));
    for (TTestRecordPoint &point : bare.Points)
        point.Volts = 1.25;
    bare.Limits = {};
    bare.Sweep.Sampling = smSettled;
    bare.TakenAt = QDateTime(QDate(2026, 3, 2), QTime(23, 59, 59, 999), Qt::UTC);
    bare.Evaluate();
    QVERIFY(bare.Figures.Available() && !bare.Figures.HasPercent());
    QCOMPARE(bare.Verdict, tvNone);
    {
        TTestRecordStore store(Folder());
        QVERIFY(store.WriteRecord(full));
        QVERIFY(store.WriteRecord(bare));
    }
    TTestRecordStore store(Folder());
    const std::optional<TTestRecord> loaded = store.LoadRecord(full.Id);
    QVERIFY(loaded);
    QCOMPARE(loaded->HeadSerial, full.HeadSerial);
    QCOMPARE(loaded->TakenAt, full.TakenAt);
    QCOMPARE(loaded->TakenAt.timeSpec(), Qt::UTC);
    QCOMPARE(loaded->Sweep, full.Sweep);
    QCOMPARE(loaded->Points, full.Points);
    QCOMPARE(loaded->Figures, full.Figures);
    QCOMPARE(loaded->Limits, full.Limits);
    QCOMPARE(loaded->Failures, full.Failures);
    QVERIFY(*loaded == full); // and every other field
    QVERIFY(store.LoadRecord(bare.Id) == bare);
    QVERIFY(!store.LoadRecord(TTestRecord::NewId()));

    const QVector<TTestRecordSummary> list = store.ListRecords();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0].Id, bare.Id); // the newer one first
    const TTestRecordSummary expected{full.Id,       full.HeadSerial, full.TakenAt, full.PumpType,
                                      full.HeadType, full.Figures,    full.Verdict};
    QCOMPARE(list[1], expected);
}

void TestTestRecordStore::writtenAgainIsKeptOnce() {
    TTestRecord record = FullTestRecord();
    TTestRecordStore store(Folder());
    QVERIFY(store.WriteRecord(record));
    // A retry of the same record, even changed meanwhile, leaves the stored one as it was.
    record.HeadSerial = QStringLiteral("changed");
    QVERIFY(!store.WriteRecord(record));
    QCOMPARE(store.WriteRecords({record, FullTestRecord(QStringLiteral("new"))}), 1);
    QCOMPARE(store.ListRecords().size(), 2);
    QCOMPARE(store.LoadRecord(record.Id)->HeadSerial, FullTestRecord().HeadSerial);
    QCOMPARE(store.LoadRecord(record.Id)->Points.size(), record.Points.size());
}

void TestTestRecordStore::list_data() {
    QTest::addColumn<TTestRecordFilter>("filter");
    QTest::addColumn<QStringList>("serials");
    // Stored: see list(); newest first is SN-105_x, ГОЛОВКА-7, AB-3, xab-2, 50%-1.
    QTest::newRow("all, newest first")
        << TTestRecordFilter{} << QStringList{"SN-105_x", "ГОЛОВКА-7", "AB-3", "xab-2", "50%-1"};
    QTest::newRow("serial contains, any case") << BySerial("Ab") << QStringList{"AB-3", "xab-2"};
    QTest::newRow("serial contains, Cyrillic case") << BySerial("головка") << QStringList{"ГОЛОВКА-7"};
    QTest::newRow("serial contains a LIKE wildcard") << BySerial("%") << QStringList{"50%-1"};
    QTest::newRow("serial contains an underscore") << BySerial("5_") << QStringList{"SN-105_x"};
    QTest::newRow("serial exact") << BySerial("AB-3", true) << QStringList{"AB-3"};
    QTest::newRow("serial exact, other case") << BySerial("ab-3", true) << QStringList{};
    TTestRecordFilter failed;
    failed.Verdict = tvFail;
    QTest::newRow("failed") << failed << QStringList{"ГОЛОВКА-7", "xab-2"};
    TTestRecordFilter unjudged;
    unjudged.Verdict = tvNone;
    QTest::newRow("no verdict") << unjudged << QStringList{"SN-105_x"};
    // From is inclusive, To exclusive: a day is [day 00:00, next day 00:00).
    TTestRecordFilter day2;
    day2.From = At(2, 0);
    day2.To = At(3, 0);
    QTest::newRow("one day") << day2 << QStringList{"AB-3", "xab-2"};
    TTestRecordFilter fromNoon;
    fromNoon.From = At(2, 12);
    QTest::newRow("from a record's minute") << fromNoon << QStringList{"SN-105_x", "ГОЛОВКА-7", "AB-3"};
    TTestRecordFilter toNoon;
    toNoon.To = At(2, 12);
    QTest::newRow("to a record's minute") << toNoon << QStringList{"xab-2", "50%-1"};
    // A local bound means the same instant.
    TTestRecordFilter local;
    local.From = At(2, 12).toOffsetFromUtc(3 * 3600);
    local.To = At(3, 0).toOffsetFromUtc(-5 * 3600);
    QTest::newRow("bounds with an offset") << local << QStringList{"AB-3"};
    TTestRecordFilter combined = BySerial("a");
    combined.Verdict = tvPass;
    combined.From = At(2, 0);
    QTest::newRow("serial, verdict and date") << combined << QStringList{"AB-3"};
    TTestRecordFilter newest;
    newest.MaxRows = 2;
    QTest::newRow("newest two") << newest << QStringList{"SN-105_x", "ГОЛОВКА-7"};
}

void TestTestRecordStore::list() {
    QFETCH(TTestRecordFilter, filter);
    QFETCH(QStringList, serials);
    TTestRecordStore store(Folder());
    store.WriteRecords({Record("xab-2", At(2, 9), tvFail), Record("50%-1", At(1, 17), tvPass),
                        Record("AB-3", At(2, 12), tvPass), Record("SN-105_x", At(4, 8), tvNone),
                        Record("ГОЛОВКА-7", At(3, 0), tvFail)});
    QCOMPARE(Serials(store.ListRecords(filter)), serials);
}

void TestTestRecordStore::failedWriteLosesNothing() {
    const TTestRecord earlier = FullTestRecord(QStringLiteral("EARLIER"));
    const TTestRecord failing = FullTestRecord(QStringLiteral("FAILING"));
    {
        TTestRecordStore store(Folder());
        QVERIFY(store.WriteRecord(earlier));
    }
    // The disk fills up at the fourth point of the second record of a write: the first record
    // and the second's record row are in by then.
    RunSql(File(), {"CREATE TRIGGER disk_full BEFORE INSERT ON test_point WHEN NEW.seq = 3 AND "
                    "(SELECT head_serial FROM test_record WHERE id = NEW.record_id) = 'FAILING' "
                    "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"});
    TTestRecordStore store(Folder());
    try {
        store.WriteRecords({FullTestRecord(QStringLiteral("ALONGSIDE")), failing});
        QFAIL("the write was reported as done");
    } catch (const ETestRecordStore &e) {
        const QString message = QString::fromStdString(e.what());
        QVERIFY2(message.contains("FAILING") && message.contains("database or disk is full") &&
                     message.contains(File()),
                 qPrintable(message));
    }
    // Neither record of the failed write is stored in part, the earlier one is whole.
    QCOMPARE(Serials(store.ListRecords()), QStringList{"EARLIER"});
    QCOMPARE(SqlValue(File(), "SELECT COUNT(*) FROM test_point").toInt(), earlier.Points.size());
    QVERIFY(store.LoadRecord(earlier.Id) == earlier);
    // Once there is room again, the same record is written whole.
    RunSql(File(), {"DROP TRIGGER disk_full"});
    QVERIFY(store.WriteRecord(failing));
    QVERIFY(store.LoadRecord(failing.Id) == failing);
}

void TestTestRecordStore::readOnlyStoreRefusesWrites() {
    const TTestRecord earlier = FullTestRecord();
    {
        TTestRecordStore store(Folder());
        store.WriteRecord(earlier);
    }
    TTestRecordStore store(Folder(), TTestRecordStore::saReadOnly);
    try {
        store.WriteRecord(FullTestRecord(QStringLiteral("LATER")));
        QFAIL("the write was reported as done");
    } catch (const ETestRecordStore &e) {
        const QString message = QString::fromStdString(e.what());
        QVERIFY2(message.startsWith("Cannot store") && message.contains("readonly"), qPrintable(message));
    }
    QVERIFY(store.LoadRecord(earlier.Id) == earlier);
    QCOMPARE(store.ListRecords().size(), 1);
}

void TestTestRecordStore::folderThatCannotBeCreated() {
    // A regular file where a folder should be: no user, root included, can create a folder in it.
    QFile file(FDir->filePath("plain-file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString folder = FDir->filePath("plain-file/records");
    QVERIFY_THROWS_EXCEPTION(ETestRecordStore, TTestRecordStore store(folder));
    try {
        TTestRecordStore store(folder);
    } catch (const ETestRecordStore &e) {
        QCOMPARE(QString::fromStdString(e.what()),
                 "Cannot create the folder for test records: " + QDir::toNativeSeparators(folder));
    }
    // Nothing to read there either.
    QVERIFY_THROWS_EXCEPTION(ETestRecordStore, TTestRecordStore(Folder(), TTestRecordStore::saReadOnly));
}

void TestTestRecordStore::recordWithoutIdIsRefused() {
    TTestRecordStore store(Folder());
    TTestRecord record = FullTestRecord();
    record.Id.clear();
    QVERIFY_THROWS_EXCEPTION(ETestRecordStore, store.WriteRecords({FullTestRecord(), record}));
    record = FullTestRecord();
    record.TakenAt = QDateTime();
    QVERIFY_THROWS_EXCEPTION(ETestRecordStore, store.WriteRecord(record));
    QVERIFY(store.ListRecords().isEmpty());
}

void TestTestRecordStore::version1FileMigrates() {
    QVERIFY(QDir().mkpath(Folder()));
    const QString id = TTestRecord::NewId();
    QStringList statements = SchemaVersion1;
    statements << QStringLiteral(
                      "INSERT INTO test_record VALUES ('%1', 'Kopf-ÄB 9', '2025-11-30T10:00:00.000Z', "
                      "'COM3', 'Tavik TAMREL 1.5', 'PE', 'Resistive', 20, 80, 5, 500, 2, 0.25, 0.2, "
                      "12.5, 10, 20, 2, 0.3, NULL, NULL, 1, '')")
                      .arg(id)
               << QStringLiteral("INSERT INTO test_point VALUES ('%1', 0, 0, 20, 1.0)").arg(id)
               << QStringLiteral("INSERT INTO test_point VALUES ('%1', 1, 1, 20, 1.25)").arg(id);
    RunSql(File(), statements);

    TTestRecordStore store(Folder());
    QCOMPARE(SqlValue(File(), "SELECT version FROM schema_version").toInt(), TTestRecordSql::SchemaVersion);
    const std::optional<TTestRecord> old = store.LoadRecord(id);
    QVERIFY(old);
    QCOMPARE(old->HeadSerial, "Kopf-ÄB 9");
    QCOMPARE(old->TakenAt, QDateTime(QDate(2025, 11, 30), QTime(10, 0), Qt::UTC));
    QCOMPARE(old->Sweep, (TSweepSettings{20, 80, 5, 500, smSettled}));
    QCOMPARE(old->Figures.MaxVolts, 0.25);
    QCOMPARE(old->Limits, (TTestLimits{0.3, std::nullopt, std::nullopt}));
    QCOMPARE(old->Verdict, tvPass);
    QCOMPARE(old->Points, (QVector<TTestRecordPoint>{{20, 1.0, sbRising}, {20, 1.25, sbFalling}}));
    QCOMPARE(SqlValue(File(), "SELECT COUNT(*) FROM sqlite_master WHERE name = 'test_record_taken_at_serial'")
                 .toInt(),
             1);
    // The search by serial finds the old record: its search key was made in the migration.
    QCOMPARE(Serials(store.ListRecords(BySerial("kopf-äb"))), QStringList{"Kopf-ÄB 9"});
    const TTestRecord added = FullTestRecord();
    QVERIFY(store.WriteRecord(added));
    QVERIFY(store.LoadRecord(added.Id) == added);
}

void TestTestRecordStore::foreignOrNewerFileIsRefused_data() {
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QString>("reason");
    QTest::newRow("other tables") << QStringList{"CREATE TABLE customers (name TEXT)"}
                                  << "not a test-record store";
    QTest::newRow("newer program") << QStringList{"CREATE TABLE schema_version (version INTEGER NOT NULL)",
                                                  "INSERT INTO schema_version VALUES (3)",
                                                  "CREATE TABLE test_record (id TEXT PRIMARY KEY)"}
                                   << "written by a newer program (schema version 3";
}

void TestTestRecordStore::foreignOrNewerFileIsRefused() {
    QFETCH(QStringList, statements);
    QFETCH(QString, reason);
    QVERIFY(QDir().mkpath(Folder()));
    RunSql(File(), statements);
    try {
        TTestRecordStore store(Folder());
        QFAIL("the file was opened");
    } catch (const ETestRecordStore &e) {
        QVERIFY2(QString::fromStdString(e.what()).contains(reason), e.what());
    }
    // And left as it was.
    QVERIFY(SqlValue(File(), "SELECT COUNT(*) FROM sqlite_master WHERE name = 'test_point'").toInt() == 0);
}

void TestTestRecordStore::twoStoresOnOneFile() {
    // The window's list and a writer each have their own connection to the same file.
    TTestRecordStore writer(Folder());
    TTestRecordStore reader(Folder());
    const TTestRecord record = FullTestRecord();
    writer.WriteRecord(record);
    QVERIFY(reader.LoadRecord(record.Id) == record);
}

void TestTestRecordStore::searchIndexAddedToAnEarlierFile() {
    // A file of this schema from a program that had no index of the serial beside the time: a
    // read-only open leaves it as it is, so does an open for writing while another program
    // holds the write lock (the store opens all the same), the next open for writing adds the
    // index, and the search finds the same records.
    {
        TTestRecordStore store(Folder());
        store.WriteRecords({Record("xab-2", At(2, 9), tvFail), Record("AB-3", At(2, 12), tvPass)});
    }
    RunSql(File(), {QStringLiteral("DROP INDEX test_record_taken_at_serial")});
    const QString count =
        QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 'test_record_taken_at_serial'");
    {
        TTestRecordStore reader(Folder(), TTestRecordStore::saReadOnly);
        QCOMPARE(Serials(reader.ListRecords(BySerial("ab"))), (QStringList{"AB-3", "xab-2"}));
    }
    QCOMPARE(SqlValue(File(), count).toInt(), 0);
    {
        // Another program writing holds the file's write lock: the open for writing waits its
        // while for it, then goes on without the index.
        const QString name = QStringLiteral("writer");
        {
            QSqlDatabase writer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            writer.setDatabaseName(File());
            QVERIFY(writer.open());
            QSqlQuery lock(writer);
            QVERIFY2(lock.exec(QStringLiteral("BEGIN IMMEDIATE")), qPrintable(lock.lastError().text()));
            {
                TTestRecordStore busy(Folder());
                QCOMPARE(Serials(busy.ListRecords(BySerial("ab"))), (QStringList{"AB-3", "xab-2"}));
            }
            QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
            writer.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    QCOMPARE(SqlValue(File(), count).toInt(), 0);
    TTestRecordStore store(Folder());
    QCOMPARE(SqlValue(File(), count).toInt(), 1);
    QCOMPARE(Serials(store.ListRecords(BySerial("ab"))), (QStringList{"AB-3", "xab-2"}));
}

TAMREL_TEST_MAIN_CORE(TestTestRecordStore)
#include "tst_TestRecordStore.moc"

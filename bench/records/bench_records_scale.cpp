// The test records at the size of a workshop's years: the history window's first screen of
// rows (opened, and after a filter change) on 100,000 records in the local SQLite file and on
// a PostgreSQL 15 server the benchmark starts itself, and on 1,000,000 on the server; and the
// flush of 60 waiting records to a server 10 ms away (a delaying proxy on 127.0.0.1).
//
// The records are made by the database itself (a recursive query in SQLite, generate_series
// on the server): rows of the records' table only, since neither a list nor a filter reads a
// point. The flush writes whole records of 41 points each.
#include "uBenchDelayProxy.h"
#include "uBenchHistoryShown.h"
#include "uBenchRecordStore.h"
#include "uFormTestHistory.h"
#include "uPostgresTestServer.h"
#include "uTestHistoryModel.h"
#include "uTestRecordWorker.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <benchmark/benchmark.h>
#include <map>
#include <memory>

namespace {

enum TStoreKind : int { skLocal100k = 0, skServer100k = 1, skServer1M = 2 };

const char *KindName(int kind) {
    return kind == skLocal100k ? "SQLite 100k" : kind == skServer100k ? "PostgreSQL 100k" : "PostgreSQL 1M";
}

// The columns of a generated record, i its number: serial HD-<2026..2028>-<i, 7 digits>, one a
// minute from 2026-01-01 07:00 UTC, hysteresis width 0.1 to 0.4 V (FAIL above 0.3 V).
const QString Columns = QStringLiteral(
    "id, head_serial, head_serial_key, taken_at_utc, tester_id, firmware, pump_type, head_type, start_duty, "
    "end_duty, step_duty, period_ms, sampling_mode, compared_points, max_hyst_volts, mean_hyst_volts, "
    "max_hyst_percent, mean_hyst_percent, max_at_duty, span_volts, limit_max_hyst_volts, "
    "limit_max_hyst_percent, limit_min_span_volts, verdict, failures");

QString Values(const QString &id, const QString &serial, const QString &takenAt) {
    const QString width = QStringLiteral("(0.1 + 0.3 * (i % 7) / 7.0)");
    return QStringLiteral("%1, %2, lower(%2), %3, '/dev/ttyACM0', 'Tavik TAMREL 1.6', "
                          "CASE WHEN i % 3 = 0 THEN 'PE' ELSE 'VE' END, "
                          "CASE WHEN i % 2 = 1 THEN 'Resistive' ELSE 'Inductive' END, 10, 90, 4, 200, 0, 21, "
                          "%4, %4 * 0.6, %4 / 3.2 * 100, %4 * 0.6 / 3.2 * 100, 50, 3.2, 0.3, NULL, 2.0, "
                          "CASE WHEN %4 > 0.3 THEN 2 ELSE 1 END, "
                          "CASE WHEN %4 > 0.3 THEN 'Max hysteresis' ELSE '' END")
        .arg(id, serial, takenAt, width);
}

bool Run(QSqlDatabase &db, const QString &statement, QString *error) {
    QSqlQuery query(db);
    if (query.exec(statement)) return true;
    *error = statement.left(80) + QStringLiteral("…: ") + query.lastError().text();
    return false;
}

// The local file of 100,000 records.
struct TLocalStore {
    QTemporaryDir Dir;
    QString Error;

    TLocalStore() {
        { TTestRecordStore store(Dir.path()); } // the tables
        const QString name = QStringLiteral("generate-local");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(QDir(Dir.path()).filePath(QLatin1String(TTestRecordStore::FileName)));
            if (db.open()) {
                const QString sql =
                    QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                                   "100000) INSERT INTO test_record (") +
                    Columns + QStringLiteral(") SELECT ") +
                    Values(QStringLiteral("printf('%08x-0000-4000-8000-%012x', i, i)"),
                           QStringLiteral("printf('HD-%d-%07d', 2026 + i % 3, i)"),
                           QStringLiteral("strftime('%Y-%m-%dT%H:%M:%S.000Z', '2026-01-01 07:00:00', "
                                          "'+' || i || ' minutes')")) +
                    QStringLiteral(" FROM n");
                Run(db, sql, &Error) && Run(db, QStringLiteral("ANALYZE"), &Error);
            } else {
                Error = db.lastError().text();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
};

// The server, started once; a database per size, filled when first asked for.
struct TServer {
    TPostgresServer Postgres;
    std::map<int, QString> Filled; // kind -> database
    QString Error;

    QString Database(int kind) {
        if (Filled.count(kind)) return Filled[kind];
        const QString name = kind == skServer100k ? QStringLiteral("r100k") : QStringLiteral("r1m");
        const int count = kind == skServer100k ? 100000 : 1000000;
        if (!Postgres.Error.isEmpty()) {
            Error = Postgres.Error;
            return {};
        }
        if (!Postgres.CreateDatabase(name)) {
            Error = Postgres.Error;
            return {};
        }
        try {
            TTestRecordServerStore store(Postgres.Settings(name)); // the tables, as the program makes them
        } catch (const ETestRecordStore &e) {
            Error = QString::fromUtf8(e.what());
            return {};
        }
        QElapsedTimer took;
        took.start();
        const QString connection = QStringLiteral("generate-") + name;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
            db.setHostName(Postgres.Dir.path());
            db.setPort(Postgres.Port);
            db.setDatabaseName(name);
            db.setUserName(QStringLiteral("tamrel"));
            if (db.open()) {
                const QString sql =
                    QStringLiteral("INSERT INTO test_record (") + Columns + QStringLiteral(") SELECT ") +
                    Values(
                        QStringLiteral("lpad(to_hex(i), 8, '0') || '-0000-4000-8000-' || lpad(to_hex(i), 12, "
                                       "'0')"),
                        QStringLiteral("'HD-' || (2026 + i % 3) || '-' || lpad(i::text, 7, '0')"),
                        QStringLiteral("to_char(timestamp '2026-01-01 07:00:00' + i * interval '1 minute', "
                                       "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')")) +
                    QStringLiteral(" FROM generate_series(1, %1) AS i").arg(count);
                Run(db, sql, &Error) && Run(db, QStringLiteral("VACUUM ANALYZE test_record"), &Error);
            } else {
                Error = db.lastError().text();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        if (!Error.isEmpty()) return {};
        qInfo("%d records generated on the server in %.1f s", count, double(took.elapsed()) / 1000);
        Filled[kind] = name;
        return name;
    }
};

TServer &Server() {
    static TServer server;
    return server;
}

TLocalStore &Local() {
    static TLocalStore store;
    return store;
}

// The worker the history window asks, for a kind of store: made and connected once.
struct TWorkerFor {
    QTemporaryDir QueueDir; // the server's local queue, empty
    std::unique_ptr<TTestRecordWorker> Worker;
    QString Error;

    explicit TWorkerFor(int kind) {
        if (kind == skLocal100k) {
            if (!Local().Error.isEmpty()) Error = Local().Error;
            Worker = std::make_unique<TTestRecordWorker>(Local().Dir.path(), TRecordServerSettings());
            return;
        }
        const QString database = Server().Database(kind);
        if (database.isEmpty()) {
            Error = Server().Error;
            return;
        }
        Worker = std::make_unique<TTestRecordWorker>(QueueDir.path(), Server().Postgres.Settings(database));
        // Connected: the first flush (of nothing) has ended.
        bool flushed = false;
        const QMetaObject::Connection connection =
            QObject::connect(Worker.get(), &TTestRecordWorker::Flushed, [&] { flushed = true; });
        WaitUntil([&] { return flushed; });
        QObject::disconnect(connection);
        if (!Worker->State().ServerError.isEmpty()) Error = Worker->State().ServerError;
    }
};

// The history window opened: the list asked for, answered and its first screen painted.
void BM_HistoryOpenLarge(benchmark::State &state) {
    const int kind = int(state.range(0));
    TWorkerFor source(kind);
    if (!source.Error.isEmpty()) {
        state.SkipWithError(qPrintable(source.Error));
        return;
    }
    int rows = 0;
    for (auto _ : state) {
        TFormTestHistory form;
        form.WorkerSource = [&] { return source.Worker.get(); };
        TShownCounter shown(form);
        form.show();
        if (!shown.WaitShown()) {
            state.SkipWithError("the list was never shown");
            break;
        }
        rows = form.ModelRecords->rowCount();
        state.PauseTiming();
        form.close();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    if (rows != TFormTestHistory::RowsPerPage) state.SkipWithError("the first page was not listed");
    state.counters["rows"] = rows;
    state.SetLabel(KindName(kind));
}
BENCHMARK(BM_HistoryOpenLarge)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// One filter change, to the first screen painted: 0: serial part "12345" typed (a few
// records, anywhere in the years); 1: "hd-2027", another letter case (a third of all);
// 2: FAIL chosen with the dates set to one month; 3: the serial cleared again (all).
void BM_HistoryFilterLarge(benchmark::State &state) {
    const int kind = int(state.range(0));
    const int what = int(state.range(1));
    TWorkerFor source(kind);
    if (!source.Error.isEmpty()) {
        state.SkipWithError(qPrintable(source.Error));
        return;
    }
    TFormTestHistory form;
    form.WorkerSource = [&] { return source.Worker.get(); };
    TShownCounter shown(form);
    form.show();
    shown.WaitShown();
    if (what == 2) {
        form.DateEditFrom->setDate(QDate(2026, 3, 1));
        form.DateEditTo->setDate(QDate(2026, 3, 31));
        form.CheckBoxFrom->setChecked(true);
        form.CheckBoxTo->setChecked(true);
    }
    const auto setFilter = [&](bool on) {
        if (what == 0) form.EditSerial->setText(on ? QStringLiteral("12345") : QString());
        if (what == 1) form.EditSerial->setText(on ? QStringLiteral("hd-2027") : QString());
        if (what == 2) form.ComboVerdict->setCurrentIndex(on ? 2 : 0);
        if (what == 3) form.EditSerial->setText(on ? QString() : QStringLiteral("12345"));
        // Typing waits for a pause before it asks; measured is what follows the pause.
        shown.Expect();
        form.Refresh();
    };
    int rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        setFilter(false);
        shown.WaitShown();
        state.ResumeTiming();
        setFilter(true);
        if (!shown.WaitShown()) {
            state.SkipWithError("the list was never shown");
            break;
        }
        rows = form.ModelRecords->rowCount();
    }
    state.counters["rows"] = rows;
    state.SetLabel(KindName(kind));
}
BENCHMARK(BM_HistoryFilterLarge)
    ->ArgsProduct({{skLocal100k, skServer100k, skServer1M}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// 60 records waiting in the local queue, sent to a server whose every round trip takes 10 ms
// more (5 ms each way through the proxy). 0: the program starts with them waiting (the
// connection made first); 1: the worker is connected already when they are flushed.
void BM_FlushWaitingBehindLatency(benchmark::State &state) {
    constexpr int Waiting = 60;
    const bool connected = state.range(0) == 1;
    TServer &server = Server();
    const QString database = server.Database(skServer100k);
    if (database.isEmpty()) {
        state.SkipWithError(qPrintable(server.Error));
        return;
    }
    TDelayProxy proxy(QStringLiteral("%1/.s.PGSQL.%2")
                          .arg(server.Postgres.Dir.path())
                          .arg(server.Postgres.Port)
                          .toStdString(),
                      std::chrono::milliseconds(5));
    if (proxy.Port == 0) {
        state.SkipWithError("no proxy");
        return;
    }
    const TRecordServerSettings settings{
        QStringLiteral("host=127.0.0.1 port=%1 dbname=%2 user=tamrel connect_timeout=5")
            .arg(proxy.Port)
            .arg(database)};
    int index = 0;
    const auto queue = [&](const QString &folder) {
        QVector<TTestRecord> records;
        for (int i = 0; i < Waiting; ++i)
            records << SweepRecord(index++);
        TTestRecordStore(folder).WriteRecords(records);
    };
    QTemporaryDir dir;
    std::unique_ptr<TTestRecordWorker> worker;
    int sent = 0;
    bool flushed = false;
    const auto startWorker = [&](const QString &folder) {
        worker = std::make_unique<TTestRecordWorker>(folder, settings);
        QObject::connect(worker.get(), &TTestRecordWorker::Sent,
                         [&](const QStringList &ids) { sent += ids.size(); });
        QObject::connect(worker.get(), &TTestRecordWorker::Flushed, [&] { flushed = true; });
    };
    const auto waitFlushed = [&] { WaitUntil([&] { return flushed; }); };
    if (connected) {
        startWorker(dir.path());
        waitFlushed();
    }
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString folder = dir.filePath(QStringLiteral("run%1").arg(++run));
        queue(connected ? dir.path() : folder);
        sent = 0;
        flushed = false;
        state.ResumeTiming();
        if (connected)
            worker->Flush();
        else
            startWorker(folder);
        while (sent < Waiting) {
            flushed = false;
            waitFlushed();
            if (!flushed || !worker->State().ServerError.isEmpty()) break;
        }
        state.PauseTiming();
        if (sent != Waiting || worker->State().Waiting != 0) {
            state.SkipWithError(qPrintable(
                QStringLiteral("%1 of %2 sent: %3").arg(sent).arg(Waiting).arg(worker->State().ServerError)));
            break;
        }
        if (!connected) worker.reset();
        state.ResumeTiming();
    }
    state.SetLabel(connected ? "connected; goal < 2 s" : "connect included; goal < 2 s");
}
BENCHMARK(BM_FlushWaitingBehindLatency)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

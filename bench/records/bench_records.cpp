// Test records: opening a store of 10,000 records and listing or filtering it (the records
// window's start), writing one record at the end of a sweep, loading one for its report.
#include "uTestRecordStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>

namespace {

constexpr int RecordCount = 10000;

// A sweep from 10 % to 90 % in steps of 4 %: 21 points up, 20 down.
TTestRecord SweepRecord(int index) {
    TTestRecord record;
    record.Id = TTestRecord::NewId();
    record.HeadSerial = QStringLiteral("HD-%1-%2").arg(2026 + index % 3).arg(index, 6, 10, QLatin1Char('0'));
    record.TakenAt = QDateTime(QDate(2026, 1, 1), QTime(7, 0), Qt::UTC).addSecs(qint64(index) * 2437);
    record.TesterId = QStringLiteral("/dev/ttyACM0");
    record.Firmware = QStringLiteral("Tavik TAMREL 1.6");
    record.PumpType = index % 3 == 0 ? QStringLiteral("PE") : QStringLiteral("VE");
    record.HeadType = index % 2 ? QStringLiteral("Resistive") : QStringLiteral("Inductive");
    record.Sweep = {10, 90, 4, 200, smSettled};
    const double width = 0.1 + 0.3 * double(index % 7) / 7;
    for (int duty = 10; duty <= 90; duty += 4)
        record.Points.append({double(duty), 0.5 + 0.04 * duty, sbRising});
    for (int duty = 90; duty >= 10; duty -= 4)
        record.Points.append(
            {double(duty), 0.5 + 0.04 * duty + width * std::sin((duty - 10) / 80.0 * M_PI), sbFalling});
    record.Limits = {0.3, std::nullopt, 2.0};
    record.Evaluate();
    return record;
}

// The generated store, made once per run; Copy() gives a folder with a copy of it to write to.
struct TGeneratedStore {
    QTemporaryDir Dir;
    QString Folder;
    QString SomeId;
    int Copies = 0;

    TGeneratedStore() : Folder(Dir.filePath(QStringLiteral("records"))) {
        QVector<TTestRecord> records;
        records.reserve(RecordCount);
        for (int i = 0; i < RecordCount; ++i)
            records.append(SweepRecord(i));
        SomeId = records[RecordCount / 2].Id;
        TTestRecordStore store(Folder);
        store.WriteRecords(records);
    }

    QString Copy() {
        const QString folder = Dir.filePath(QStringLiteral("copy%1").arg(++Copies));
        QDir().mkpath(folder);
        QFile::copy(QDir(Folder).filePath(QLatin1String(TTestRecordStore::FileName)),
                    QDir(folder).filePath(QLatin1String(TTestRecordStore::FileName)));
        return folder;
    }
};

TGeneratedStore &Generated() {
    static TGeneratedStore store;
    return store;
}

void BM_RecordsOpenAndList10k(benchmark::State &state) {
    const QString folder = Generated().Folder;
    qsizetype rows = 0;
    for (auto _ : state) {
        TTestRecordStore store(folder);
        rows = store.ListRecords().size();
    }
    if (rows != RecordCount) state.SkipWithError("not every record was listed");
    state.SetLabel("goal < 100 ms");
}
BENCHMARK(BM_RecordsOpenAndList10k)->Unit(benchmark::kMillisecond)->UseRealTime();

// 0: serial contains "-0012" (100 records); 1: failed in March (about 300 of the month's
// 1100); 2: serial contains "hd-2027", in another letter case (a third of all).
void BM_RecordsOpenAndFilter10k(benchmark::State &state) {
    const QString folder = Generated().Folder;
    TTestRecordFilter filter;
    if (state.range(0) == 0) filter.Serial = QStringLiteral("-0012");
    if (state.range(0) == 1) {
        filter.Verdict = tvFail;
        filter.From = QDateTime(QDate(2026, 3, 1), QTime(0, 0));
        filter.To = QDateTime(QDate(2026, 4, 1), QTime(0, 0));
    }
    if (state.range(0) == 2) filter.Serial = QStringLiteral("hd-2027");
    qsizetype rows = 0;
    for (auto _ : state) {
        TTestRecordStore store(folder);
        rows = store.ListRecords(filter).size();
    }
    state.counters["rows"] = double(rows);
    state.SetLabel("goal < 100 ms");
}
BENCHMARK(BM_RecordsOpenAndFilter10k)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RecordsWriteOne(benchmark::State &state) {
    TTestRecordStore store(Generated().Copy());
    int index = RecordCount;
    for (auto _ : state) {
        state.PauseTiming();
        const TTestRecord record = SweepRecord(index++);
        state.ResumeTiming();
        if (!store.WriteRecord(record)) state.SkipWithError("the record was not new");
    }
    state.SetLabel("41 points, into 10,000 records; goal < 20 ms");
}
BENCHMARK(BM_RecordsWriteOne)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RecordsLoadOne(benchmark::State &state) {
    TTestRecordStore store(Generated().Folder);
    const QString id = Generated().SomeId;
    for (auto _ : state)
        if (!store.LoadRecord(id)) state.SkipWithError("the record was not found");
}
BENCHMARK(BM_RecordsLoadOne)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

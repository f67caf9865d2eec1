// Test records: opening a store of 10,000 records and listing or filtering it (the records
// window's start), writing one record at the end of a sweep, loading one for its report.
#include "uBenchRecordStore.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

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

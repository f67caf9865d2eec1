// The test history window on a store of 10,000 records: opened (the store opened, the whole
// list read and painted) and a filter changed (the store asked again, the list painted).
#include "uBenchHistoryShown.h"
#include "uBenchRecordStore.h"
#include "uFormTestHistory.h"
#include "uTestHistoryModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTableView>
#include <algorithm>
#include <benchmark/benchmark.h>

namespace {

void BM_HistoryOpen10k(benchmark::State &state) {
    const QString folder = Generated().Folder;
    int rows = 0;
    for (auto _ : state) {
        TFormTestHistory form;
        TShownCounter shown(form);
        form.StoreFolder = folder;
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
    // The newest page of rows is listed; "Show more" adds the next.
    if (rows != std::min(RecordCount, TFormTestHistory::RowsPerPage))
        state.SkipWithError("the first page was not listed");
    state.SetLabel("open + first page painted; goal < 100 ms");
}
BENCHMARK(BM_HistoryOpen10k)->Unit(benchmark::kMillisecond)->UseRealTime();

// One user action each: 0: serial "-0012" typed (100 records); 1: FAIL chosen while the dates
// are set to March (about 300 of 1,100); 2: serial "hd-2027" typed, in another letter case (a
// third of all); 3: the serial field cleared, back to all 10,000 from 100.
void BM_HistoryFilterChange10k(benchmark::State &state) {
    TFormTestHistory form;
    TShownCounter shown(form);
    form.StoreFolder = Generated().Folder;
    form.show();
    shown.WaitShown();
    if (state.range(0) == 1) {
        // March set beforehand; the change measured is the verdict chosen.
        form.DateEditFrom->setDate(QDate(2026, 3, 1));
        form.DateEditTo->setDate(QDate(2026, 3, 31));
        form.CheckBoxFrom->setChecked(true);
        form.CheckBoxTo->setChecked(true);
    }
    const auto setFilter = [&](bool on) {
        const int what = int(state.range(0));
        if (what == 0) form.EditSerial->setText(on ? QStringLiteral("-0012") : QString());
        if (what == 1) form.ComboVerdict->setCurrentIndex(on ? 2 : 0);
        if (what == 2) form.EditSerial->setText(on ? QStringLiteral("hd-2027") : QString());
        if (what == 3) form.EditSerial->setText(on ? QString() : QStringLiteral("-0012"));
        // Typing waits for a pause before it asks; measured here is what follows the pause.
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
    state.SetLabel("filter changed to list painted; goal < 100 ms");
}
BENCHMARK(BM_HistoryFilterChange10k)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

// A record clicked: loaded whole, its loop drawn, its figures shown.
void BM_HistorySelectRecord10k(benchmark::State &state) {
    TFormTestHistory form;
    form.StoreFolder = Generated().Folder;
    form.show();
    WaitUntil([&] { return !form.Busy() && form.ModelRecords->rowCount() > 0; });
    int row = 0;
    for (auto _ : state) {
        // A record not loaded before each time: the cost of a first look.
        form.TableRecords->selectRow(row);
        row = (row + 97) % form.ModelRecords->rowCount();
        WaitUntil([&] { return !form.Busy(); });
        if (form.ShownRecords().size() != 1) {
            state.SkipWithError("the record is not shown");
            break;
        }
        QCoreApplication::processEvents();
    }
    state.SetLabel("load, chart and figures");
}
BENCHMARK(BM_HistorySelectRecord10k)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Generated();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

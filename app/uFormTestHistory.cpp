// The test history window: its components, the list and its filter, the selected records.
#include "uFormTestHistory.h"

#include "uKvApplication.h"
#include "uTestHistoryChart.h"
#include "uTestHistoryModel.h"
#include "uTestRecordStore.h"
#include "uTestRecordWorker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>

namespace {

// Handlers of the window's controls: an error they raise goes to the program's error display
// instead of crossing the event loop.
template <class F> auto Guarded(F body) {
    return [body] { TKvApplication::RunGuarded(body); };
}

QLabel *NewLabel(QWidget *parent, const QString &name, const QString &text) {
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QPushButton *NewButton(QWidget *parent, const QString &name, const QString &text) {
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

QDateEdit *NewDateEdit(QWidget *parent, const QString &name, const QDate &date) {
    auto *edit = new QDateEdit(date, parent);
    edit->setObjectName(name);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setEnabled(false);
    return edit;
}

QString Volts(double value) {
    return QString::number(value, 'f', 3) + QStringLiteral(" V");
}

QString Percent(double value, int decimals) {
    return QString::number(value, 'f', decimals) + QStringLiteral(" %");
}

QString SweepText(const TSweepSettings &sweep) {
    return QStringLiteral("%1–%2 % in steps of %3 %, %4 ms, %5")
        .arg(sweep.StartDuty)
        .arg(sweep.EndDuty)
        .arg(sweep.StepDuty)
        .arg(sweep.PeriodMs)
        .arg(sweep.Sampling == smSettled ? QStringLiteral("read when settled")
                                         : QStringLiteral("read right after each step"));
}

QString LimitText(const std::optional<double> &limit, const QString &relation, bool percent) {
    if (!limit) return QStringLiteral("none");
    return relation + QLatin1Char(' ') + (percent ? Percent(*limit, 1) : Volts(*limit));
}

const char *const FigureCaptions[TFormTestHistory::frRowCount] = {
    "Serial number",    "Tested at",          "Pump / head",      "Tester",          "Sweep",
    "Max hysteresis",   "Max hyst. % span",   "Max at duty",      "Mean hysteresis", "Span",
    "Limit: max hyst.", "Limit: max hyst. %", "Limit: min. span", "Verdict",         "Limits not met"};

} // namespace

TFormTestHistory::TFormTestHistory(QWidget *parent) : QWidget(parent) {
    setWindowFlag(Qt::Window);
    setObjectName(QStringLiteral("FormTestHistory"));
    setWindowTitle(QStringLiteral("Test history"));

    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(6, 6, 6, 6);
    main->addWidget(BuildFilterBar());
    LabelServer = NewLabel(this, QStringLiteral("LabelServer"), QString());
    LabelServer->setWordWrap(true);
    LabelServer->setStyleSheet(QStringLiteral("background: #fff3cd; color: #663c00; padding: 4px;"));
    LabelServer->hide();
    main->addWidget(LabelServer);
    auto *queueRow = new QHBoxLayout;
    LabelQueue = NewLabel(this, QStringLiteral("LabelQueue"), QString());
    LabelQueue->setWordWrap(true);
    LabelQueue->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ButtonRetryRefused = NewButton(this, QStringLiteral("ButtonRetryRefused"), QStringLiteral("Send again"));
    ButtonRetryRefused->setToolTip(
        QStringLiteral("Send the refused records to the server again; select one in the list to export it"));
    queueRow->addWidget(LabelQueue, 1);
    queueRow->addWidget(ButtonRetryRefused);
    LabelQueue->hide();
    ButtonRetryRefused->hide();
    main->addLayout(queueRow);
    connect(ButtonRetryRefused, &QPushButton::clicked, this, [this] { Worker().RetryRefused(); });
    FTypingPause = new QTimer(this);
    FTypingPause->setSingleShot(true);
    FTypingPause->setInterval(TypingPauseMs);
    connect(FTypingPause, &QTimer::timeout, this, [this] { Refresh(); });

    SplitterMain = new QSplitter(Qt::Horizontal, this);
    SplitterMain->setObjectName(QStringLiteral("SplitterMain"));
    TableRecords = new QTableView(SplitterMain);
    TableRecords->setObjectName(QStringLiteral("TableRecords"));
    ModelRecords = new TTestHistoryModel(TableRecords);
    ModelRecords->setObjectName(QStringLiteral("ModelRecords"));
    TableRecords->setModel(ModelRecords);
    TableRecords->setSelectionBehavior(QAbstractItemView::SelectRows);
    TableRecords->setSelectionMode(QAbstractItemView::ExtendedSelection);
    TableRecords->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TableRecords->setAlternatingRowColors(true);
    TableRecords->setWordWrap(false);
    TableRecords->verticalHeader()->hide();
    // Fixed row heights and column widths: a list of ten thousand records is never measured.
    TableRecords->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    TableRecords->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    TableRecords->horizontalHeader()->setStretchLastSection(true);
    const int columnWidths[] = {140, 105, 110, 88, 88, 62, 55, 70};
    for (int column = 0; column < TTestHistoryModel::hcColumnCount; ++column)
        TableRecords->setColumnWidth(column, columnWidths[column]);
    connect(TableRecords->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!FRefreshing) TKvApplication::RunGuarded([this] { SelectionChanged(); });
    });
    SplitterMain->addWidget(TableRecords);
    SplitterMain->addWidget(BuildDetails());
    SplitterMain->setStretchFactor(0, 3);
    SplitterMain->setStretchFactor(1, 2);
    main->addWidget(SplitterMain, 1);
    main->addWidget(BuildButtonBar());

    resize(1280, 680);
    SelectionChanged();
}

TFormTestHistory::~TFormTestHistory() = default;

QWidget *TFormTestHistory::BuildFilterBar() {
    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("PanelFilter"));
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    LabelSerial = NewLabel(bar, QStringLiteral("LabelSerial"), QStringLiteral("Serial number:"));
    EditSerial = new QLineEdit(bar);
    EditSerial->setObjectName(QStringLiteral("EditSerial"));
    EditSerial->setPlaceholderText(QStringLiteral("part of it, any letter case"));
    EditSerial->setClearButtonEnabled(true);
    LabelSerial->setBuddy(EditSerial);
    LabelVerdict = NewLabel(bar, QStringLiteral("LabelVerdict"), QStringLiteral("Verdict:"));
    ComboVerdict = new QComboBox(bar);
    ComboVerdict->setObjectName(QStringLiteral("ComboVerdict"));
    ComboVerdict->addItem(QStringLiteral("All"), -1);
    ComboVerdict->addItem(QStringLiteral("PASS"), int(tvPass));
    ComboVerdict->addItem(QStringLiteral("FAIL"), int(tvFail));
    ComboVerdict->addItem(QStringLiteral("None"), int(tvNone));
    LabelVerdict->setBuddy(ComboVerdict);
    const QDate today = QDate::currentDate();
    CheckBoxFrom = new QCheckBox(QStringLiteral("From:"), bar);
    CheckBoxFrom->setObjectName(QStringLiteral("CheckBoxFrom"));
    DateEditFrom = NewDateEdit(bar, QStringLiteral("DateEditFrom"), today.addMonths(-1));
    DateEditFrom->setAccessibleName(QStringLiteral("From"));
    CheckBoxTo = new QCheckBox(QStringLiteral("To:"), bar);
    CheckBoxTo->setObjectName(QStringLiteral("CheckBoxTo"));
    DateEditTo = NewDateEdit(bar, QStringLiteral("DateEditTo"), today);
    DateEditTo->setAccessibleName(QStringLiteral("To"));
    ButtonRefresh = NewButton(bar, QStringLiteral("ButtonRefresh"), QStringLiteral("Refresh"));

    row->addWidget(LabelSerial);
    row->addWidget(EditSerial, 1);
    row->addSpacing(8);
    row->addWidget(LabelVerdict);
    row->addWidget(ComboVerdict);
    row->addSpacing(8);
    row->addWidget(CheckBoxFrom);
    row->addWidget(DateEditFrom);
    row->addWidget(CheckBoxTo);
    row->addWidget(DateEditTo);
    row->addSpacing(8);
    row->addWidget(ButtonRefresh);

    // Every change of the filter asks again; typing, after a short pause, so that a serial
    // typed key by key is asked for once. A new filter starts again from the first page.
    const auto refresh = [this] {
        FRowLimit = RowsPerPage;
        Refresh();
    };
    connect(EditSerial, &QLineEdit::textChanged, this, [this] {
        FRowLimit = RowsPerPage;
        FTypingPause->start();
    });
    connect(ComboVerdict, &QComboBox::currentIndexChanged, this, refresh);
    connect(CheckBoxFrom, &QCheckBox::toggled, DateEditFrom, &QWidget::setEnabled);
    connect(CheckBoxTo, &QCheckBox::toggled, DateEditTo, &QWidget::setEnabled);
    connect(CheckBoxFrom, &QCheckBox::toggled, this, refresh);
    connect(CheckBoxTo, &QCheckBox::toggled, this, refresh);
    connect(DateEditFrom, &QDateEdit::dateChanged, this, [this] {
        if (CheckBoxFrom->isChecked()) Refresh();
    });
    connect(DateEditTo, &QDateEdit::dateChanged, this, [this] {
        if (CheckBoxTo->isChecked()) Refresh();
    });
    connect(ButtonRefresh, &QPushButton::clicked, this, refresh);
    return bar;
}

QWidget *TFormTestHistory::BuildDetails() {
    auto *details = new QSplitter(Qt::Vertical, SplitterMain);
    details->setObjectName(QStringLiteral("SplitterDetails"));
    auto *top = new QWidget(details);
    top->setObjectName(QStringLiteral("PanelChart"));
    auto *column = new QVBoxLayout(top);
    column->setContentsMargins(0, 0, 0, 0);
    LabelSelection = NewLabel(top, QStringLiteral("LabelSelection"), QString());
    LabelSelection->setWordWrap(true);
    column->addWidget(LabelSelection);
    ChartLoop = new QCustomPlot(top);
    ChartLoop->setObjectName(QStringLiteral("ChartLoop"));
    ChartLoop->setMinimumHeight(220);
    TestHistoryChart::SetupLoopChart(ChartLoop);
    column->addWidget(ChartLoop, 1);
    details->addWidget(top);

    TableFigures = new QTableWidget(frRowCount, 1, details);
    TableFigures->setObjectName(QStringLiteral("TableFigures"));
    TableFigures->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TableFigures->setSelectionMode(QAbstractItemView::NoSelection);
    TableFigures->setWordWrap(false);
    QStringList captions;
    for (const char *caption : FigureCaptions)
        captions << QString::fromUtf8(caption);
    TableFigures->setVerticalHeaderLabels(captions);
    TableFigures->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    TableFigures->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    TableFigures->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    details->addWidget(TableFigures);
    details->setStretchFactor(0, 3);
    details->setStretchFactor(1, 2);
    return details;
}

QWidget *TFormTestHistory::BuildButtonBar() {
    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("PanelButtons"));
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    LabelStatus = NewLabel(bar, QStringLiteral("LabelStatus"), QString());
    LabelStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ButtonExportRecordCsv =
        NewButton(bar, QStringLiteral("ButtonExportRecordCsv"), QStringLiteral("Record as CSV…"));
    ButtonExportListCsv =
        NewButton(bar, QStringLiteral("ButtonExportListCsv"), QStringLiteral("List as CSV…"));
    ButtonExportPdf = NewButton(bar, QStringLiteral("ButtonExportPdf"), QStringLiteral("PDF report…"));
    ButtonShowMore = NewButton(bar, QStringLiteral("ButtonShowMore"), QStringLiteral("Show more"));
    ButtonShowMore->hide();
    connect(ButtonShowMore, &QPushButton::clicked, this, [this] {
        FRowLimit += RowsPerPage;
        Refresh();
    });
    row->addWidget(LabelStatus, 1);
    row->addWidget(ButtonShowMore);
    row->addWidget(ButtonExportRecordCsv);
    row->addWidget(ButtonExportListCsv);
    row->addWidget(ButtonExportPdf);
    connect(ButtonExportRecordCsv, &QPushButton::clicked, this,
            Guarded([this] { ButtonExportRecordCsvClick(); }));
    connect(ButtonExportListCsv, &QPushButton::clicked, this,
            Guarded([this] { ButtonExportListCsvClick(); }));
    connect(ButtonExportPdf, &QPushButton::clicked, this, Guarded([this] { ButtonExportPdfClick(); }));
    return bar;
}

void TFormTestHistory::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    Refresh();
}

TTestRecordFilter TFormTestHistory::Filter() const {
    TTestRecordFilter filter;
    filter.Serial = EditSerial->text().trimmed();
    const int verdict = ComboVerdict->currentData().toInt();
    if (verdict >= 0) filter.Verdict = TTestVerdict(verdict);
    // Whole local days: from the first day's start to the start of the day after the last. A
    // day's start is its first moment, which is not midnight where the clocks skip midnight
    // (a change to summer time at 00:00): there, midnight is no time at all.
    if (CheckBoxFrom->isChecked()) filter.From = DateEditFrom->date().startOfDay();
    if (CheckBoxTo->isChecked()) filter.To = DateEditTo->date().addDays(1).startOfDay();
    return filter;
}

TTestRecordWorker &TFormTestHistory::Worker() {
    TTestRecordWorker *worker = WorkerSource ? WorkerSource() : nullptr;
    if (!worker) {
        // Only a path is worked out here: the worker opens the file on its own thread.
        if (!FOwnWorker)
            FOwnWorker = std::make_unique<TTestRecordWorker>(
                StoreFolder.isEmpty() ? TTestRecordStore::DefaultFolder() : StoreFolder,
                TRecordServerSettings());
        worker = FOwnWorker.get();
    }
    if (worker != FConnectedWorker) {
        FConnectedWorker = worker;
        connect(worker, &TTestRecordWorker::StateChanged, this, &TFormTestHistory::ShowQueueState);
        // A record that reached the server is listed as stored without waiting for the next
        // sweep.
        connect(worker, &TTestRecordWorker::Sent, this, [this] {
            if (isVisible()) Refresh();
        });
        ShowQueueState(worker->State());
    }
    return *worker;
}

bool TFormTestHistory::Busy() const {
    return FListing || FTypingPause->isActive() || FLoadsPending > 0;
}

void TFormTestHistory::Refresh() {
    FTypingPause->stop();
    const quint64 request = ++FListRequest;
    FListing = true;
    TTestRecordFilter filter = Filter();
    filter.MaxRows = FRowLimit + 1; // one more than shown tells whether more match
    Worker().List(filter, [guard = QPointer<TFormTestHistory>(this), request](const TRecordList &list) {
        if (!guard || request != guard->FListRequest) return;
        guard->FListing = false;
        TKvApplication::RunGuarded([&] { guard->ApplyList(list); });
    });
}

void TFormTestHistory::ApplyList(const TRecordList &list) {
    QStringList selectedIds;
    for (const TTestRecord &record : FShown)
        selectedIds << record.Id;
    // More than two selected: nothing is shown, yet the selection's text must follow the list.
    const bool hadSelection = TableRecords->selectionModel()->hasSelection();
    QVector<TTestRecordSummary> records = list.Records;
    const bool more = records.size() > FRowLimit;
    if (more) records.resize(FRowLimit);
    const QString error = list.Error;

    FRefreshing = true;
    ModelRecords->SetRecords(std::move(records), list.Waiting, list.Refused);
    QItemSelectionModel *selection = TableRecords->selectionModel();
    for (const QString &id : selectedIds) {
        const int row = ModelRecords->RowOf(id);
        if (row >= 0)
            selection->select(ModelRecords->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    FRefreshing = false;
    // The chart and the figures are drawn again only when the records shown change.
    QStringList stillSelected;
    for (const QModelIndex &row : selection->selectedRows())
        stillSelected << ModelRecords->Record(row.row()).Id;
    std::sort(selectedIds.begin(), selectedIds.end());
    std::sort(stillSelected.begin(), stillSelected.end());
    if (stillSelected != selectedIds || (FShown.isEmpty() && hadSelection))
        TKvApplication::RunGuarded([this] { SelectionChanged(); });
    else
        UpdateButtons();

    LabelServer->setVisible(!list.ServerError.isEmpty());
    LabelServer->setText(
        QStringLiteral("The test-record server cannot be asked: only this bench's records in "
                       "the local file are listed, those that wait for the server marked."));
    LabelServer->setToolTip(list.ServerError);
    ButtonShowMore->setVisible(more && error.isEmpty());
    if (!error.isEmpty()) {
        LabelStatus->setStyleSheet(QStringLiteral("color: #cc0000"));
        LabelStatus->setText(QStringLiteral("The test records cannot be read."));
        LabelStatus->setToolTip(error);
        // Once per failure: typing into the filter must not raise a message for every key.
        if (error != FLastError) {
            FLastError = error;
            TKvApplication::ShowError(QStringLiteral("The test history cannot be shown. %1").arg(error));
        }
        return;
    }
    FLastError.clear();
    LabelStatus->setStyleSheet(QString());
    LabelStatus->setToolTip(QString());
    const int count = ModelRecords->rowCount();
    LabelStatus->setText(more         ? QStringLiteral("The newest %1 records").arg(count)
                         : count == 1 ? QStringLiteral("1 record")
                                      : QStringLiteral("%1 records").arg(count));
}

void TFormTestHistory::ShowQueueState(const TRecordQueueState &state) {
    QStringList lines;
    if (state.Waiting > 0)
        lines << (state.Waiting == 1 ? QStringLiteral("1 record waits for the server")
                                     : QStringLiteral("%1 records wait for the server").arg(state.Waiting));
    if (!state.Refused.isEmpty())
        lines << (state.Refused.size() == 1
                      ? QStringLiteral("1 record refused by the server: %1").arg(state.Refused[0].Reason)
                      : QStringLiteral("%1 records refused by the server, the first: %2")
                            .arg(state.Refused.size())
                            .arg(state.Refused[0].Reason));
    LabelQueue->setText(lines.join(u'\n'));
    LabelQueue->setToolTip(state.ServerError);
    LabelQueue->setVisible(!lines.isEmpty());
    ButtonRetryRefused->setVisible(!state.Refused.isEmpty());
}

void TFormTestHistory::SelectionChanged() {
    FShown.clear();
    const QModelIndexList rows = TableRecords->selectionModel()->selectedRows();
    ++FLoadRequest; // a load asked for an earlier selection is not shown
    FLoadsPending = 0;
    if (rows.isEmpty()) {
        LabelSelection->setText(
            QStringLiteral("Select a record to see its loop; Ctrl+click a second one to compare them."));
    } else if (rows.size() > 2) {
        LabelSelection->setText(
            QStringLiteral("%1 records selected: select one to see it, or two to compare them.")
                .arg(rows.size()));
    } else {
        QStringList ids, missing;
        for (const QModelIndex &row : rows) {
            ids << ModelRecords->Record(row.row()).Id;
            if (!FLoaded.contains(ids.last())) missing << ids.last();
        }
        if (!missing.isEmpty()) {
            // Loaded by the worker; shown when every one has come.
            if (FLoaded.size() + missing.size() > 64) FLoaded.clear();
            const quint64 request = FLoadRequest;
            FLoadsPending = int(missing.size());
            FLoadError.clear();
            LabelSelection->setText(QStringLiteral("Loading…"));
            for (const QString &id : missing)
                Worker().Load(id, [guard = QPointer<TFormTestHistory>(this), request,
                                   id](const std::optional<TTestRecord> &record, const QString &error) {
                    if (!guard || request != guard->FLoadRequest) return;
                    if (record)
                        guard->FLoaded.insert(id, *record);
                    else if (guard->FLoadError.isEmpty())
                        guard->FLoadError =
                            error.isEmpty() ? QStringLiteral("The test record %1 is no longer stored").arg(id)
                                            : error;
                    if (--guard->FLoadsPending > 0) return;
                    if (guard->FLoadError.isEmpty()) {
                        TKvApplication::RunGuarded([&] { guard->SelectionChanged(); });
                        return;
                    }
                    const QString failure = guard->FLoadError;
                    TKvApplication::RunGuarded([&] { throw ETestRecordStore(failure.toStdString()); });
                });
            TestHistoryChart::ShowLoops(ChartLoop, FShown);
            ShowFigures();
            UpdateButtons();
            return;
        }
        for (const QString &id : ids)
            FShown << FLoaded.value(id);
        // Before and after: the older record first.
        std::sort(FShown.begin(), FShown.end(), [](const TTestRecord &a, const TTestRecord &b) {
            return a.TakenAt < b.TakenAt || (a.TakenAt == b.TakenAt && a.Id < b.Id);
        });
        LabelSelection->setText(
            FShown.size() == 1
                ? QStringLiteral("Ctrl+click a second record to compare it with this one.")
                : QStringLiteral("Comparing two records: the older in red, the newer in blue."));
    }
    TestHistoryChart::ShowLoops(ChartLoop, FShown);
    ShowFigures();
    UpdateButtons();
}

void TFormTestHistory::ShowFigures() {
    TableFigures->setColumnCount(std::max<int>(1, int(FShown.size())));
    TableFigures->clearContents();
    QStringList headers;
    for (int column = 0; column < FShown.size(); ++column) {
        const TTestRecord &record = FShown[column];
        const THysteresisFigures &figures = record.Figures;
        headers << TestHistoryText::LocalTime(record.TakenAt);
        QString texts[frRowCount];
        texts[frSerial] = record.HeadSerial.simplified();
        texts[frTakenAt] = TestHistoryText::LocalTime(record.TakenAt);
        texts[frPumpHead] = TestHistoryText::PumpHead(record.PumpType, record.HeadType);
        texts[frTester] = QStringList({record.TesterId, record.Firmware}).join(QStringLiteral(", "));
        texts[frSweep] = SweepText(record.Sweep);
        const QString none = QStringLiteral("not available");
        texts[frMaxVolts] = figures.Available() ? Volts(figures.MaxVolts) : none;
        texts[frMaxPercent] = figures.HasPercent() ? Percent(figures.MaxPercent, 1) : none;
        texts[frMaxAtDuty] = figures.Available() ? Percent(figures.MaxAtDuty, 0) : none;
        texts[frMeanVolts] =
            figures.Available()
                ? Volts(figures.MeanVolts) +
                      (figures.HasPercent() ? QStringLiteral(" (%1)").arg(Percent(figures.MeanPercent, 1))
                                            : QString())
                : none;
        texts[frSpan] = Volts(figures.SpanVolts);
        texts[frLimitVolts] = LimitText(record.Limits.MaxHysteresisVolts, QStringLiteral("≤"), false);
        texts[frLimitPercent] = LimitText(record.Limits.MaxHysteresisPercent, QStringLiteral("≤"), true);
        texts[frLimitSpan] = LimitText(record.Limits.MinSpanVolts, QStringLiteral("≥"), false);
        texts[frVerdict] = record.Verdict == tvNone ? QStringLiteral("no verdict (no limits set)")
                                                    : TestVerdictText(record.Verdict);
        texts[frFailures] = record.Failures.join(QStringLiteral("; "));
        for (int row = 0; row < frRowCount; ++row) {
            auto *item = new QTableWidgetItem(texts[row]);
            item->setToolTip(texts[row]);
            if (row == frVerdict) {
                item->setForeground(TestHistoryText::VerdictColor(record.Verdict));
                QFont font = item->font();
                font.setBold(record.Verdict != tvNone);
                item->setFont(font);
            }
            if (row == frSerial) item->setToolTip(record.HeadSerial);
            TableFigures->setItem(row, column, item);
        }
    }
    if (headers.isEmpty()) headers << QString();
    TableFigures->setHorizontalHeaderLabels(headers);
}

void TFormTestHistory::UpdateButtons() {
    ButtonExportRecordCsv->setEnabled(ExportedRecord() != nullptr);
    ButtonExportPdf->setEnabled(ExportedRecord() != nullptr);
    ButtonExportListCsv->setEnabled(ModelRecords->rowCount() > 0);
}

const TTestRecord *TFormTestHistory::ExportedRecord() const {
    return FShown.size() == 1 ? &FShown.first() : nullptr;
}

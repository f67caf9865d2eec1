#pragma once
// The history of test records: a list of the stored records, newest first, filtered by serial
// number, verdict and date through the store's own query; the loop, figures, limits and verdict
// of the selected record, or the loops of two records on one chart to compare them (the same
// head before and after a repair); exports of a record as CSV or a one-page PDF report and of
// the list as CSV. It works on stored records only and never touches the tester's link.
// Every list and load goes through the records worker and is shown when it arrives: the window
// never waits for a database. With a server, the list holds the server's records and this
// bench's waiting ones (marked), or the local file alone under a banner while the server cannot
// be asked; a line says what waits for the server or was refused, with a way to retry.
#include "uTestRecord.h"

#include <QHash>
#include <QWidget>

#include <functional>
#include <memory>

class ITestRecordStore;
class QTimer;
class TTestRecordWorker;
struct TRecordList;
struct TRecordQueueState;
class QCheckBox;
class QComboBox;
class QCustomPlot;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTableView;
class QTableWidget;
class TTestHistoryModel;
struct TTestRecordFilter;

class TFormTestHistory : public QWidget {
    Q_OBJECT
public:
    // A window of its own; with a parent it closes and goes with that window.
    explicit TFormTestHistory(QWidget *parent = nullptr);
    ~TFormTestHistory() override;

    // ---- Where the records come from ----
    // The records worker to ask; empty, or one that returns nothing: the window makes its own
    // on the local file in StoreFolder when it first needs it.
    std::function<TTestRecordWorker *()> WorkerSource;
    // The local store's folder; empty: the program's data folder.
    QString StoreFolder;

    // ---- Dialogs (tests put their own in place) ----
    // The save dialog: caption, proposed file name, file-type filter; returns the path chosen,
    // empty when cancelled. Empty: the file dialog.
    std::function<QString(const QString &caption, const QString &proposedName, const QString &filter)>
        AskSaveFileName;

    // The filter the fields describe: serial substring in any letter case, verdict, and whole
    // local days from and to (both included).
    TTestRecordFilter Filter() const;

    // The pause in typing after which a serial filter is asked for.
    static constexpr int TypingPauseMs = 300;
    // Rows listed at first and added by "Show more".
    static constexpr int RowsPerPage = 500;

    // A list or a load is under way, or a typed filter waits for its pause.
    bool Busy() const;
    // How many lists the window has asked for since it was made.
    quint64 ListsAsked() const { return FListRequest; }

public slots:
    // Asks for the records again with the current filter (a record was stored, the filter
    // changed); the answer replaces the list, keeping the selection of the records still
    // listed. A store that cannot be read is reported and leaves the list empty; the window
    // stays usable and tries again next time.
    void Refresh();

public:
    // ---- Actions (the buttons run these) ----
    void ButtonExportRecordCsvClick();
    void ButtonExportListCsvClick();
    void ButtonExportPdfClick();

    // The records shown (loaded whole): one, or two being compared, older first; none.
    const QVector<TTestRecord> &ShownRecords() const { return FShown; }

    // ---- Components ----
    QLabel *LabelSerial;
    QLineEdit *EditSerial;
    QLabel *LabelVerdict;
    QComboBox *ComboVerdict;
    QCheckBox *CheckBoxFrom;
    QDateEdit *DateEditFrom;
    QCheckBox *CheckBoxTo;
    QDateEdit *DateEditTo;
    QPushButton *ButtonRefresh;
    QLabel *LabelServer; // the banner while the server cannot be asked
    QLabel *LabelQueue;  // what waits for the server or was refused by it
    QPushButton *ButtonRetryRefused;
    QPushButton *ButtonShowMore;
    QSplitter *SplitterMain;
    QTableView *TableRecords;
    TTestHistoryModel *ModelRecords;
    QLabel *LabelSelection;
    QCustomPlot *ChartLoop;
    QTableWidget *TableFigures;
    QLabel *LabelStatus;
    QPushButton *ButtonExportRecordCsv;
    QPushButton *ButtonExportListCsv;
    QPushButton *ButtonExportPdf;

    // Rows of TableFigures, top to bottom.
    enum TFigureRow : quint8 {
        frSerial,
        frTakenAt,
        frPumpHead,
        frTester,
        frSweep,
        frMaxVolts,
        frMaxPercent,
        frMaxAtDuty,
        frMeanVolts,
        frSpan,
        frLimitVolts,
        frLimitPercent,
        frLimitSpan,
        frVerdict,
        frFailures,
        frRowCount
    };

protected:
    // Shown again: the list is read again, since records may have been stored meanwhile.
    void showEvent(QShowEvent *event) override;

private:
    QWidget *BuildFilterBar();
    QWidget *BuildDetails();
    QWidget *BuildButtonBar();
    TTestRecordWorker &Worker();
    void ApplyList(const TRecordList &list);
    void ShowQueueState(const TRecordQueueState &state);
    // The selected records, loaded whole, older first (at most two).
    void SelectionChanged();
    void ShowFigures();
    void UpdateButtons();
    QString AskFileName(const QString &caption, const QString &proposedName, const QString &filter);
    // The record a record's export is about: the one shown alone.
    const TTestRecord *ExportedRecord() const;

    std::unique_ptr<TTestRecordWorker> FOwnWorker;
    TTestRecordWorker *FConnectedWorker = nullptr; // the worker whose state the window follows
    QTimer *FTypingPause = nullptr;
    quint64 FListRequest = 0; // the latest list asked for; older answers are dropped
    bool FListing = false;
    int FRowLimit = RowsPerPage;
    quint64 FLoadRequest = 0;
    int FLoadsPending = 0;
    QString FLoadError;
    QHash<QString, TTestRecord> FLoaded; // records loaded whole, by id (a record never changes)
    QVector<TTestRecord> FShown;
    bool FRefreshing = false;
    QString FLastError;  // the store's failure last reported; reported again only when it changes
    QString FLastFolder; // where the last export went
};

// The test history window on a store the test fills: the list newest first, its filters
// through the store's query, a selected record's loop and figures, two records compared, the
// exports read back, an unreadable store, and the window opened from the main window.
#include "TestMain.h"
#include "uCsvTestSupport.h"
#include "uFormTamrel.h"
#include "uFormTestHistory.h"
#include "uHistoryTestRecords.h"
#include "uKvApplication.h"
#include "uLoopLatency.h"
#include "uPdfTestSupport.h"
#include "uPostgresTestServer.h"
#include "uRecordTestSupport.h"
#include "uTamrelCharts.h"
#include "uTestHistoryChart.h"
#include "uTestHistoryModel.h"
#include "uTestRecordPdf.h"
#include "uTestRecordStore.h"
#include "uTestRecordWorker.h"

#include <QSignalSpy>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <ctime>
#include <memory>

namespace {

// Waits until the window has every answer it asked the records worker for.
void Settle(const TFormTestHistory *form) {
    QTRY_VERIFY_WITH_TIMEOUT(!form->Busy(), 20000);
}

QDateTime Utc(int month, int day, int hour, int minute = 0) {
    return QDateTime(QDate(2026, month, day), QTime(hour, minute), Qt::UTC);
}

QByteArray FileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

double Number(const QString &text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    return ok ? value : std::nan("");
}

// A value as an export writes it: volts to the millivolt (3), percent to a tenth (1).
double AtPrecision(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

} // namespace

class TestFormTestHistory : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FFolder;
    // r0 … r4 by their key.
    QHash<QString, TTestRecord> FRecords;
    std::unique_ptr<TTestRecordWorker> FWorker;
    std::unique_ptr<TFormTestHistory> FForm;
    QStringList FErrors;
    // What the save dialog is asked and answers.
    QStringList FAsked;
    QString FAnswer;

    QString KeyOfRow(int row) const {
        const QString id = FForm->ModelRecords->Record(row).Id;
        for (auto it = FRecords.cbegin(); it != FRecords.cend(); ++it)
            if (it->Id == id) return it.key();
        return QStringLiteral("?");
    }
    QStringList ListedKeys() const {
        QStringList keys;
        for (int row = 0; row < FForm->ModelRecords->rowCount(); ++row)
            keys << KeyOfRow(row);
        return keys;
    }
    QString Cell(int row, int column) const {
        return FForm->ModelRecords->index(row, column).data().toString();
    }
    void ClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTableView *view = FForm->TableRecords;
        const QRect rect = view->visualRect(FForm->ModelRecords->index(row, TTestHistoryModel::hcSerial));
        QVERIFY(!rect.isEmpty());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, rect.center());
        Settle(FForm.get());
    }
    static QString Cell(const TFormTestHistory &form, int row, int column) {
        return form.ModelRecords->index(row, column).data().toString();
    }
    QString Figure(int row, int column = 0) const {
        const QTableWidgetItem *item = FForm->TableFigures->item(row, column);
        return item ? item->text() : QStringLiteral("<none>");
    }

private slots:
    void initTestCase() {
        // Central European time: UTC+1 in March, UTC+2 from the end of March.
        qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        tzset();
        TKvApplication::SetErrorDisplay([this](const QString &message) { FErrors << message; });
        QVERIFY(FDir.isValid());
        FFolder = FDir.filePath(QStringLiteral("records"));
        FRecords[QStringLiteral("r0")] = HistoryTestRecord(QStringLiteral("AX-100"), Utc(3, 1, 12), 0.096);
        FRecords[QStringLiteral("r1")] = HistoryTestRecord(QStringLiteral("ax-200"), Utc(3, 5, 12), 0.48);
        // Late on the 9th in UTC, early on the 10th in local time.
        FRecords[QStringLiteral("r2")] =
            HistoryTestRecord(QStringLiteral("BX-100"), Utc(3, 9, 23, 30), 0.24, false);
        FRecords[QStringLiteral("r3")] = HistoryTestRecord(QStringLiteral("AX-100"), Utc(4, 2, 12), 0.05);
        FRecords[QStringLiteral("r4")] = HistoryTestRecord(QStringLiteral("Гп-7"), Utc(4, 20, 12), 0.4);
        TTestRecordStore store(FFolder);
        // Stored in no particular order: the list orders them.
        for (const char *key : {"r2", "r0", "r4", "r1", "r3"})
            QVERIFY(store.WriteRecord(FRecords[QLatin1String(key)]));
        QCOMPARE(FRecords[QStringLiteral("r0")].Verdict, tvPass);
        QCOMPARE(FRecords[QStringLiteral("r1")].Verdict, tvFail);
        QCOMPARE(FRecords[QStringLiteral("r2")].Verdict, tvNone);
    }
    void cleanupTestCase() { TKvApplication::SetErrorDisplay({}); }

    void init() {
        FErrors.clear();
        FAsked.clear();
        FAnswer.clear();
        FWorker = std::make_unique<TTestRecordWorker>(FFolder, TRecordServerSettings());
        FForm = std::make_unique<TFormTestHistory>();
        FForm->WorkerSource = [this] { return FWorker.get(); };
        FForm->AskSaveFileName = [this](const QString &, const QString &proposedName, const QString &) {
            FAsked << proposedName;
            return FAnswer;
        };
        FForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        Settle(FForm.get());
    }
    void cleanup() {
        FForm.reset();
        FWorker.reset();
        QVERIFY2(FErrors.isEmpty(), qPrintable(FErrors.join(u'\n')));
    }

    void listsNewestFirst() {
        using M = TTestHistoryModel;
        QCOMPARE(ListedKeys(), QStringList({"r4", "r3", "r2", "r1", "r0"}));
        const QStringList times = {"2026-04-20 14:00:00", "2026-04-02 14:00:00", "2026-03-10 00:30:00",
                                   "2026-03-05 13:00:00", "2026-03-01 13:00:00"};
        const QStringList serials = {"Гп-7", "AX-100", "BX-100", "ax-200", "AX-100"};
        const QStringList maxVolts = {"0.400", "0.050", "0.240", "0.480", "0.096"};
        const QStringList maxPercent = {"12.5", "1.6", "7.5", "15.0", "3.0"};
        const QStringList verdicts = {"FAIL", "PASS", "—", "FAIL", "PASS"};
        for (int row = 0; row < 5; ++row) {
            QCOMPARE(Cell(row, M::hcTakenAt), times[row]);
            QCOMPARE(Cell(row, M::hcSerial), serials[row]);
            QCOMPARE(Cell(row, M::hcPumpHead), QStringLiteral("VE / Inductive"));
            QCOMPARE(Cell(row, M::hcMaxVolts), maxVolts[row]);
            QCOMPARE(Cell(row, M::hcMaxPercent), maxPercent[row]);
            QCOMPARE(Cell(row, M::hcSpan), QStringLiteral("3.200"));
            QCOMPARE(Cell(row, M::hcVerdict), verdicts[row]);
        }
        // The verdict in its colour.
        const auto colour = [this](int row) {
            return FForm->ModelRecords->index(row, TTestHistoryModel::hcVerdict)
                .data(Qt::ForegroundRole)
                .value<QColor>();
        };
        QCOMPARE(colour(0), TestReportColors::Fail);
        QCOMPARE(colour(1), TestReportColors::Pass);
        QCOMPARE(colour(2), TestReportColors::NoVerdict);
        QCOMPARE(FForm->LabelStatus->text(), QStringLiteral("5 records"));
        // The headers name the columns.
        QCOMPARE(FForm->ModelRecords->headerData(M::hcSerial, Qt::Horizontal).toString(),
                 QStringLiteral("Serial number"));
    }

    void filters_data() {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("verdictItem"); // All, PASS, FAIL, None
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QStringList>("listed");
        const QDate none;
        QTest::newRow("serial part in another letter case")
            << "ax-1" << 0 << none << none << QStringList{"r3", "r0"};
        QTest::newRow("upper case finds lower") << "AX-2" << 0 << none << none << QStringList{"r1"};
        QTest::newRow("Cyrillic in another letter case") << "гП-" << 0 << none << none << QStringList{"r4"};
        QTest::newRow("spaces around the serial") << "  bx " << 0 << none << none << QStringList{"r2"};
        QTest::newRow("PASS") << "" << 1 << none << none << QStringList{"r3", "r0"};
        QTest::newRow("FAIL") << "" << 2 << none << none << QStringList{"r4", "r1"};
        QTest::newRow("no verdict") << "" << 3 << none << none << QStringList{"r2"};
        QTest::newRow("from a local day")
            << "" << 0 << QDate(2026, 3, 10) << none << QStringList{"r4", "r3", "r2"};
        QTest::newRow("to a day, that day included")
            << "" << 0 << none << QDate(2026, 3, 5) << QStringList{"r1", "r0"};
        QTest::newRow("to the local day before")
            << "" << 0 << none << QDate(2026, 3, 9) << QStringList{"r1", "r0"};
        QTest::newRow("from and to") << "" << 0 << QDate(2026, 3, 5) << QDate(2026, 3, 10)
                                     << QStringList{"r2", "r1"};
        QTest::newRow("all together") << "ax" << 1 << QDate(2026, 4, 1) << none << QStringList{"r3"};
        QTest::newRow("nothing matches") << "zz" << 0 << none << none << QStringList();
    }
    void filters() {
        QFETCH(QString, serial);
        QFETCH(int, verdictItem);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QStringList, listed);
        if (from.isValid()) {
            FForm->DateEditFrom->setDate(from);
            FForm->CheckBoxFrom->click();
        }
        if (to.isValid()) {
            FForm->DateEditTo->setDate(to);
            FForm->CheckBoxTo->click();
        }
        FForm->ComboVerdict->setCurrentIndex(verdictItem);
        Settle(FForm.get());
        FForm->EditSerial->setFocus();
        // Typed key by key (QtTest types Latin-1 only; other letters are inserted), without a
        // pause: the serial is asked for once, after the pause that follows the typing.
        const quint64 listsBefore = FForm->ListsAsked();
        for (const QChar c : serial)
            if (c.unicode() < 0x80)
                QTest::keyClick(FForm->EditSerial, c.toLatin1());
            else
                FForm->EditSerial->insert(QString(c));
        Settle(FForm.get());
        QCOMPARE(FForm->ListsAsked() - listsBefore, quint64(serial.isEmpty() ? 0 : 1));
        QCOMPARE(ListedKeys(), listed);
        QVERIFY(FForm->LabelStatus->text().startsWith(QStringLiteral("%1 record").arg(listed.size())));
        // Back to everything.
        FForm->EditSerial->clear();
        FForm->ComboVerdict->setCurrentIndex(0);
        if (from.isValid()) FForm->CheckBoxFrom->click();
        if (to.isValid()) FForm->CheckBoxTo->click();
        Settle(FForm.get());
        QCOMPARE(ListedKeys().size(), 5);
    }

    // Where summer time starts at midnight (here the first Sunday of September, 00:00 becoming
    // 01:00) a day starts at 01:00: "From" and "To" that day keep their bound at that moment.
    void dayBoundsWhereMidnightIsSkipped() {
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "<-04>4<-03>,M9.1.0/0,M4.1.0/0");
        tzset();
        const QDate skipped(2026, 9, 6);
        FForm->DateEditFrom->setDate(skipped);
        FForm->CheckBoxFrom->click();
        FForm->DateEditTo->setDate(skipped.addDays(-1));
        FForm->CheckBoxTo->click();
        const TTestRecordFilter filter = FForm->Filter();
        // In UTC while the zone is in force: a local time is read in the zone of the moment.
        const QDateTime from = filter.From.toUTC(), to = filter.To.toUTC();
        qputenv("TZ", zone);
        tzset();
        FForm->CheckBoxFrom->click();
        FForm->CheckBoxTo->click();
        Settle(FForm.get());
        const QDateTime dayStart(skipped, QTime(4, 0), Qt::UTC); // 01:00 at UTC-3
        QCOMPARE(from, dayStart);
        QCOMPARE(to, dayStart);
    }

    void selectingShowsFigures_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>(
            "figures"); // max V, max %, at duty, span, limit V, limit %, limit span, verdict
        QTest::addColumn<QColor>("verdictColour");
        QTest::addColumn<double>("width");
        QTest::newRow("passed") << 4 << QStringList{"0.096 V",   "3.0 %", "50 %",      "3.200 V",
                                                    "≤ 0.300 V", "none",  "≥ 2.000 V", "PASS"}
                                << TestReportColors::Pass << 0.096;
        QTest::newRow("failed") << 3 << QStringList{"0.480 V",   "15.0 %", "50 %",      "3.200 V",
                                                    "≤ 0.300 V", "none",   "≥ 2.000 V", "FAIL"}
                                << TestReportColors::Fail << 0.48;
        QTest::newRow("no limits") << 2
                                   << QStringList{"0.240 V", "7.5 %", "50 %", "3.200 V",
                                                  "none",    "none",  "none", "no verdict (no limits set)"}
                                   << TestReportColors::NoVerdict << 0.24;
    }
    void selectingShowsFigures() {
        QFETCH(int, row);
        QFETCH(QStringList, figures);
        QFETCH(QColor, verdictColour);
        QFETCH(double, width);
        using F = TFormTestHistory;
        ClickRow(row);
        QCOMPARE(FForm->ShownRecords().size(), 1);
        const TTestRecord &record = FRecords[KeyOfRow(row)];
        QCOMPARE(FForm->ShownRecords().first(), record);
        QCOMPARE(Figure(F::frSerial), record.HeadSerial);
        QCOMPARE(Figure(F::frMaxVolts), figures[0]);
        QCOMPARE(Figure(F::frMaxPercent), figures[1]);
        QCOMPARE(Figure(F::frMaxAtDuty), figures[2]);
        QCOMPARE(Figure(F::frSpan), figures[3]);
        QCOMPARE(Figure(F::frLimitVolts), figures[4]);
        QCOMPARE(Figure(F::frLimitPercent), figures[5]);
        QCOMPARE(Figure(F::frLimitSpan), figures[6]);
        QCOMPARE(Figure(F::frVerdict), figures[7]);
        QCOMPARE(FForm->TableFigures->item(F::frVerdict, 0)->foreground().color(), verdictColour);
        QCOMPARE(Figure(F::frFailures).isEmpty(), record.Verdict != tvFail);
        if (record.Verdict == tvFail)
            QVERIFY2(Figure(F::frFailures).contains("0.3"), qPrintable(Figure(F::frFailures)));

        // The loop: both branches in the order taken, in channel 1's colours, and the maximum
        // marked between them at 50 %.
        const QVector<TColoredLineSeries *> loops = TestHistoryChart::Loops(FForm->ChartLoop);
        QCOMPARE(loops.size(), 1);
        QCOMPARE(loops[0]->PointCount(), 42);
        QCOMPARE(loops[0]->Point(0), QPointF(10, 0.9));
        QCOMPARE(loops[0]->Point(20), QPointF(90, 4.1));
        QCOMPARE(loops[0]->PointColor(20), TestHistoryChart::LoopColors(0).Rising);
        QCOMPARE(loops[0]->PointColor(21), TestHistoryChart::LoopColors(0).Falling);
        const QVector<QCPItemLine *> marks = TestHistoryChart::MaximumMarks(FForm->ChartLoop);
        QCOMPARE(marks.size(), 1);
        QCOMPARE(marks[0]->start->coords().x(), 50.0);
        QCOMPARE(marks[0]->end->coords().x(), 50.0);
        QCOMPARE(marks[0]->start->coords().y(), 2.5);
        QCOMPARE(marks[0]->end->coords().y(), 2.5 + width);
        QCOMPARE(marks[0]->pen().color(), TestReportColors::MaxHysteresis);
        QVERIFY(!FForm->ChartLoop->legend->visible());
        QVERIFY(FForm->ButtonExportRecordCsv->isEnabled());
        QVERIFY(FForm->ButtonExportPdf->isEnabled());
    }

    void compareDrawsTwoLoops() {
        // The head after its repair (row 1), then ctrl-click the same head before (row 4).
        ClickRow(1);
        ClickRow(4, Qt::ControlModifier);
        const TTestRecord &before = FRecords[QStringLiteral("r0")];
        const TTestRecord &after = FRecords[QStringLiteral("r3")];
        QCOMPARE(FForm->ShownRecords().size(), 2);
        QCOMPARE(FForm->ShownRecords()[0].Id, before.Id);
        QCOMPARE(FForm->ShownRecords()[1].Id, after.Id);

        const QVector<TColoredLineSeries *> loops = TestHistoryChart::Loops(FForm->ChartLoop);
        QCOMPARE(loops.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(loops[i]->PointCount(), 42);
            QCOMPARE(loops[i]->PointColor(0), TestHistoryChart::LoopColors(i).Rising);
            QCOMPARE(loops[i]->PointColor(41), TestHistoryChart::LoopColors(i).Falling);
        }
        QVERIFY(TestHistoryChart::LoopColors(0).Rising != TestHistoryChart::LoopColors(1).Rising);
        QCOMPARE(loops[0]->Point(30).y(), before.Points[30].Volts);
        QCOMPARE(loops[1]->Point(30).y(), after.Points[30].Volts);
        // A legend tells them apart by serial number and time.
        QCustomPlot *chart = FForm->ChartLoop;
        QVERIFY(chart->legend->visible());
        QCOMPARE(chart->legend->itemCount(), 2);
        QCOMPARE(loops[0]->name(), QStringLiteral("AX-100 — 2026-03-01 13:00:00"));
        QCOMPARE(loops[1]->name(), QStringLiteral("AX-100 — 2026-04-02 14:00:00"));
        QVERIFY(chart->legend->hasItemWithPlottable(loops[0]));
        QVERIFY(chart->legend->hasItemWithPlottable(loops[1]));
        const QVector<QCPItemLine *> marks = TestHistoryChart::MaximumMarks(chart);
        QCOMPARE(marks.size(), 2);
        QCOMPARE(marks[0]->end->coords().y(), 2.5 + 0.096);
        QCOMPARE(marks[1]->end->coords().y(), 2.5 + 0.05);
        QCOMPARE(marks[0]->pen().color(), TestHistoryChart::LoopColors(0).Maximum);
        QCOMPARE(marks[1]->pen().color(), TestHistoryChart::LoopColors(1).Maximum);
        // The figures side by side, older first.
        QCOMPARE(FForm->TableFigures->columnCount(), 2);
        QCOMPARE(Figure(TFormTestHistory::frMaxVolts, 0), QStringLiteral("0.096 V"));
        QCOMPARE(Figure(TFormTestHistory::frMaxVolts, 1), QStringLiteral("0.050 V"));
        // A record's export is of one record.
        QVERIFY(!FForm->ButtonExportRecordCsv->isEnabled());
        QVERIFY(!FForm->ButtonExportPdf->isEnabled());

        // A third one: nothing to compare until one or two are selected.
        ClickRow(2, Qt::ControlModifier);
        QVERIFY(FForm->ShownRecords().isEmpty());
        QVERIFY(TestHistoryChart::Loops(chart).isEmpty());
        QVERIFY(FForm->LabelSelection->text().contains(QStringLiteral("3 records selected")));
        // A filter that leaves none of them: the text follows the empty selection.
        FForm->EditSerial->setText(QStringLiteral("zz"));
        Settle(FForm.get());
        QVERIFY2(FForm->LabelSelection->text().startsWith(QStringLiteral("Select a record")),
                 qPrintable(FForm->LabelSelection->text()));
        FForm->EditSerial->clear();
        Settle(FForm.get());
        ClickRow(2);
        QCOMPARE(FForm->ShownRecords().size(), 1);
    }

    void listCsvReadsBack() {
        const QString path = FDir.filePath(QStringLiteral("failed.csv"));
        FAnswer = path;
        FForm->ComboVerdict->setCurrentIndex(2);
        Settle(FForm.get());
        FForm->ButtonExportListCsv->click();
        QCOMPARE(FAsked.size(), 1);
        QVERIFY2(FAsked[0].startsWith(QStringLiteral("test-records_")) &&
                     FAsked[0].endsWith(QStringLiteral(".csv")),
                 qPrintable(FAsked[0]));
        const QVector<QStringList> rows = ParseCsv(FileBytes(path));
        QCOMPARE(rows.size(), 3);
        const QStringList header = rows[0];
        const auto field = [&](int row, const char *name) {
            return rows[row][header.indexOf(QLatin1String(name))];
        };
        const QStringList keys = {"r4", "r1"};
        for (int row = 1; row <= 2; ++row) {
            const TTestRecord &record = FRecords[keys[row - 1]];
            QCOMPARE(field(row, "record_id"), record.Id);
            QCOMPARE(field(row, "head_serial"), record.HeadSerial);
            QCOMPARE(field(row, "verdict"), QStringLiteral("FAIL"));
            QCOMPARE(Number(field(row, "max_hysteresis_v")), AtPrecision(record.Figures.MaxVolts, 3));
            QCOMPARE(Number(field(row, "max_hysteresis_percent")), AtPrecision(record.Figures.MaxPercent, 1));
            QCOMPARE(Number(field(row, "span_v")), AtPrecision(record.Figures.SpanVolts, 3));
            QCOMPARE(Number(field(row, "max_at_duty_percent")), 50.0);
        }
        QVERIFY(FForm->LabelStatus->text().contains(QStringLiteral("Saved 2 records")));
    }

    void recordCsvReadsBack() {
        ClickRow(3);
        const TTestRecord &record = FRecords[QStringLiteral("r1")];
        const QString path = FDir.filePath(QStringLiteral("record.csv"));
        FAnswer = path;
        FForm->ButtonExportRecordCsv->click();
        QCOMPARE(FAsked, QStringList{QStringLiteral("ax-200_20260305-1300.csv")});
        const QVector<QStringList> rows = ParseCsv(FileBytes(path));
        QCOMPARE(rows.size(), 1 + record.Points.size());
        const int duty = int(rows[0].indexOf(QStringLiteral("duty_percent")));
        const int volts = int(rows[0].indexOf(QStringLiteral("volts")));
        QVERIFY(duty >= 0 && volts >= 0);
        for (int i = 0; i < record.Points.size(); ++i) {
            QCOMPARE(Number(rows[1 + i][duty]), record.Points[i].Duty);
            QCOMPARE(Number(rows[1 + i][volts]), AtPrecision(record.Points[i].Volts, 3));
        }
    }

    void pdfReport() {
        ClickRow(0);
        const QString path = FDir.filePath(QStringLiteral("report.pdf"));
        FAnswer = path;
        FForm->ButtonExportPdf->click();
        QCOMPARE(FAsked, QStringList{QStringLiteral("Гп-7_20260420-1400.pdf")});
        CheckPdf(FileBytes(path), QStringLiteral("Гп-7"));
    }

    void exportCancelledWritesNothing() {
        ClickRow(0);
        FAnswer.clear();
        FForm->ButtonExportPdf->click();
        FForm->ButtonExportRecordCsv->click();
        FForm->ButtonExportListCsv->click();
        QCOMPARE(FAsked.size(), 3);
        QCOMPARE(FForm->LabelStatus->text(), QStringLiteral("5 records"));
    }

    void exportFailureIsReported_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("record CSV") << "ButtonExportRecordCsv";
        QTest::newRow("list CSV") << "ButtonExportListCsv";
        QTest::newRow("PDF") << "ButtonExportPdf";
    }
    void exportFailureIsReported() {
        QFETCH(QString, button);
        ClickRow(1);
        const QString path = FDir.filePath(QStringLiteral("no such folder/export.file"));
        FAnswer = path;
        FForm->findChild<QPushButton *>(button)->click();
        QCOMPARE(FErrors.size(), 1);
        QVERIFY2(FErrors[0].contains(QStringLiteral("Cannot write")) && FErrors[0].contains(path),
                 qPrintable(FErrors[0]));
        QVERIFY(!QFile::exists(path));
        FErrors.clear();
        // The window goes on: the same export to a folder that exists works.
        FAnswer = FDir.filePath(QStringLiteral("export.file"));
        FForm->findChild<QPushButton *>(button)->click();
        QVERIFY(QFile::exists(FAnswer));
        QVERIFY(QFile::remove(FAnswer));
        QCOMPARE(FForm->ShownRecords().size(), 1);
    }

    void refreshShowsStoredRecord() {
        // A store of its own: a record is added to it.
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("records"));
        TTestRecordStore store(folder);
        store.WriteRecords({FRecords[QStringLiteral("r0")], FRecords[QStringLiteral("r1")]});
        TFormTestHistory form;
        form.StoreFolder = folder;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        Settle(&form);
        QCOMPARE(form.ModelRecords->rowCount(), 2);
        form.TableRecords->selectRow(1);
        Settle(&form);
        QCOMPARE(form.ShownRecords().first().Id, FRecords[QStringLiteral("r0")].Id);

        const TTestRecord newer = HistoryTestRecord(QStringLiteral("NEW-1"), Utc(5, 1, 8), 0.1);
        QVERIFY(store.WriteRecord(newer));
        form.Refresh();
        Settle(&form);
        QCOMPARE(form.ModelRecords->rowCount(), 3);
        QCOMPARE(form.ModelRecords->Record(0).Id, newer.Id);
        // The record looked at stays selected and shown.
        QCOMPARE(form.ShownRecords().size(), 1);
        QCOMPARE(form.ShownRecords().first().Id, FRecords[QStringLiteral("r0")].Id);
        const QModelIndexList selected = form.TableRecords->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().row(), 2);
        QCOMPARE(form.LabelStatus->text(), QStringLiteral("3 records"));
    }

    void unreadableStoreIsReported_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not a database") << QByteArray(4096, '\x5a') << "file is not a database";
        QTest::newRow("another program's database") << QByteArray() << "not a test-record store";
    }
    void unreadableStoreIsReported() {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QLatin1String(TTestRecordStore::FileName));
        if (content.isEmpty()) {
            RunSql(path, {QStringLiteral("CREATE TABLE invoices (id INTEGER PRIMARY KEY, total REAL)")});
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        TFormTestHistory form;
        form.StoreFolder = dir.path();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        Settle(&form);
        QCOMPARE(FErrors.size(), 1);
        QVERIFY2(FErrors[0].startsWith(QStringLiteral("The test history cannot be shown.")),
                 qPrintable(FErrors[0]));
        QVERIFY2(FErrors[0].contains(path), qPrintable(FErrors[0]));
        QVERIFY2(FErrors[0].contains(reason), qPrintable(FErrors[0]));
        QCOMPARE(form.ModelRecords->rowCount(), 0);
        QCOMPARE(form.LabelStatus->text(), QStringLiteral("The test records cannot be read."));
        QVERIFY(!form.ButtonExportListCsv->isEnabled());
        // Typing into the filter asks again, fails again, and says it once.
        QTest::keyClicks(form.EditSerial, QStringLiteral("ax"));
        form.ComboVerdict->setCurrentIndex(1);
        Settle(&form);
        QCOMPARE(FErrors.size(), 1);
        QVERIFY(form.isVisible());
        // Once the file is mended the same window lists the records.
        QVERIFY(QFile::remove(path));
        TTestRecordStore(dir.path()).WriteRecord(FRecords[QStringLiteral("r0")]);
        form.ButtonRefresh->click();
        Settle(&form);
        QCOMPARE(FErrors.size(), 1);
        QCOMPARE(form.LabelStatus->text(), QStringLiteral("1 record"));
        QCOMPARE(form.ModelRecords->Record(0).Id, FRecords[QStringLiteral("r0")].Id);
        FErrors.clear();
    }

    // A server that hangs (SIGSTOP) after a record went through: a sweep's record handed over,
    // the history opened and a serial typed key by key never hold the window up; the history
    // shows the local file under a banner with the record marked waiting, and the record shows
    // as stored once the server is back, without another sweep.
    void neverWaitsOnAStalledServer() {
        TPostgresServer server;
        QVERIFY2(server.Error.isEmpty(), qPrintable(server.Error));
        QTemporaryDir dir;
        TTestRecordWorker worker(dir.path(), server.Settings());
        QSignalSpy sent(&worker, &TTestRecordWorker::Sent);
        worker.Write(HistoryTestRecord(QStringLiteral("ST-1"), Utc(5, 1, 8), 0.1));
        QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 1, 30000);
        QVERIFY(server.Stall());

        // The window opened on the stalled server; its own making and first paint are not a
        // wait on the server (under the sanitizers they alone may take longer than the bound).
        TFormTestHistory form;
        form.WorkerSource = [&worker] { return &worker; };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TLoopLatency latency;
        const TTestRecord waiting = HistoryTestRecord(QStringLiteral("ST-2"), Utc(5, 2, 8), 0.1);
        worker.Write(waiting); // a sweep's end
        form.EditSerial->setFocus();
        for (const char c : {'S', 'T', '-', '2', ' '})
            QTest::keyClick(form.EditSerial, c, Qt::NoModifier, 60);
        Settle(&form);
        const qint64 gap = latency.MaxGap();
        qInfo("longest wait of the event loop: %lld ms (%lld ms with the time it waited for a processor)",
              gap, latency.MaxWallGap());
        QVERIFY2(gap < 100, qPrintable(QStringLiteral("the window waited %1 ms").arg(gap)));
        QVERIFY(form.LabelServer->isVisibleTo(&form));
        QCOMPARE(form.ModelRecords->rowCount(), 1);
        QCOMPARE(form.ModelRecords->Record(0).Id, waiting.Id);
        QCOMPARE(Cell(form, 0, TTestHistoryModel::hcServer), QStringLiteral("waiting"));
        QTRY_COMPARE_WITH_TIMEOUT(form.LabelQueue->text(), QStringLiteral("1 record waits for the server"),
                                  20000);

        QVERIFY(server.Resume());
        QTRY_COMPARE_WITH_TIMEOUT(worker.State().Waiting, 0, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!form.Busy() && form.ModelRecords->rowCount() == 1 &&
                                     Cell(form, 0, TTestHistoryModel::hcServer).isEmpty(),
                                 30000);
        QVERIFY(!form.LabelServer->isVisibleTo(&form));
        QVERIFY(!form.LabelQueue->isVisibleTo(&form));
    }

    void openedFromTheMainWindow() {
        TFormTamrel main;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QVERIFY(!main.FormTestHistory);
        main.ButtonTestHistory->click();
        TFormTestHistory *history = main.FormTestHistory;
        QVERIFY(history);
        QVERIFY(history->isVisible());
        QVERIFY(history->isWindow());
        // Beside the main window, which stays usable.
        QVERIFY(!history->isModal());
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(main.isEnabled());
        Settle(history);
        history->close();
        main.ButtonTestHistory->click();
        QCOMPARE(main.FormTestHistory, history);
        QVERIFY(history->isVisible());
        main.close();
    }

    void storedRecordShowsInTheOpenHistory() {
        // The history opened from the main window reads the store the sweeps write to and
        // lists a record as soon as the main window says it was stored, after any hook set
        // before it.
        QTemporaryDir dir;
        TFormTamrel main;
        main.RecordFolder = dir.filePath(QStringLiteral("records"));
        QStringList earlierHook;
        main.OnRecordStored = [&earlierHook](const TTestRecord &record) { earlierHook << record.Id; };
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.ButtonTestHistory->click();
        TFormTestHistory *history = main.FormTestHistory;
        QVERIFY(history);
        Settle(history);
        QCOMPARE(history->ModelRecords->rowCount(), 0);

        const TTestRecord record = HistoryTestRecord(QStringLiteral("VE-24-01187"), Utc(5, 1, 8), 0.1);
        main.RecordWorker()->Write(record);
        QTRY_COMPARE_WITH_TIMEOUT(earlierHook, QStringList{record.Id}, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(history->ModelRecords->rowCount(), 1, 20000);
        QCOMPARE(history->ModelRecords->Record(0).Id, record.Id);
        main.close();
    }
};

TAMREL_TEST_MAIN(TestFormTestHistory)
#include "tst_FormTestHistory.moc"

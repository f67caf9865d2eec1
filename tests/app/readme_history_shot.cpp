// Not a test: the test history window offscreen on a few generated records, two of them (the
// same head before and after a repair) compared, saved as a picture for the README.
// Usage: app_readme_history_shot <history.png>
#include "uFormTestHistory.h"
#include "uHistoryTestRecords.h"
#include "uTestHistoryModel.h"
#include "uTestRecordStore.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QStyleFactory>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc < 2) {
        std::fprintf(stderr, "usage: app_readme_history_shot <history.png>\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("records"));
    {
        struct TShot {
            const char *Serial;
            int Month, Day, Hour;
            double Width;
            bool Limits;
        };
        const TShot shots[] = {
            {"VE-24-01187", 11, 3, 9, 0.42, true},   {"VE-24-00932", 11, 3, 11, 0.12, true},
            {"PE-23-10456", 11, 10, 14, 0.21, true}, {"ZX-0077", 11, 17, 8, 0.18, false},
            {"VE-24-01187", 11, 24, 10, 0.09, true}, {"VE-24-01203", 12, 1, 15, 0.35, true},
            {"PE-23-10470", 12, 8, 9, 0.15, true},
        };
        QVector<TTestRecord> records;
        for (const TShot &shot : shots)
            records << HistoryTestRecord(QString::fromLatin1(shot.Serial),
                                         QDateTime(QDate(2026, shot.Month, shot.Day), QTime(shot.Hour, 20)),
                                         shot.Width, shot.Limits);
        records[3].PumpType = QStringLiteral("Zexel");
        records[3].Evaluate();
        records[2].PumpType = records[6].PumpType = QStringLiteral("PE");
        TTestRecordStore(folder).WriteRecords(records);
    }
    TFormTestHistory form;
    form.StoreFolder = folder;
    form.show();
    // The list and the loads come from the records' own threads.
    const auto settle = [&form] {
        for (int pass = 0; pass < 2000 && (form.Busy() || form.ModelRecords->rowCount() == 0); ++pass)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };
    settle();
    // The head that failed, and the same head after its repair.
    QItemSelectionModel *selection = form.TableRecords->selectionModel();
    for (int row : {2, 6})
        selection->select(form.TableRecords->model()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    settle();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    if (form.ShownRecords().size() != 2) {
        std::fprintf(stderr, "the two records are not compared\n");
        return 1;
    }
    form.grab().save(QString::fromLocal8Bit(argv[1]));
    return 0;
}

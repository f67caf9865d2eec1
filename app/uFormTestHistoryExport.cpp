// The test history window's exports: the shown record's points as CSV and its one-page PDF
// report, and the listed records with their figures as CSV.
#include "uFormTestHistory.h"

#include "uTestHistoryModel.h"
#include "uTestRecordCsv.h"
#include "uTestRecordExportFile.h"
#include "uTestRecordPdf.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

// A file name proposed for a record: its serial number (only letters, digits, '-' and '.'
// kept, the rest '_': a serial is typed freely) and the local time it was taken.
QString RecordFileName(const TTestRecord &record, const QString &suffix) {
    QString serial = record.HeadSerial.simplified();
    serial.replace(
        QRegularExpression(QStringLiteral("[^\\w.-]+"), QRegularExpression::UseUnicodePropertiesOption),
        QStringLiteral("_"));
    if (serial.isEmpty() || serial.startsWith(u'.')) serial.prepend(QStringLiteral("head"));
    return QStringLiteral("%1_%2.%3")
        .arg(serial, record.TakenAt.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmm")), suffix);
}

} // namespace

QString TFormTestHistory::AskFileName(const QString &caption, const QString &proposedName,
                                      const QString &filter) {
    if (FLastFolder.isEmpty())
        FLastFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path =
        AskSaveFileName
            ? AskSaveFileName(caption, proposedName, filter)
            : QFileDialog::getSaveFileName(this, caption, QDir(FLastFolder).filePath(proposedName), filter);
    if (!path.isEmpty()) FLastFolder = QFileInfo(path).absolutePath();
    return path;
}

void TFormTestHistory::ButtonExportRecordCsvClick() {
    const TTestRecord *record = ExportedRecord();
    if (!record) return;
    const QString path = AskFileName(QStringLiteral("Export the test record as CSV"),
                                     RecordFileName(*record, QStringLiteral("csv")),
                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty()) return;
    SaveExportFile(path, TestRecordPointsCsv(*record));
    LabelStatus->setText(QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path)));
}

void TFormTestHistory::ButtonExportListCsvClick() {
    const QString path =
        AskFileName(QStringLiteral("Export the listed test records as CSV"),
                    QStringLiteral("test-records_%1.csv")
                        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm"))),
                    QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty()) return;
    SaveExportFile(path, TestRecordListCsv(ModelRecords->Records()));
    LabelStatus->setText(QStringLiteral("Saved %1 records to %2")
                             .arg(ModelRecords->rowCount())
                             .arg(QDir::toNativeSeparators(path)));
}

void TFormTestHistory::ButtonExportPdfClick() {
    const TTestRecord *record = ExportedRecord();
    if (!record) return;
    const QString path = AskFileName(QStringLiteral("Save the test report as PDF"),
                                     RecordFileName(*record, QStringLiteral("pdf")),
                                     QStringLiteral("PDF documents (*.pdf);;All files (*)"));
    if (path.isEmpty()) return;
    SaveTestRecordPdf(*record, path);
    LabelStatus->setText(QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path)));
}

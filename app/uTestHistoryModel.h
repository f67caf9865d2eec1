#pragma once
// The rows of the test history: one stored test record each, as the store lists them (newest
// first), with the figures a technician compares at a glance and the verdict in its colour.
#include "uTestRecordStore.h"

#include <QAbstractTableModel>
#include <QSet>
#include <QVector>

class TTestHistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn : quint8 {
        hcTakenAt,
        hcSerial,
        hcPumpHead,
        hcMaxVolts,
        hcMaxPercent,
        hcSpan,
        hcVerdict,
        hcServer, // with a server: "waiting" or "refused" while the record is only in the local file
        hcColumnCount
    };
    // The record's id, for every column of its row.
    static constexpr int RecordIdRole = Qt::UserRole + 1;

    explicit TTestHistoryModel(QObject *parent = nullptr);

    // The rows in the order given (the store's: newest first).
    // waiting and refused: the ids of those only in the local file, waiting for the server or
    // refused by it.
    void SetRecords(QVector<TTestRecordSummary> records, QSet<QString> waiting = {},
                    QSet<QString> refused = {});
    const QVector<TTestRecordSummary> &Records() const { return FRecords; }
    const TTestRecordSummary &Record(int row) const { return FRecords.at(row); }
    // The row of the record with this id; -1 when the list does not hold it.
    int RowOf(const QString &id) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QVector<TTestRecordSummary> FRecords;
    QSet<QString> FWaiting, FRefused;
};

namespace TestHistoryText {
// Local date and time as the list shows it: 2026-03-01 09:15:30.
QString LocalTime(const QDateTime &utc);
// "VE / Inductive"; either part may be missing.
QString PumpHead(const QString &pumpType, const QString &headType);
// Volts with three decimals and percent with one; empty when the figure is not available.
QString MaxVolts(const THysteresisFigures &figures);
QString MaxPercent(const THysteresisFigures &figures);
QString Span(const THysteresisFigures &figures);
// "PASS", "FAIL" or "—" for a record judged against no limit.
QString Verdict(TTestVerdict verdict);
QColor VerdictColor(TTestVerdict verdict);
} // namespace TestHistoryText

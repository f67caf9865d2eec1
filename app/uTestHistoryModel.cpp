#include "uTestHistoryModel.h"

#include "uTestRecordPdf.h"

#include <QColor>
#include <QFont>

namespace TestHistoryText {

QString LocalTime(const QDateTime &utc) {
    return utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString PumpHead(const QString &pumpType, const QString &headType) {
    if (pumpType.isEmpty()) return headType;
    if (headType.isEmpty()) return pumpType;
    return pumpType + QStringLiteral(" / ") + headType;
}

QString MaxVolts(const THysteresisFigures &figures) {
    return figures.Available() ? QString::number(figures.MaxVolts, 'f', 3) : QString();
}

QString MaxPercent(const THysteresisFigures &figures) {
    return figures.HasPercent() ? QString::number(figures.MaxPercent, 'f', 1) : QString();
}

QString Span(const THysteresisFigures &figures) {
    // The span is known from the rising branch alone; a record without any point has none.
    return figures.SpanVolts > 0 || figures.Available() ? QString::number(figures.SpanVolts, 'f', 3)
                                                        : QString();
}

QString Verdict(TTestVerdict verdict) {
    return verdict == tvNone ? QStringLiteral("—") : TestVerdictText(verdict);
}

QColor VerdictColor(TTestVerdict verdict) {
    return verdict == tvPass   ? TestReportColors::Pass
           : verdict == tvFail ? TestReportColors::Fail
                               : TestReportColors::NoVerdict;
}

} // namespace TestHistoryText

TTestHistoryModel::TTestHistoryModel(QObject *parent) : QAbstractTableModel(parent) {
}

void TTestHistoryModel::SetRecords(QVector<TTestRecordSummary> records, QSet<QString> waiting,
                                   QSet<QString> refused) {
    beginResetModel();
    FRecords = std::move(records);
    FWaiting = std::move(waiting);
    FRefused = std::move(refused);
    endResetModel();
}

int TTestHistoryModel::RowOf(const QString &id) const {
    for (int row = 0; row < FRecords.size(); ++row)
        if (FRecords[row].Id == id) return row;
    return -1;
}

int TTestHistoryModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(FRecords.size());
}

int TTestHistoryModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : hcColumnCount;
}

QVariant TTestHistoryModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= FRecords.size()) return {};
    const TTestRecordSummary &record = FRecords[index.row()];
    using namespace TestHistoryText;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case hcTakenAt:
            return LocalTime(record.TakenAt);
        case hcSerial:
            return record.HeadSerial;
        case hcPumpHead:
            return PumpHead(record.PumpType, record.HeadType);
        case hcMaxVolts:
            return MaxVolts(record.Figures);
        case hcMaxPercent:
            return MaxPercent(record.Figures);
        case hcSpan:
            return Span(record.Figures);
        case hcVerdict:
            return Verdict(record.Verdict);
        case hcServer:
            return FRefused.contains(record.Id)   ? QStringLiteral("refused")
                   : FWaiting.contains(record.Id) ? QStringLiteral("waiting")
                                                  : QString();
        default:
            return {};
        }
    case Qt::ForegroundRole:
        if (index.column() == hcVerdict) return VerdictColor(record.Verdict);
        if (index.column() == hcServer && FRefused.contains(record.Id)) return QColor(0xcc, 0, 0);
        return {};
    case Qt::FontRole:
        if (index.column() == hcVerdict && record.Verdict != tvNone) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == hcMaxVolts || index.column() == hcMaxPercent || index.column() == hcSpan)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (index.column() == hcVerdict) return int(Qt::AlignCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ToolTipRole:
        // A serial may hold line breaks; the cell shows them as one line, the tip as typed.
        if (index.column() == hcSerial) return record.HeadSerial;
        return {};
    case RecordIdRole:
        return record.Id;
    default:
        return {};
    }
}

QVariant TTestHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case hcTakenAt:
        return QStringLiteral("Date and time");
    case hcSerial:
        return QStringLiteral("Serial number");
    case hcPumpHead:
        return QStringLiteral("Pump / head");
    case hcMaxVolts:
        return QStringLiteral("Max hyst., V");
    case hcMaxPercent:
        return QStringLiteral("Max hyst., %");
    case hcSpan:
        return QStringLiteral("Span, V");
    case hcVerdict:
        return QStringLiteral("Verdict");
    case hcServer:
        return QStringLiteral("Server");
    default:
        return {};
    }
}

#include "uTestHistoryChart.h"

#include "uTamrelCharts.h"
#include "uTamrelColors.h"
#include "uTestHistoryModel.h"
#include "uTestRecordPdf.h"

#include <cmath>

namespace TestHistoryChart {

namespace {

const char MaximumMarkName[] = "MaximumMark";

} // namespace

TLoopColors LoopColors(int index) {
    using namespace TamrelColors;
    if (index == 0) return {FromWinColor(clRed), FromWinColor(clChannel1Backward), QColor(150, 0, 0)};
    return {FromWinColor(clBlue), FromWinColor(clChannel2Backward), QColor(0, 0, 140)};
}

void SetupLoopChart(QCustomPlot *chart) {
    TamrelCharts::SetupChart(chart, 5, 15, 5, 5);
    chart->xAxis->setLabel(QStringLiteral("Duty (%)"));
    chart->yAxis->setLabel(QStringLiteral("Vout (V)"));
    chart->legend->setVisible(false);
    chart->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
}

void ShowLoops(QCustomPlot *chart, const QVector<TTestRecord> &records) {
    chart->clearItems();
    chart->clearPlottables();
    double dutyHigh = 0;
    double voltsLow = 0;
    double voltsHigh = 5;
    for (int index = 0; index < records.size(); ++index) {
        const TTestRecord &record = records[index];
        const TLoopColors colors = LoopColors(index);
        auto *loop = TamrelCharts::AddColoredSeries(chart, colors.Rising,
                                                    record.HeadSerial.simplified() + QStringLiteral(" — ") +
                                                        TestHistoryText::LocalTime(record.TakenAt));
        loop->setObjectName(QStringLiteral("Loop%1").arg(index));
        dutyHigh = std::max(dutyHigh, double(record.Sweep.EndDuty));
        for (const TTestRecordPoint &point : record.Points) {
            loop->AddPoint(point.Duty, point.Volts,
                           point.Branch == sbRising ? colors.Rising : colors.Falling);
            if (!std::isfinite(point.Duty) || !std::isfinite(point.Volts)) continue;
            dutyHigh = std::max(dutyHigh, point.Duty);
            voltsLow = std::min(voltsLow, std::floor(point.Volts));
            voltsHigh = TamrelCharts::GrownAxisMax(voltsHigh, point.Volts);
        }
        if (records.size() > 1) loop->addToLegend();

        const THysteresisFigures &figures = record.Figures;
        const std::optional<double> up = BranchVoltsAt(record.Branch(sbRising), figures.MaxAtDuty);
        const std::optional<double> down = BranchVoltsAt(record.Branch(sbFalling), figures.MaxAtDuty);
        if (!figures.Available() || !up || !down) continue;
        auto *mark = new QCPItemLine(chart);
        mark->setObjectName(QLatin1String(MaximumMarkName));
        // One loop: the report's colour for the maximum; compared loops: each its own.
        mark->setPen(QPen(records.size() == 1 ? TestReportColors::MaxHysteresis : colors.Maximum, 2));
        mark->start->setCoords(figures.MaxAtDuty, *up);
        mark->end->setCoords(figures.MaxAtDuty, *down);
        mark->setHead(QCPLineEnding(QCPLineEnding::esBar, 10));
        mark->setTail(QCPLineEnding(QCPLineEnding::esBar, 10));
        mark->setClipToAxisRect(true);
    }
    chart->xAxis->setRange(0, TamrelCharts::HystBottomMax(qint64(std::ceil(dutyHigh))));
    chart->yAxis->setRange(voltsLow, voltsHigh);
    chart->legend->setVisible(records.size() > 1);
    chart->replot(QCustomPlot::rpQueuedReplot);
}

QVector<TColoredLineSeries *> Loops(QCustomPlot *chart) {
    QVector<TColoredLineSeries *> loops;
    for (int i = 0; i < chart->plottableCount(); ++i)
        if (auto *loop = qobject_cast<TColoredLineSeries *>(chart->plottable(i))) loops << loop;
    return loops;
}

QVector<QCPItemLine *> MaximumMarks(QCustomPlot *chart) {
    QVector<QCPItemLine *> marks;
    for (int i = 0; i < chart->itemCount(); ++i)
        if (auto *mark = qobject_cast<QCPItemLine *>(chart->item(i));
            mark && mark->objectName() == QLatin1String(MaximumMarkName))
            marks << mark;
    return marks;
}

} // namespace TestHistoryChart

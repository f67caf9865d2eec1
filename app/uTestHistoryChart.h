#pragma once
// The loops of stored test records on a chart of the main window's kind: each record's rising
// and falling branch as one line in the order taken, the maximum hysteresis marked as a
// vertical segment between the branches, and a legend when records are compared.
#include "uTestRecord.h"

#include <QColor>
#include <QVector>

class QCustomPlot;
class QCPItemLine;
class TColoredLineSeries;

struct TLoopColors {
    QColor Rising;
    QColor Falling;
    QColor Maximum;
};

namespace TestHistoryChart {

// The first record in the colours the main window gives channel 1, a compared second record in
// channel 2's; each with a darker shade for its maximum mark when two are compared (one record
// alone has its maximum in the report's colour).
TLoopColors LoopColors(int index);

// The main window's chart look (fixed ranges, its grid), with a legend at the top left.
void SetupLoopChart(QCustomPlot *chart);

// Replaces what the chart shows with the loops of records; the legend, naming each by serial
// number and local time, is shown when there is more than one.
void ShowLoops(QCustomPlot *chart, const QVector<TTestRecord> &records);

// What ShowLoops drew, in the order of its records (for the window's tests).
QVector<TColoredLineSeries *> Loops(QCustomPlot *chart);
QVector<QCPItemLine *> MaximumMarks(QCustomPlot *chart);

} // namespace TestHistoryChart

#pragma once
// Chart pieces of the main window: a line series whose points may each carry their own colour
// (the segment leading to a point is drawn in that point's colour), the common look of both
// charts, and the rule by which the position chart's left axis grows.
#include <QColor>
#include <QVector>
#include <qcustomplot.h>

// A line that keeps its points in the order they were added (a hysteresis loop goes up and
// back down over the same x values) and draws each segment in the colour of the point it
// leads to. A point added without a colour uses the series' own pen colour. Points that all
// lie at one place are shown as a dot.
class TColoredLineSeries : public QCPCurve {
    Q_OBJECT
public:
    TColoredLineSeries(QCPAxis *keyAxis, QCPAxis *valueAxis);

    void AddPoint(double x, double y, const QColor &color = QColor());
    void Clear();
    int PointCount() const { return int(FPoints.size()); }
    QPointF Point(int index) const { return FPoints.at(index); }
    // The colour the point is drawn in (its own, else the series' colour).
    QColor PointColor(int index) const;
    QColor SeriesColor() const { return pen().color(); }
    void SetSeriesColor(const QColor &color);

    // Radius in pixels of the dot that shows a series whose points all lie at one place.
    static constexpr double MarkerRadius = 3.5;

protected:
    void draw(QCPPainter *painter) override;

private:
    bool DrawMarkerIfOnePlace(QCPPainter *painter);

    QVector<QPointF> FPoints;
    QVector<QColor> FColors;
};

// Tick marks with a fixed number of minor ticks between two labels.
class TFixedSubTicker : public QCPAxisTicker {
public:
    explicit TFixedSubTicker(int subTicks) : FSubTicks(subTicks) {}

protected:
    int getSubTickCount(double) override { return FSubTicks; }

private:
    int FSubTicks;
};

namespace TamrelCharts {

// Background, fixed axis ranges, silver grid with grey minor grid and four minor ticks,
// no mouse interaction; the outer margins are left, right, top, bottom in pixels.
void SetupChart(QCustomPlot *chart, int marginLeft, int marginRight, int marginTop, int marginBottom);
// A plain line of width 2 in the given colour, kept out of the legend.
QCPGraph *AddLineGraph(QCustomPlot *chart, const QColor &color, const QString &title);
TColoredLineSeries *AddColoredSeries(QCustomPlot *chart, const QColor &color, const QString &title);

// The left axis maximum after a sample of value V: unchanged while V fits, otherwise V
// rounded to the nearest integer (ties to even) plus one, so 5.3 gives 6 and 5.7 gives 7.
double GrownAxisMax(double currentMax, double v);

// The hysteresis chart's bottom axis maximum for a sweep ending at End percent:
// the smaller of 10 * (End div 10 + 1) and 100.
int HystBottomMax(qint64 end);

} // namespace TamrelCharts

#include "uTamrelCharts.h"
#include "uTamrelColors.h"

#include <cmath>

TColoredLineSeries::TColoredLineSeries(QCPAxis *keyAxis, QCPAxis *valueAxis) : QCPCurve(keyAxis, valueAxis) {
    setLineStyle(QCPCurve::lsLine);
    setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
}

void TColoredLineSeries::AddPoint(double x, double y, const QColor &color) {
    // The parameter t is the insertion index, so the base class keeps the insertion order
    // (used for its selection and range logic); drawing uses FPoints.
    addData(double(FPoints.size()), x, y);
    FPoints.append(QPointF(x, y));
    FColors.append(color);
    if (mParentPlot) mParentPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TColoredLineSeries::Clear() {
    data()->clear();
    FPoints.clear();
    FColors.clear();
    if (mParentPlot) mParentPlot->replot(QCustomPlot::rpQueuedReplot);
}

QColor TColoredLineSeries::PointColor(int index) const {
    const QColor &c = FColors.at(index);
    return c.isValid() ? c : pen().color();
}

void TColoredLineSeries::SetSeriesColor(const QColor &color) {
    QPen p = pen();
    p.setColor(color);
    setPen(p);
}

void TColoredLineSeries::draw(QCPPainter *painter) {
    QCPAxis *kAxis = keyAxis();
    QCPAxis *vAxis = valueAxis();
    if (!kAxis || !vAxis || FPoints.isEmpty()) return;
    if (DrawMarkerIfOnePlace(painter)) return;
    QPen p = pen();
    QPointF prev = coordsToPixels(FPoints[0].x(), FPoints[0].y());
    for (qsizetype i = 1; i < FPoints.size(); ++i) {
        const QPointF next = coordsToPixels(FPoints[i].x(), FPoints[i].y());
        const QPointF &pt = FPoints[i];
        if (std::isfinite(pt.x()) && std::isfinite(pt.y()) && std::isfinite(FPoints[i - 1].x()) &&
            std::isfinite(FPoints[i - 1].y())) {
            p.setColor(PointColor(int(i)));
            painter->setPen(p);
            painter->drawLine(QLineF(prev, next));
        }
        prev = next;
    }
}

bool TColoredLineSeries::DrawMarkerIfOnePlace(QCPPainter *painter) {
    // A sweep that measured at one place only (its start not below its end, or a step of 0)
    // has no line to show: a dot in the colour of its last point marks that place.
    const QPointF first = FPoints.first();
    if (!std::isfinite(first.x()) || !std::isfinite(first.y())) return false;
    const QPointF at = coordsToPixels(first.x(), first.y());
    for (const QPointF &pt : FPoints) {
        if (!std::isfinite(pt.x()) || !std::isfinite(pt.y())) return false;
        const QPointF d = coordsToPixels(pt.x(), pt.y()) - at;
        if (std::abs(d.x()) > 1.5 || std::abs(d.y()) > 1.5) return false;
    }
    const QColor c = PointColor(int(FPoints.size()) - 1);
    painter->setPen(QPen(c, 1));
    painter->setBrush(c);
    painter->drawEllipse(at, MarkerRadius, MarkerRadius);
    return true;
}

namespace TamrelCharts {

using namespace TamrelColors;

static void SetupAxis(QCPAxis *axis) {
    axis->setTicker(QSharedPointer<QCPAxisTicker>(new TFixedSubTicker(4)));
    axis->grid()->setPen(QPen(FromWinColor(clSilver), 0, Qt::SolidLine));
    axis->grid()->setSubGridVisible(true);
    axis->grid()->setSubGridPen(QPen(FromWinColor(clMinorGrid), 0, Qt::SolidLine));
    axis->setSubTicks(true);
}

void SetupChart(QCustomPlot *chart, int marginLeft, int marginRight, int marginTop, int marginBottom) {
    chart->setBackground(QBrush(FromWinColor(clChartBackground)));
    chart->setInteractions(QCP::Interactions());
    chart->legend->setVisible(false);
    chart->plotLayout()->setMargins(QMargins(marginLeft, marginTop, marginRight, marginBottom));
    // Many samples a second may arrive; painting them is the expensive part, so the chart
    // is redrawn at most once per event-loop pass (queued replots coalesce).
    chart->setNotAntialiasedElements(QCP::aeAll);
    chart->setAntialiasedElements(QCP::aePlottables);
    chart->setPlottingHint(QCP::phCacheLabels, true);
    SetupAxis(chart->xAxis);
    SetupAxis(chart->yAxis);
    chart->xAxis->setRange(0, 100);
    chart->yAxis->setRange(0, 5);
}

QCPGraph *AddLineGraph(QCustomPlot *chart, const QColor &color, const QString &title) {
    QCPGraph *g = chart->addGraph(chart->xAxis, chart->yAxis);
    g->setPen(QPen(color, 2));
    g->setName(title);
    g->setLineStyle(QCPGraph::lsLine);
    g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    g->removeFromLegend();
    // The samples come with rising x; the container appends without sorting then.
    g->setAdaptiveSampling(true);
    return g;
}

TColoredLineSeries *AddColoredSeries(QCustomPlot *chart, const QColor &color, const QString &title) {
    auto *s = new TColoredLineSeries(chart->xAxis, chart->yAxis);
    s->setPen(QPen(color, 2));
    s->setName(title);
    s->removeFromLegend();
    return s;
}

double GrownAxisMax(double currentMax, double v) {
    if (!(v > currentMax)) return currentMax;
    // nearbyint rounds in the current rounding mode, which is to nearest with ties to even.
    return std::nearbyint(v) + 1;
}

int HystBottomMax(qint64 end) {
    return int(qMin<qint64>(10 * (end / 10 + 1), 100));
}

} // namespace TamrelCharts

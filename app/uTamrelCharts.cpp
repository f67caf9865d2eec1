#include "uTamrelCharts.h"
#include "uTamrelColors.h"

#include <cmath>

TColoredLineSeries::TColoredLineSeries(QCPAxis *KeyAxis, QCPAxis *ValueAxis) : QCPCurve(KeyAxis, ValueAxis) {
    setLineStyle(QCPCurve::lsLine);
    setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
}

void TColoredLineSeries::AddPoint(double X, double Y, const QColor &Color) {
    // The parameter t is the insertion index, so the base class keeps the insertion order
    // (used for its selection and range logic); drawing uses FPoints.
    addData(double(FPoints.size()), X, Y);
    FPoints.append(QPointF(X, Y));
    FColors.append(Color);
    if (mParentPlot) mParentPlot->replot(QCustomPlot::rpQueuedReplot);
}

void TColoredLineSeries::Clear() {
    data()->clear();
    FPoints.clear();
    FColors.clear();
    if (mParentPlot) mParentPlot->replot(QCustomPlot::rpQueuedReplot);
}

QColor TColoredLineSeries::PointColor(int Index) const {
    const QColor &C = FColors.at(Index);
    return C.isValid() ? C : pen().color();
}

void TColoredLineSeries::SetSeriesColor(const QColor &Color) {
    QPen P = pen();
    P.setColor(Color);
    setPen(P);
}

void TColoredLineSeries::draw(QCPPainter *Painter) {
    QCPAxis *KeyAxis = keyAxis();
    QCPAxis *ValueAxis = valueAxis();
    if (!KeyAxis || !ValueAxis || FPoints.isEmpty()) return;
    if (DrawMarkerIfOnePlace(Painter)) return;
    QPen P = pen();
    QPointF Prev = coordsToPixels(FPoints[0].x(), FPoints[0].y());
    for (qsizetype i = 1; i < FPoints.size(); ++i) {
        const QPointF Next = coordsToPixels(FPoints[i].x(), FPoints[i].y());
        const QPointF &Pt = FPoints[i];
        if (std::isfinite(Pt.x()) && std::isfinite(Pt.y()) && std::isfinite(FPoints[i - 1].x()) &&
            std::isfinite(FPoints[i - 1].y())) {
            P.setColor(PointColor(int(i)));
            Painter->setPen(P);
            Painter->drawLine(QLineF(Prev, Next));
        }
        Prev = Next;
    }
}

bool TColoredLineSeries::DrawMarkerIfOnePlace(QCPPainter *Painter) {
    // A sweep that measured at one place only (its start not below its end, or a step of 0)
    // has no line to show: a dot in the colour of its last point marks that place.
    const QPointF First = FPoints.first();
    if (!std::isfinite(First.x()) || !std::isfinite(First.y())) return false;
    const QPointF At = coordsToPixels(First.x(), First.y());
    for (const QPointF &Pt : FPoints) {
        if (!std::isfinite(Pt.x()) || !std::isfinite(Pt.y())) return false;
        const QPointF D = coordsToPixels(Pt.x(), Pt.y()) - At;
        if (std::abs(D.x()) > 1.5 || std::abs(D.y()) > 1.5) return false;
    }
    const QColor C = PointColor(int(FPoints.size()) - 1);
    Painter->setPen(QPen(C, 1));
    Painter->setBrush(C);
    Painter->drawEllipse(At, MarkerRadius, MarkerRadius);
    return true;
}

namespace TamrelCharts {

using namespace TamrelColors;

static void SetupAxis(QCPAxis *Axis) {
    Axis->setTicker(QSharedPointer<QCPAxisTicker>(new TFixedSubTicker(4)));
    Axis->grid()->setPen(QPen(FromWinColor(clSilver), 0, Qt::SolidLine));
    Axis->grid()->setSubGridVisible(true);
    Axis->grid()->setSubGridPen(QPen(FromWinColor(clMinorGrid), 0, Qt::SolidLine));
    Axis->setSubTicks(true);
}

void SetupChart(QCustomPlot *Chart, int MarginLeft, int MarginRight, int MarginTop, int MarginBottom) {
    Chart->setBackground(QBrush(FromWinColor(clChartBackground)));
    Chart->setInteractions(QCP::Interactions());
    Chart->legend->setVisible(false);
    Chart->plotLayout()->setMargins(QMargins(MarginLeft, MarginTop, MarginRight, MarginBottom));
    // Many samples a second may arrive; painting them is the expensive part, so the chart
    // is redrawn at most once per event-loop pass (queued replots coalesce).
    Chart->setNotAntialiasedElements(QCP::aeAll);
    Chart->setAntialiasedElements(QCP::aePlottables);
    Chart->setPlottingHint(QCP::phCacheLabels, true);
    SetupAxis(Chart->xAxis);
    SetupAxis(Chart->yAxis);
    Chart->xAxis->setRange(0, 100);
    Chart->yAxis->setRange(0, 5);
}

QCPGraph *AddLineGraph(QCustomPlot *Chart, const QColor &Color, const QString &Title) {
    QCPGraph *G = Chart->addGraph(Chart->xAxis, Chart->yAxis);
    G->setPen(QPen(Color, 2));
    G->setName(Title);
    G->setLineStyle(QCPGraph::lsLine);
    G->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    G->removeFromLegend();
    // The samples come with rising x; the container appends without sorting then.
    G->setAdaptiveSampling(true);
    return G;
}

TColoredLineSeries *AddColoredSeries(QCustomPlot *Chart, const QColor &Color, const QString &Title) {
    auto *S = new TColoredLineSeries(Chart->xAxis, Chart->yAxis);
    S->setPen(QPen(Color, 2));
    S->setName(Title);
    S->removeFromLegend();
    return S;
}

double GrownAxisMax(double CurrentMax, double V) {
    if (!(V > CurrentMax)) return CurrentMax;
    // nearbyint rounds in the current rounding mode, which is to nearest with ties to even.
    return std::nearbyint(V) + 1;
}

int HystBottomMax(qint64 End) {
    return int(qMin<qint64>(10 * (End / 10 + 1), 100));
}

} // namespace TamrelCharts

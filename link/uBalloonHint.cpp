#include "uBalloonHint.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

namespace {

constexpr int PadX = 8, PadY = 6; // title to body edge
constexpr int Radius = 4;         // body corners
constexpr int StemHeight = 10;
constexpr int StemHalfWidth = 7;
constexpr int StemFromLeft = 18; // the stem's usual place, from the body's left edge
constexpr int ScreenMargin = 2;  // kept free along the screen's edges

int TextFlags(bool Wrap) {
    // A file path has no spaces to break at, so a title too wide for the screen breaks
    // anywhere; lines of its own (the line break before a path) are kept.
    return Qt::AlignLeft | Qt::AlignTop | (Wrap ? Qt::TextWrapAnywhere : 0);
}

} // namespace

TBalloonHint::TBalloonHint(QWidget *Owner)
    : QFrame(Owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(false);
    QFont F = font();
    F.setBold(true);
    setFont(F);
    FHideTimer = new QTimer(this);
    FHideTimer->setSingleShot(true);
    connect(FHideTimer, &QTimer::timeout, this, &QWidget::hide);
}

void TBalloonHint::SetTitle(const QString &Title) {
    FTitle = Title;
    update();
}

QScreen *TBalloonHint::TargetScreen(const QPoint &Point) const {
    // The screen that shows the owner's window; a balloon without an owner goes to the
    // screen under its point.
    if (QWidget *Owner = parentWidget())
        if (QScreen *S = Owner->window()->screen()) return S;
    if (QScreen *S = QGuiApplication::screenAt(Point)) return S;
    return QGuiApplication::primaryScreen();
}

void TBalloonHint::ShowHint(const QPoint &Point) {
    FShownAt = Point;
    ++FShowCount;
    QRect Area = QRect(Point, QSize(1, 1));
    if (QScreen *S = TargetScreen(Point)) Area = S->availableGeometry();
    Area.adjust(ScreenMargin, ScreenMargin, -ScreenMargin, -ScreenMargin);
    const QPoint Tip(qBound(Area.left(), Point.x(), Area.right()),
                     qBound(Area.top(), Point.y(), Area.bottom()));

    // The title's size: on one line per line of its own, or wrapped to the screen's width.
    const QFontMetrics FM(font());
    const int MaxTextWidth = qMax(40, Area.width() - 2 * PadX - 2);
    QRect TextSize = FM.boundingRect(QRect(0, 0, MaxTextWidth, 100000), TextFlags(false), FTitle);
    FWrap = TextSize.width() > MaxTextWidth;
    if (FWrap) TextSize = FM.boundingRect(QRect(0, 0, MaxTextWidth, 100000), TextFlags(true), FTitle);
    const QSize Body(qMin(TextSize.width() + 2 * PadX + 1, Area.width()), TextSize.height() + 2 * PadY + 1);
    const QSize Whole(Body.width(), Body.height() + StemHeight);

    // Below the point, stem up; above it when the screen ends first.
    FStemUp = Tip.y() + Whole.height() <= Area.bottom() + 1 || Tip.y() - Whole.height() < Area.top();
    // The body slides along the screen's edge; the stem keeps pointing at the tip.
    const int Left = qBound(Area.left(), Tip.x() - StemFromLeft, Area.right() + 1 - Whole.width());
    const int Top = FStemUp ? Tip.y() : Tip.y() - Whole.height() + 1;
    FBody = QRect(QPoint(0, FStemUp ? StemHeight : 0), Body);
    FText = FBody.adjusted(PadX, PadY, -PadX, -PadY);
    FTip = Tip - QPoint(Left, Top);

    setGeometry(Left, Top, Whole.width(), Whole.height());
    setMask(QRegion(Outline().toFillPolygon().toPolygon()).united(QRegion(FBody.adjusted(0, 0, 1, 1))));
    show();
    update();
    FHideTimer->start(HideAfter);
}

QPainterPath TBalloonHint::Outline() const {
    QPainterPath Path;
    Path.addRoundedRect(QRectF(FBody).adjusted(0.5, 0.5, -0.5, -0.5), Radius, Radius);
    // The stem's base sits on the body's edge, as near the tip as the rounded corners allow.
    const int BaseX =
        qBound(FBody.left() + Radius + StemHalfWidth, FTip.x(), FBody.right() - Radius - StemHalfWidth);
    const qreal EdgeY = FStemUp ? FBody.top() + 0.5 : FBody.bottom() + 0.5;
    QPainterPath Stem;
    Stem.moveTo(BaseX - StemHalfWidth, EdgeY);
    Stem.lineTo(QPointF(FTip) + QPointF(0.5, FStemUp ? 0 : 0.5));
    Stem.lineTo(BaseX + StemHalfWidth, EdgeY);
    Stem.closeSubpath();
    return Path.united(Stem);
}

void TBalloonHint::paintEvent(QPaintEvent *) {
    QPainter P(this);
    P.setRenderHint(QPainter::Antialiasing);
    P.setPen(QPen(palette().color(QPalette::ToolTipText), 1));
    P.setBrush(palette().color(QPalette::ToolTipBase));
    P.drawPath(Outline());
    P.setPen(palette().color(QPalette::ToolTipText));
    P.drawText(FText, TextFlags(FWrap), FTitle);
}

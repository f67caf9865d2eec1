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

int TextFlags(bool wrap) {
    // A file path has no spaces to break at, so a title too wide for the screen breaks
    // anywhere; lines of its own (the line break before a path) are kept.
    return Qt::AlignLeft | Qt::AlignTop | (wrap ? Qt::TextWrapAnywhere : 0);
}

} // namespace

TBalloonHint::TBalloonHint(QWidget *owner)
    : QFrame(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(false);
    QFont f = font();
    f.setBold(true);
    setFont(f);
    FHideTimer = new QTimer(this);
    FHideTimer->setSingleShot(true);
    connect(FHideTimer, &QTimer::timeout, this, &QWidget::hide);
}

void TBalloonHint::SetTitle(const QString &title) {
    FTitle = title;
    update();
}

void TBalloonHint::SetText(const QString &text) {
    FBodyText = text;
    update();
}

QFont TBalloonHint::TextFont() const {
    QFont f = font();
    f.setBold(false);
    return f;
}

QScreen *TBalloonHint::TargetScreen(const QPoint &point) const {
    // The screen that shows the owner's window; a balloon without an owner goes to the
    // screen under its point.
    if (QWidget *owner = parentWidget())
        if (QScreen *s = owner->window()->screen()) return s;
    if (QScreen *s = QGuiApplication::screenAt(point)) return s;
    return QGuiApplication::primaryScreen();
}

void TBalloonHint::ShowHint(const QPoint &point) {
    FShownAt = point;
    ++FShowCount;
    QRect area = QRect(point, QSize(1, 1));
    if (QScreen *s = TargetScreen(point)) area = s->availableGeometry();
    area.adjust(ScreenMargin, ScreenMargin, -ScreenMargin, -ScreenMargin);
    const QPoint tip(qBound(area.left(), point.x(), area.right()),
                     qBound(area.top(), point.y(), area.bottom()));

    // The title's size: on one line per line of its own, or wrapped to the screen's width.
    const QFontMetrics fm(font());
    const int maxTextWidth = qMax(40, area.width() - 2 * PadX - 2);
    QRect textSize = fm.boundingRect(QRect(0, 0, maxTextWidth, 100000), TextFlags(false), FTitle);
    FWrap = textSize.width() > maxTextWidth;
    if (FWrap) textSize = fm.boundingRect(QRect(0, 0, maxTextWidth, 100000), TextFlags(true), FTitle);
    // The lines under it, each wrapped at spaces where it is wider than the screen.
    QRect linesSize;
    if (!FBodyText.isEmpty())
        linesSize =
            QFontMetrics(TextFont())
                .boundingRect(QRect(0, 0, maxTextWidth, 100000), Qt::AlignLeft | Qt::TextWordWrap, FBodyText);
    const int linesGap = FBodyText.isEmpty() ? 0 : PadY;
    const int textWidth = qMax(textSize.width(), linesSize.width());
    const QSize body(qMin(textWidth + 2 * PadX + 1, area.width()),
                     textSize.height() + linesGap + linesSize.height() + 2 * PadY + 1);
    const QSize whole(body.width(), body.height() + StemHeight);

    // Below the point, stem up; above it when the screen ends first.
    FStemUp = tip.y() + whole.height() <= area.bottom() + 1 || tip.y() - whole.height() < area.top();
    // The body slides along the screen's edge; the stem keeps pointing at the tip.
    const int left = qBound(area.left(), tip.x() - StemFromLeft, area.right() + 1 - whole.width());
    const int top = FStemUp ? tip.y() : tip.y() - whole.height() + 1;
    FBody = QRect(QPoint(0, FStemUp ? StemHeight : 0), body);
    FText = QRect(FBody.left() + PadX, FBody.top() + PadY, FBody.width() - 2 * PadX, textSize.height());
    FLines = QRect(FText.left(), FText.bottom() + 1 + linesGap, FText.width(), linesSize.height());
    FTip = tip - QPoint(left, top);

    setGeometry(left, top, whole.width(), whole.height());
    setMask(QRegion(Outline().toFillPolygon().toPolygon()).united(QRegion(FBody.adjusted(0, 0, 1, 1))));
    show();
    update();
    FHideTimer->start(HideAfter);
}

QPainterPath TBalloonHint::Outline() const {
    QPainterPath path;
    path.addRoundedRect(QRectF(FBody).adjusted(0.5, 0.5, -0.5, -0.5), Radius, Radius);
    // The stem's base sits on the body's edge, as near the tip as the rounded corners allow.
    const int baseX =
        qBound(FBody.left() + Radius + StemHalfWidth, FTip.x(), FBody.right() - Radius - StemHalfWidth);
    const qreal edgeY = FStemUp ? FBody.top() + 0.5 : FBody.bottom() + 0.5;
    QPainterPath stem;
    stem.moveTo(baseX - StemHalfWidth, edgeY);
    stem.lineTo(QPointF(FTip) + QPointF(0.5, FStemUp ? 0 : 0.5));
    stem.lineTo(baseX + StemHalfWidth, edgeY);
    stem.closeSubpath();
    return path.united(stem);
}

void TBalloonHint::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::ToolTipText), 1));
    p.setBrush(palette().color(QPalette::ToolTipBase));
    p.drawPath(Outline());
    p.setPen(palette().color(QPalette::ToolTipText));
    p.drawText(FText, TextFlags(FWrap), FTitle);
    if (!FBodyText.isEmpty()) {
        p.setFont(TextFont());
        p.drawText(FLines, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, FBodyText);
    }
}

#include "uBalloonHint.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>

TBalloonHint::TBalloonHint(QWidget *Owner)
    : QFrame(Owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    FLabel = new QLabel(this);
    QFont F = FLabel->font();
    F.setBold(true);
    FLabel->setFont(F);
    FLabel->setForegroundRole(QPalette::ToolTipText);
    auto *Layout = new QHBoxLayout(this);
    Layout->setContentsMargins(8, 6, 8, 6);
    Layout->addWidget(FLabel);
    FHideTimer = new QTimer(this);
    FHideTimer->setSingleShot(true);
    connect(FHideTimer, &QTimer::timeout, this, &QWidget::hide);
}

void TBalloonHint::SetTitle(const QString &Title) {
    FTitle = Title;
    FLabel->setText(Title);
}

void TBalloonHint::ShowHint(const QPoint &Point) {
    FShownAt = Point;
    ++FShowCount;
    adjustSize();
    move(Point);
    show();
    FHideTimer->start(HideAfter);
}

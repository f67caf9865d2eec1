// TGraphicSpeedButton: pictures, states, mouse tracking, group exclusivity and the action link.
#include "CompGraphicSpeedButton.h"

#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {
bool &ThemesFlag() {
    static bool themes = true;
    return themes;
}
} // namespace

void TGraphicSpeedButton::SetThemesEnabled(bool value) {
    ThemesFlag() = value;
}
bool TGraphicSpeedButton::ThemesEnabled() {
    return ThemesFlag();
}

TGraphicSpeedButton::TGraphicSpeedButton(QWidget *aOwner) : QAbstractButton(aOwner) {
    resize(22, 23);
    setFocusPolicy(Qt::NoFocus);
    setBackgroundRole(QPalette::Button);
    // Moves without a pressed button keep the flat look's hot state up to date; the style is told
    // about hovering through the state flags.
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, true);
}

TGraphicSpeedButton::~TGraphicSpeedButton() = default;

// ---- pictures ---------------------------------------------------------------------------

void TGraphicSpeedButton::SetGlyphUp(const QPixmap &value) {
    FGlyphUp = value;
    updateGeometry();
    update();
}

void TGraphicSpeedButton::SetGlyphDown(const QPixmap &value) {
    FGlyphDown = value;
    updateGeometry();
    update();
}

void TGraphicSpeedButton::SetGlyphDisabled(const QPixmap &value) {
    FGlyphDisabled = value;
    updateGeometry();
    update();
}

QPixmap TGraphicSpeedButton::Glyph() const {
    // No grey picture is made up: a disabled button without its own picture shows none.
    if (!isEnabled()) return FGlyphDisabled;
    return FDown ? FGlyphDown : FGlyphUp;
}

// ---- simple properties ------------------------------------------------------------------

void TGraphicSpeedButton::SetLayout(TButtonLayout value) {
    if (value == FLayout) return;
    FLayout = value;
    updateGeometry();
    update();
}

void TGraphicSpeedButton::SetSpacing(int value) {
    if (value == FSpacing) return;
    FSpacing = value;
    updateGeometry();
    update();
}

void TGraphicSpeedButton::SetMargin(int value) {
    // Only -1 (centred) and real distances mean something.
    if (value == FMargin || value < -1) return;
    FMargin = value;
    updateGeometry();
    update();
}

void TGraphicSpeedButton::SetTransparent(bool value) {
    if (value == FTransparent) return;
    FTransparent = value;
    update();
}

void TGraphicSpeedButton::SetFlat(bool value) {
    if (value == FFlat) return;
    FFlat = value;
    update();
}

// ---- down state and groups --------------------------------------------------------------

void TGraphicSpeedButton::SetDown(bool value) {
    if (FGroupIndex == 0) value = false;
    if (value == FDown) return;
    // A latched button of a group without AllowAllUp is released only by another member.
    if (FDown && !FAllowAllUp) return;
    FDown = value;
    if (value) {
        FState = bsExclusive;
        update();
        UpdateExclusive();
    } else {
        FState = bsUp;
        repaint();
    }
}

void TGraphicSpeedButton::SetGroupIndex(int value) {
    if (value == FGroupIndex) return;
    FGroupIndex = value;
    UpdateExclusive();
}

void TGraphicSpeedButton::SetAllowAllUp(bool value) {
    if (value == FAllowAllUp) return;
    FAllowAllUp = value;
    UpdateExclusive();
}

void TGraphicSpeedButton::UpdateExclusive() {
    if (FGroupIndex == 0 || !parentWidget()) return;
    const auto siblings = parentWidget()->findChildren<TGraphicSpeedButton *>(Qt::FindDirectChildrenOnly);
    for (TGraphicSpeedButton *button : siblings)
        button->ButtonPressed(FGroupIndex, this);
}

void TGraphicSpeedButton::ButtonPressed(int group, TGraphicSpeedButton *sender) {
    if (group != FGroupIndex) return;
    if (sender != this && sender->FDown && FDown) {
        FDown = false;
        FState = bsUp;
        if (QAction *action = Action(); action && action->isCheckable()) action->setChecked(false);
        update();
    }
    FAllowAllUp = sender->FAllowAllUp;
}

// ---- mouse ------------------------------------------------------------------------------

bool TGraphicSpeedButton::Inside(const QPoint &pos) const {
    return pos.x() >= 0 && pos.x() < width() && pos.y() >= 0 && pos.y() <= height();
}

bool TGraphicSpeedButton::hitButton(const QPoint &pos) const {
    return Inside(pos);
}

void TGraphicSpeedButton::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (!FDown) {
        FState = bsDown;
        update();
    }
    FDragging = true;
    emit pressed();
    event->accept();
}

void TGraphicSpeedButton::mouseMoveEvent(QMouseEvent *event) {
    const bool inside = Inside(event->position().toPoint());
    if (FDragging) {
        TButtonState state = bsUp;
        if (FDown)
            state = bsExclusive;
        else if (inside)
            state = bsDown;
        if (state != FState) {
            FState = state;
            update();
        }
    } else if (!FMouseInControl) {
        UpdateTracking(inside);
    }
    event->accept();
}

void TGraphicSpeedButton::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || !FDragging) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    FDragging = false;
    const bool inside = Inside(event->position().toPoint());
    if (FGroupIndex == 0) {
        FState = bsUp;
        FMouseInControl = false;
        update();
    } else if (inside) {
        SetDown(!FDown);
        if (FDown) repaint();
    } else {
        // Released outside: the press is cancelled, a latched button stays latched.
        FState = FDown ? bsExclusive : bsUp;
        update();
    }
    // A click handler may close and delete the window that holds this button.
    const QPointer<TGraphicSpeedButton> self(this);
    event->accept();
    emit released();
    if (self && inside) Click();
    if (self) UpdateTracking(inside);
}

void TGraphicSpeedButton::mouseDoubleClickEvent(QMouseEvent *event) {
    // The second press of a double click presses the button as the first one did.
    mousePressEvent(event);
    if (event->button() == Qt::LeftButton && FDown) emit DblClick();
}

void TGraphicSpeedButton::Click() {
    QPointer<TGraphicSpeedButton> self(this);
    emit clicked(false);
    if (self && FActionLink && FActionLink->Action()) FActionLink->Action()->trigger();
}

// ---- tracking and hot state -------------------------------------------------------------

void TGraphicSpeedButton::UpdateTracking(bool pointerInside) {
    if (!FFlat || !isEnabled()) return;
    if (pointerInside) {
        FMouseInControl = false;
        MouseEnter();
    } else {
        FMouseInControl = true;
        MouseLeave();
    }
    FMouseInControl = pointerInside;
    update();
}

void TGraphicSpeedButton::MouseEnter() {
    const bool flatEnter = FFlat && !FMouseInControl && isEnabled() && !FDragging && !QWidget::mouseGrabber();
    if (flatEnter || ThemesEnabled()) {
        FMouseInControl = true;
        if (isEnabled()) update();
    }
}

void TGraphicSpeedButton::MouseLeave() {
    const bool flatLeave = FFlat && FMouseInControl && isEnabled() && !FDragging;
    if (flatLeave || ThemesEnabled()) {
        FMouseInControl = false;
        if (isEnabled()) update();
    }
}

void TGraphicSpeedButton::enterEvent(QEnterEvent *event) {
    QAbstractButton::enterEvent(event);
    MouseEnter();
}

void TGraphicSpeedButton::leaveEvent(QEvent *event) {
    QAbstractButton::leaveEvent(event);
    MouseLeave();
}

void TGraphicSpeedButton::changeEvent(QEvent *event) {
    QAbstractButton::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        UpdateTracking(underMouse());
        FixState();
        update();
        break;
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::LayoutDirectionChange:
        updateGeometry();
        update();
        break;
    default:
        break;
    }
}

void TGraphicSpeedButton::FixState() {
    if (!isEnabled()) {
        FState = bsDisabled;
        FDragging = false;
    } else if (FState == bsDisabled) {
        FState = FDown && FGroupIndex != 0 ? bsExclusive : bsUp;
    }
}

bool TGraphicSpeedButton::event(QEvent *event) {
    if (event->type() == QEvent::Shortcut) {
        // The caption's marked character clicks a usable button; otherwise it goes on.
        if (isEnabled() && isVisible() && (!parentWidget() || parentWidget()->isVisible())) {
            Click();
            return true;
        }
        event->ignore();
        return false;
    }
    return QAbstractButton::event(event);
}

// ---- action link ------------------------------------------------------------------------

QAction *TGraphicSpeedButton::Action() const {
    return FActionLink ? FActionLink->Action() : nullptr;
}

void TGraphicSpeedButton::SetAction(QAction *value) {
    if (value == Action()) return;
    delete FActionLink;
    FActionLink = nullptr;
    if (!value) return;
    FActionLink = new TGraphicSpeedButtonActionLink(this, value);
    ActionChange(true);
}

void TGraphicSpeedButton::ActionChange(bool checkDefaults) {
    QAction *action = Action();
    if (!action) return;
    // On assignment only what still has its default is taken over; later changes always are.
    if (!checkDefaults || text().isEmpty()) setText(action->text());
    if (!checkDefaults || toolTip().isEmpty()) setToolTip(action->toolTip());
    if (!checkDefaults || isEnabled()) setEnabled(action->isEnabled());
    if (!checkDefaults || !isHidden()) setVisible(action->isVisible());
    if (action->isCheckable() && (checkDefaults || FGroupIndex == 0))
        SetGroupIndex(TGraphicSpeedButtonActionLink::ActionGroupIndex(action));
}

TGraphicSpeedButtonActionLink::TGraphicSpeedButtonActionLink(TGraphicSpeedButton *client, QAction *action)
    : QObject(client), FClient(client), FAction(action) {
    FLastChecked = action->isChecked();
    FLastImageIndex = ActionImageIndex(action);
    action->installEventFilter(this);
    connect(action, &QAction::changed, this, &TGraphicSpeedButtonActionLink::ActionChanged);
    connect(action, &QObject::destroyed, client, [client] {
        delete client->FActionLink;
        client->FActionLink = nullptr;
    });
}

int TGraphicSpeedButtonActionLink::ActionGroupIndex(const QAction *action) {
    return action ? action->property(GroupIndexProperty).toInt() : 0;
}

int TGraphicSpeedButtonActionLink::ActionImageIndex(const QAction *action) {
    const QVariant v = action ? action->property(ImageIndexProperty) : QVariant();
    return v.isValid() ? v.toInt() : -1;
}

bool TGraphicSpeedButtonActionLink::IsCheckedLinked() const {
    return FAction && FClient->GroupIndex() != 0 && FClient->AllowAllUp();
}

bool TGraphicSpeedButtonActionLink::IsGroupIndexLinked() const {
    return FAction && FAction->isCheckable();
}

bool TGraphicSpeedButtonActionLink::IsImageIndexLinked() const {
    // The action's index before its change must be the one this link last took over.
    return FAction && FLastImageIndex == FImageIndex;
}

void TGraphicSpeedButtonActionLink::SetChecked(bool value) {
    if (IsCheckedLinked()) FClient->SetDown(value);
}

void TGraphicSpeedButtonActionLink::SetGroupIndex(int value) {
    if (IsGroupIndexLinked() && ActionGroupIndex(FAction) == value) FClient->SetGroupIndex(value);
}

void TGraphicSpeedButtonActionLink::SetImageIndex(int value) {
    if (!IsImageIndexLinked()) return;
    FImageIndex = value;
    const QList<QPixmap> images = FAction->property(ImagesProperty).value<QList<QPixmap>>();
    if (images.isEmpty() || value < 0 || value >= images.size()) return;
    const QSize size = images.first().deviceIndependentSize().toSize();
    // Magenta is the colour key of list images: filled first, it stays transparent afterwards.
    const QColor key(255, 0, 255);
    QPixmap glyph(size);
    glyph.fill(key);
    {
        QPainter p(&glyph);
        p.drawPixmap(0, 0, images.at(value));
    }
    glyph.setMask(glyph.createMaskFromColor(key, Qt::MaskInColor));
    FClient->SetGlyphUp(glyph);
}

void TGraphicSpeedButtonActionLink::ActionChanged() {
    if (!FAction) return;
    const bool checked = FAction->isChecked();
    if (checked != FLastChecked) {
        FLastChecked = checked;
        SetChecked(checked);
    }
    FClient->ActionChange(false);
}

bool TGraphicSpeedButtonActionLink::eventFilter(QObject *watched, QEvent *event) {
    if (watched == FAction && event->type() == QEvent::DynamicPropertyChange) {
        const QByteArray name = static_cast<QDynamicPropertyChangeEvent *>(event)->propertyName();
        if (name == GroupIndexProperty) {
            SetGroupIndex(ActionGroupIndex(FAction));
        } else if (name == ImageIndexProperty) {
            const int index = ActionImageIndex(FAction);
            SetImageIndex(index);
            FLastImageIndex = index;
        }
    }
    return QObject::eventFilter(watched, event);
}

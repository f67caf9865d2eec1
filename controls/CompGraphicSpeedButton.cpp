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

void TGraphicSpeedButton::SetThemesEnabled(bool Value) {
    ThemesFlag() = Value;
}
bool TGraphicSpeedButton::ThemesEnabled() {
    return ThemesFlag();
}

TGraphicSpeedButton::TGraphicSpeedButton(QWidget *AOwner) : QAbstractButton(AOwner) {
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

void TGraphicSpeedButton::SetGlyphUp(const QPixmap &Value) {
    FGlyphUp = Value;
    updateGeometry();
    update();
}

void TGraphicSpeedButton::SetGlyphDown(const QPixmap &Value) {
    FGlyphDown = Value;
    updateGeometry();
    update();
}

void TGraphicSpeedButton::SetGlyphDisabled(const QPixmap &Value) {
    FGlyphDisabled = Value;
    updateGeometry();
    update();
}

QPixmap TGraphicSpeedButton::Glyph() const {
    // No grey picture is made up: a disabled button without its own picture shows none.
    if (!isEnabled()) return FGlyphDisabled;
    return FDown ? FGlyphDown : FGlyphUp;
}

// ---- simple properties ------------------------------------------------------------------

void TGraphicSpeedButton::SetLayout(TButtonLayout Value) {
    if (Value == FLayout) return;
    FLayout = Value;
    updateGeometry();
    update();
}

void TGraphicSpeedButton::SetSpacing(int Value) {
    if (Value == FSpacing) return;
    FSpacing = Value;
    updateGeometry();
    update();
}

void TGraphicSpeedButton::SetMargin(int Value) {
    // Only -1 (centred) and real distances mean something.
    if (Value == FMargin || Value < -1) return;
    FMargin = Value;
    updateGeometry();
    update();
}

void TGraphicSpeedButton::SetTransparent(bool Value) {
    if (Value == FTransparent) return;
    FTransparent = Value;
    update();
}

void TGraphicSpeedButton::SetFlat(bool Value) {
    if (Value == FFlat) return;
    FFlat = Value;
    update();
}

// ---- down state and groups --------------------------------------------------------------

void TGraphicSpeedButton::SetDown(bool Value) {
    if (FGroupIndex == 0) Value = false;
    if (Value == FDown) return;
    // A latched button of a group without AllowAllUp is released only by another member.
    if (FDown && !FAllowAllUp) return;
    FDown = Value;
    if (Value) {
        FState = bsExclusive;
        update();
        UpdateExclusive();
    } else {
        FState = bsUp;
        repaint();
    }
}

void TGraphicSpeedButton::SetGroupIndex(int Value) {
    if (Value == FGroupIndex) return;
    FGroupIndex = Value;
    UpdateExclusive();
}

void TGraphicSpeedButton::SetAllowAllUp(bool Value) {
    if (Value == FAllowAllUp) return;
    FAllowAllUp = Value;
    UpdateExclusive();
}

void TGraphicSpeedButton::UpdateExclusive() {
    if (FGroupIndex == 0 || !parentWidget()) return;
    const auto siblings = parentWidget()->findChildren<TGraphicSpeedButton *>(Qt::FindDirectChildrenOnly);
    for (TGraphicSpeedButton *button : siblings)
        button->ButtonPressed(FGroupIndex, this);
}

void TGraphicSpeedButton::ButtonPressed(int Group, TGraphicSpeedButton *Sender) {
    if (Group != FGroupIndex) return;
    if (Sender != this && Sender->FDown && FDown) {
        FDown = false;
        FState = bsUp;
        if (QAction *action = Action(); action && action->isCheckable()) action->setChecked(false);
        update();
    }
    FAllowAllUp = Sender->FAllowAllUp;
}

// ---- mouse ------------------------------------------------------------------------------

bool TGraphicSpeedButton::Inside(const QPoint &Pos) const {
    return Pos.x() >= 0 && Pos.x() < width() && Pos.y() >= 0 && Pos.y() <= height();
}

bool TGraphicSpeedButton::hitButton(const QPoint &Pos) const {
    return Inside(Pos);
}

void TGraphicSpeedButton::mousePressEvent(QMouseEvent *Event) {
    if (Event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(Event);
        return;
    }
    if (!FDown) {
        FState = bsDown;
        update();
    }
    FDragging = true;
    emit pressed();
    Event->accept();
}

void TGraphicSpeedButton::mouseMoveEvent(QMouseEvent *Event) {
    const bool inside = Inside(Event->position().toPoint());
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
    Event->accept();
}

void TGraphicSpeedButton::mouseReleaseEvent(QMouseEvent *Event) {
    if (Event->button() != Qt::LeftButton || !FDragging) {
        QWidget::mouseReleaseEvent(Event);
        return;
    }
    FDragging = false;
    const bool inside = Inside(Event->position().toPoint());
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
    Event->accept();
    emit released();
    if (self && inside) Click();
    if (self) UpdateTracking(inside);
}

void TGraphicSpeedButton::mouseDoubleClickEvent(QMouseEvent *Event) {
    // The second press of a double click presses the button as the first one did.
    mousePressEvent(Event);
    if (Event->button() == Qt::LeftButton && FDown) emit DblClick();
}

void TGraphicSpeedButton::Click() {
    QPointer<TGraphicSpeedButton> self(this);
    emit clicked(false);
    if (self && FActionLink && FActionLink->Action()) FActionLink->Action()->trigger();
}

// ---- tracking and hot state -------------------------------------------------------------

void TGraphicSpeedButton::UpdateTracking(bool PointerInside) {
    if (!FFlat || !isEnabled()) return;
    if (PointerInside) {
        FMouseInControl = false;
        MouseEnter();
    } else {
        FMouseInControl = true;
        MouseLeave();
    }
    FMouseInControl = PointerInside;
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

void TGraphicSpeedButton::enterEvent(QEnterEvent *Event) {
    QAbstractButton::enterEvent(Event);
    MouseEnter();
}

void TGraphicSpeedButton::leaveEvent(QEvent *Event) {
    QAbstractButton::leaveEvent(Event);
    MouseLeave();
}

void TGraphicSpeedButton::changeEvent(QEvent *Event) {
    QAbstractButton::changeEvent(Event);
    switch (Event->type()) {
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

bool TGraphicSpeedButton::event(QEvent *Event) {
    if (Event->type() == QEvent::Shortcut) {
        // The caption's marked character clicks a usable button; otherwise it goes on.
        if (isEnabled() && isVisible() && (!parentWidget() || parentWidget()->isVisible())) {
            Click();
            return true;
        }
        Event->ignore();
        return false;
    }
    return QAbstractButton::event(Event);
}

// ---- action link ------------------------------------------------------------------------

QAction *TGraphicSpeedButton::Action() const {
    return FActionLink ? FActionLink->Action() : nullptr;
}

void TGraphicSpeedButton::SetAction(QAction *Value) {
    if (Value == Action()) return;
    delete FActionLink;
    FActionLink = nullptr;
    if (!Value) return;
    FActionLink = new TGraphicSpeedButtonActionLink(this, Value);
    ActionChange(true);
}

void TGraphicSpeedButton::ActionChange(bool CheckDefaults) {
    QAction *action = Action();
    if (!action) return;
    // On assignment only what still has its default is taken over; later changes always are.
    if (!CheckDefaults || text().isEmpty()) setText(action->text());
    if (!CheckDefaults || toolTip().isEmpty()) setToolTip(action->toolTip());
    if (!CheckDefaults || isEnabled()) setEnabled(action->isEnabled());
    if (!CheckDefaults || !isHidden()) setVisible(action->isVisible());
    if (action->isCheckable() && (CheckDefaults || FGroupIndex == 0))
        SetGroupIndex(TGraphicSpeedButtonActionLink::ActionGroupIndex(action));
}

TGraphicSpeedButtonActionLink::TGraphicSpeedButtonActionLink(TGraphicSpeedButton *Client, QAction *Action)
    : QObject(Client), FClient(Client), FAction(Action) {
    FLastChecked = Action->isChecked();
    FLastImageIndex = ActionImageIndex(Action);
    Action->installEventFilter(this);
    connect(Action, &QAction::changed, this, &TGraphicSpeedButtonActionLink::ActionChanged);
    connect(Action, &QObject::destroyed, Client, [Client] {
        delete Client->FActionLink;
        Client->FActionLink = nullptr;
    });
}

int TGraphicSpeedButtonActionLink::ActionGroupIndex(const QAction *Action) {
    return Action ? Action->property(GroupIndexProperty).toInt() : 0;
}

int TGraphicSpeedButtonActionLink::ActionImageIndex(const QAction *Action) {
    const QVariant v = Action ? Action->property(ImageIndexProperty) : QVariant();
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

void TGraphicSpeedButtonActionLink::SetChecked(bool Value) {
    if (IsCheckedLinked()) FClient->SetDown(Value);
}

void TGraphicSpeedButtonActionLink::SetGroupIndex(int Value) {
    if (IsGroupIndexLinked() && ActionGroupIndex(FAction) == Value) FClient->SetGroupIndex(Value);
}

void TGraphicSpeedButtonActionLink::SetImageIndex(int Value) {
    if (!IsImageIndexLinked()) return;
    FImageIndex = Value;
    const QList<QPixmap> images = FAction->property(ImagesProperty).value<QList<QPixmap>>();
    if (images.isEmpty() || Value < 0 || Value >= images.size()) return;
    const QSize size = images.first().deviceIndependentSize().toSize();
    // Magenta is the colour key of list images: filled first, it stays transparent afterwards.
    const QColor key(255, 0, 255);
    QPixmap glyph(size);
    glyph.fill(key);
    {
        QPainter p(&glyph);
        p.drawPixmap(0, 0, images.at(Value));
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

bool TGraphicSpeedButtonActionLink::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == FAction && Event->type() == QEvent::DynamicPropertyChange) {
        const QByteArray name = static_cast<QDynamicPropertyChangeEvent *>(Event)->propertyName();
        if (name == GroupIndexProperty) {
            SetGroupIndex(ActionGroupIndex(FAction));
        } else if (name == ImageIndexProperty) {
            const int index = ActionImageIndex(FAction);
            SetImageIndex(index);
            FLastImageIndex = index;
        }
    }
    return QObject::eventFilter(Watched, Event);
}

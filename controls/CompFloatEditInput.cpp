// TFloatEdit: validation with its questions, text correction, keys, wheel, leaving the field and
// copying the settings to another edit.
#include "CompFloatEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <exception>

using namespace CompFloatEditText;

namespace {
// Sends the notification and then clears the validation flag however the validation ends; a
// notification that fails while another error is already leaving is dropped. The handler is
// called through a copy, so it may replace itself, and a field deleted meanwhile is left alone.
class TValidateScope {
public:
    TValidateScope(TFloatEdit *edit, bool &flag, const TFloatEdit::TNotifyEvent &notify)
        : FEdit(edit), FFlag(flag), FNotify(notify), FUncaught(std::uncaught_exceptions()) {
        FFlag = true;
    }
    ~TValidateScope() noexcept(false) {
        const QPointer<TFloatEdit> edit = FEdit;
        struct TReset {
            const QPointer<TFloatEdit> &Edit;
            bool &Flag;
            ~TReset() {
                if (Edit) Flag = false;
            }
        } reset{edit, FFlag};
        if (!edit || !FNotify) return;
        const TFloatEdit::TNotifyEvent notify = FNotify;
        if (std::uncaught_exceptions() > FUncaught) {
            try {
                notify(FEdit);
            } catch (...) {
            }
            return;
        }
        notify(FEdit);
    }
    TValidateScope(const TValidateScope &) = delete;
    TValidateScope &operator=(const TValidateScope &) = delete;

private:
    QPointer<TFloatEdit> FEdit;
    bool &FFlag;
    const TFloatEdit::TNotifyEvent &FNotify;
    int FUncaught;
};

const QString kRetry = QStringLiteral("Исправить значение?");
} // namespace

// ---- validation -------------------------------------------------------------------------

int TFloatEdit::doValidate() {
    return Validate(FAutoCorretion, FAutoCorretionAsk);
}

int TFloatEdit::Validate(bool autoCorrect, bool autoCorrectAsk) {
    if (PasswordSet()) return 0;
    int result = 0;
    TValidateScope scope(this, ValidatingFlag, OnValidate);

    const QString parseQuestion =
        QStringLiteral("Неверное значение в поле ввода ") + FFieldName + QLatin1Char('\r') + kRetry;
    auto rangeQuestion = [this](const QString &min, const QString &max) {
        return QStringLiteral("Значение в поле ввода ") + FFieldName +
               QStringLiteral(" должно находиться в диапазоне от ") + min + QStringLiteral(" до ") + max +
               QLatin1Char('\r') + kRetry;
    };

    if (FIntegerMode) {
        qint64 v = ValueInt();
        // An allowed empty text is no parse error, whatever an earlier read left behind.
        if (EmptyAllowedAndEmpty()) FErrorPos = 0;
        if (FErrorPos > 0 && autoCorrect) {
            v = TruncToInt64(CorrectText());
            SetValueInt(v);
            FErrorPos = 0;
        }
        if (FErrorPos > 0) {
            setCursorPosition(std::min<int>(FErrorPos, int(text().size())));
            deselect();
            if (autoCorrectAsk && Ask(parseQuestion)) {
                v = TruncToInt64(CorrectText());
                SetValueInt(v);
                FErrorPos = 0;
                result = 0;
            } else {
                result = FErrorPos;
            }
        } else if (v < FMinValueInt || v > FMaxValueInt) {
            result = -1;
            const QString question =
                rangeQuestion(QString::number(FMinValueInt), QString::number(FMaxValueInt));
            if (autoCorrect || (autoCorrectAsk && Ask(question))) {
                SetValueInt(v < FMinValueInt ? FMinValueInt : FMaxValueInt);
                result = 0;
            }
            selectAll();
        }
    } else {
        // Held at full precision: a double would put a typed maximum such as 0.1 above the
        // extended bound and report it as out of range.
        long double v = ValueFloat();
        if (EmptyAllowedAndEmpty()) FErrorPos = 0;
        if (FErrorPos > 0 && autoCorrect) {
            v = CorrectText();
            SetValueFloat(v);
            FErrorPos = 0;
        }
        if (FErrorPos > 0) {
            setCursorPosition(std::min<int>(FErrorPos, int(text().size())));
            deselect();
            if (autoCorrectAsk && Ask(parseQuestion)) {
                v = CorrectText();
                SetValueFloat(v);
                FErrorPos = 0;
                result = 0;
            } else {
                result = FErrorPos;
            }
        } else if (v < FMinValueFloat || !(v <= FMaxValueFloat)) {
            result = -1;
            const QString question = rangeQuestion(FormatFloat(FMinValueFloat), FormatFloat(FMaxValueFloat));
            if (autoCorrect || (autoCorrectAsk && Ask(question))) {
                SetValueFloat(v < FMinValueFloat ? FMinValueFloat : FMaxValueFloat);
                result = 0;
            }
            selectAll();
        }
    }
    return result;
}

// ---- text correction --------------------------------------------------------------------

bool TFloatEdit::CharAllowed(QChar ch) const {
    return CompFloatEditText::CharAllowed(ch, FIntegerMode);
}

long double TFloatEdit::CorrectText() {
    const QString original = text();
    if (original.isEmpty()) return 0;
    const QString result = CleanText(original, FIntegerMode);
    setText(result);
    // Even when nothing was removed the stored value must follow the text again, or a value
    // equal to the last failed reading would leave the unreadable text in place as valid.
    FValueSynchronized = false;

    long double v = 0;
    int pos = 0;
    if (!ReadFloat(result, v, pos))
        v = FIntegerMode ? static_cast<long double>(FMinValueInt) : FMinValueFloat;
    if (FIntegerMode) {
        const qint64 n = std::min(std::max(TruncToInt64(v), FMinValueInt), FMaxValueInt);
        return static_cast<long double>(n);
    }
    return std::min(std::max(v, FMinValueFloat), FMaxValueFloat);
}

// ---- keys, characters and wheel ---------------------------------------------------------

void TFloatEdit::keyPressEvent(QKeyEvent *event) {
    const int key = event->key();
    if (!isReadOnly() && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        if (Validate(FAutoCorretion, FAutoCorretionAsk) > 0) {
            event->accept();
            return;
        }
        EndUserEdit(true);
    }
    if (!isReadOnly() && key == Qt::Key_Escape && IsUserEditing()) {
        EndUserEdit(false);
        event->accept();
        return;
    }
    // Typed characters: only what a number of this mode can hold. Control characters are editing
    // keys, not characters, and pass: Backspace comes as "\b", and on X11 Delete as "\x7f".
    const QString typed = event->text();
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    auto isControl = [](QChar c) { return c.category() == QChar::Other_Control; };
    if (!command && !std::all_of(typed.cbegin(), typed.cend(), isControl)) {
        bool allowed = !isReadOnly();
        for (QChar c : typed)
            allowed = allowed && (isControl(c) || CharAllowed(c));
        if (!allowed) {
            event->accept();
            return;
        }
        const QString lower = typed.toLower();
        if (lower != typed) {
            QKeyEvent lowered(event->type(), key, event->modifiers(), lower, event->isAutoRepeat(),
                              ushort(event->count()));
            QLineEdit::keyPressEvent(&lowered);
            event->setAccepted(lowered.isAccepted());
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
    if (isReadOnly()) return;
    const bool small = event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier);
    switch (key) {
    case Qt::Key_PageUp:
        IncrementValue(+1, 2);
        break;
    case Qt::Key_PageDown:
        IncrementValue(-1, 2);
        break;
    case Qt::Key_Up:
        IncrementValue(+1, small ? 0 : 1);
        break;
    case Qt::Key_Down:
        IncrementValue(-1, small ? 0 : 1);
        break;
    default:
        return;
    }
    event->accept();
}

void TFloatEdit::wheelEvent(QWheelEvent *event) {
    QLineEdit::wheelEvent(event);
    if (event->isAccepted()) return;
    const int delta = event->angleDelta().y();
    bool handled = false;
    if (OnMouseWheel) OnMouseWheel(this, event, handled);
    if (!handled && delta < 0 && OnMouseWheelDown) OnMouseWheelDown(this, event, handled);
    if (!handled && delta > 0 && OnMouseWheelUp) OnMouseWheelUp(this, event, handled);
    if (handled) {
        event->accept();
        return;
    }
    const QPointF p = event->position();
    if (!(p.x() >= 0 && p.x() <= width() && p.y() >= 0 && p.y() < height())) return;
    // One step per notch; a fine-grained wheel collects its parts until a notch is complete.
    FWheelRemainder += delta;
    const int notches = FWheelRemainder / QWheelEvent::DefaultDeltasPerStep;
    FWheelRemainder -= notches * QWheelEvent::DefaultDeltasPerStep;
    for (int i = 0; i < std::abs(notches); ++i)
        IncrementValue(notches > 0 ? +1 : -1, false);
    event->accept();
}

// ---- values from outside while the user edits ------------------------------------------

bool TFloatEdit::IsUserEditing() const {
    return FUserEdit && text() != FShownText;
}

bool TFloatEdit::ShowUnlessEditing(std::function<void()> show) {
    if (IsUserEditing()) {
        FHeldShow = std::move(show);
        return false;
    }
    FHeldShow = nullptr;
    if (show) show();
    return true;
}

void TFloatEdit::EndUserEdit(bool committed) {
    FUserEdit = false;
    const std::function<void()> held = std::move(FHeldShow);
    FHeldShow = nullptr;
    if (committed) return;
    // Back to what was shown before the edit, so that the kept value is shown even when it
    // equals a value read from the typed text meanwhile.
    {
        const QSignalBlocker blocker(this);
        setText(FShownText);
    }
    FValueSynchronized = false;
    FTextChanged = false;
    if (held) held();
}

// ---- leaving the field ------------------------------------------------------------------

void TFloatEdit::focusOutEvent(QFocusEvent *event) {
    QLineEdit::focusOutEvent(event);
    // Switching to another window or opening a pop-up menu does not leave the field; a running
    // validation (its question is open) must not start a second one.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason ||
        ValidatingFlag)
        return;
    // Leaving an edit while a value from outside waits shows that value: the typed text was never
    // committed. Otherwise the typed text is validated as always.
    if (IsUserEditing() && FHeldShow) {
        EndUserEdit(false);
        return;
    }
    FUserEdit = false;
    const int r = Validate(FAutoCorretion, FAutoCorretionAsk);
    if (!FSoftValidate && r != 0) {
        setFocus(Qt::OtherFocusReason);
        if (r > 0) {
            setCursorPosition(std::min<int>(r - 1, int(text().size())));
            deselect();
        }
    }
}

// ---- copying settings -------------------------------------------------------------------

void TFloatEdit::AssignTo(QLineEdit *dest) {
    if (!dest || dest == this) return;
    dest->setToolTip(toolTip());
    dest->setMinimumSize(minimumSize());
    dest->setMaximumSize(maximumSize());
    dest->setFont(font());
    dest->setGeometry(geometry());
    dest->setText(text());
    dest->setContextMenuPolicy(contextMenuPolicy());
    dest->setReadOnly(isReadOnly());
    dest->setVisible(isVisibleTo(parentWidget()));
    dest->setAlignment(alignment());
    auto *edit = qobject_cast<TFloatEdit *>(dest);
    if (!edit) return;
    edit->SetMaxValueFloat(FMaxValueFloat);
    edit->SetMinValueFloat(FMinValueFloat);
    edit->SetMaxValueInt(FMaxValueInt);
    edit->SetMinValueInt(FMinValueInt);
    edit->SetPrecision(FPrecision);
    edit->SetDigits(FDigits);
    edit->SetIntegerMode(FIntegerMode);
    edit->SetEnableEmpty(FEnableEmpty);
    edit->SetIncrementSM(FIncrementSM);
    edit->SetIncrement(FIncrement);
    edit->SetIncrementPg(FIncrementPg);
    edit->FFieldName = FFieldName;
    edit->FAutoCorretion = FAutoCorretion;
    edit->OnValidate = OnValidate;
    edit->OnMouseWheel = OnMouseWheel;
    edit->OnMouseWheelDown = OnMouseWheelDown;
    edit->OnMouseWheelUp = OnMouseWheelUp;
    if (edit->FIntegerMode)
        edit->SetValueInt(ValueInt());
    else
        edit->SetValueFloat(ValueFloat());
}

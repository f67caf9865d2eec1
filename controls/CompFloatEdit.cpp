// TFloatEdit: construction, the stored value and its display, ranges and settings.
#include "CompFloatEdit.h"

#include <QEvent>
#include <QLocale>
#include <QMessageBox>
#include <QSignalBlocker>
#include <cmath>
#include <limits>
#include <stdexcept>

using namespace CompFloatEditText;

namespace {
bool DefaultQuestion(QWidget *parent, const QString &caption, const QString &text) {
    // The composed text separates its lines with a carriage return; the box breaks on a newline.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return QMessageBox::warning(parent, caption, shown, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::Yes) == QMessageBox::Yes;
}

TFloatEdit::TQuestionHandler &QuestionHandler() {
    static TFloatEdit::TQuestionHandler handler;
    return handler;
}

qint64 SaturatingAdd(qint64 a, qint64 b) {
    qint64 r = 0;
    if (__builtin_add_overflow(a, b, &r))
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return r;
}
} // namespace

TFloatEdit::TFloatEdit(QWidget *aOwner) : QLineEdit(aOwner) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // First connection, so the flags are up to date before any user handler of textChanged runs.
    connect(this, &QLineEdit::textChanged, this, &TFloatEdit::OnTextEdited);
    // Only the user's own changes (typing, pasting, undo) start an edit; setText does not.
    connect(this, &QLineEdit::textEdited, this, [this] { FUserEdit = true; });
    SetPrecisionDigits(10, 2);
    ShowValue();
}

TFloatEdit::~TFloatEdit() = default;

TFloatEdit::TQuestionHandler TFloatEdit::SetQuestionHandler(TQuestionHandler handler) {
    TQuestionHandler previous = QuestionHandler();
    QuestionHandler() = std::move(handler);
    return previous;
}

const QString &TFloatEdit::QuestionCaption() {
    static const QString caption = QStringLiteral("Неверное значение");
    return caption;
}

bool TFloatEdit::Ask(const QString &text) {
    const TQuestionHandler &handler = QuestionHandler();
    if (handler) return handler(this, QuestionCaption(), text);
    return DefaultQuestion(this, QuestionCaption(), text);
}

void TFloatEdit::OnTextEdited() {
    FValueSynchronized = false;
    FTextChanged = true;
}

bool TFloatEdit::PasswordSet() const {
    return echoMode() != QLineEdit::Normal;
}

bool TFloatEdit::EmptyAllowedAndEmpty() const {
    return FEnableEmpty && text().isEmpty();
}

// ---- reading the value ------------------------------------------------------------------

long double TFloatEdit::ReadTextFloat() {
    QString s = text();
    s.replace(QLatin1Char(','), QLatin1Char('.'));
    long double v = 0;
    int pos = 0;
    if (!ReadFloat(s, v, pos)) v = 0;
    FErrorPos = pos;
    return v;
}

long double TFloatEdit::ValueFloat() {
    if (PasswordSet()) FValueSynchronized = true;
    if (FValueSynchronized) return FValueFloat;
    long double v = 0;
    if (!EmptyAllowedAndEmpty()) v = ReadTextFloat();
    FValueFloat = v;
    FValueInt = TruncToInt64(v);
    FValueSynchronized = true;
    return v;
}

qint64 TFloatEdit::ValueInt() {
    if (PasswordSet()) FValueSynchronized = true;
    if (FValueSynchronized) return FValueInt;
    if (!FIntegerMode && !EmptyAllowedAndEmpty()) {
        // In float mode the integer is the float reading truncated, so reading the integer
        // never loses the fraction of the float value that the text holds.
        return TruncToInt64(ValueFloat());
    }
    qint64 v = 0;
    if (!EmptyAllowedAndEmpty()) {
        int pos = 0;
        if (!ReadInt(text(), v, pos)) {
            // '12.5' reads as 12; the error position stays the integer reader's unless the
            // text is no number at all.
            v = TruncToInt64(ReadTextFloat());
            if (FErrorPos != 0) pos = FErrorPos;
        }
        FErrorPos = pos;
    }
    FValueInt = v;
    FValueFloat = static_cast<long double>(v);
    FValueSynchronized = true;
    return v;
}

QVariant TFloatEdit::ValueVar() {
    if (EmptyAllowedAndEmpty()) return QVariant();
    if (FIntegerMode) return QVariant(static_cast<qlonglong>(ValueInt()));
    return QVariant(static_cast<double>(ValueFloat()));
}

// ---- writing the value ------------------------------------------------------------------

void TFloatEdit::SetValueFloat(long double value) {
    if (std::isnan(value)) {
        SetValueVar(QVariant());
        return;
    }
    try {
        if (FIntegerMode) {
            SetValueInt(TruncToInt64(value));
            return;
        }
        const long double x = std::min(std::max(value, FMinValueFloat), FMaxValueFloat);
        // A write that would not change what is shown leaves the text alone, but only while the
        // stored value is inside the range: a typed value just outside it must still become the bound.
        const bool storedInRange = FValueFloat >= FMinValueFloat && FValueFloat <= FMaxValueFloat;
        if (FValueSynchronized && storedInRange && std::fabs(FValueFloat - x) < FValueFloatComp) return;
        FValueFloat = x;
        FValueInt = TruncToInt64(x);
        ShowValue();
    } catch (const std::exception &) {
        if (FIntegerMode) {
            SetValueInt(TruncToInt64(FValueDefaultFloat));
        } else {
            FValueFloat = FValueDefaultFloat;
            FValueInt = TruncToInt64(FValueDefaultFloat);
            ShowValue();
        }
    }
}

void TFloatEdit::SetValueInt(qint64 value) {
    if (!FIntegerMode) {
        SetValueFloat(static_cast<long double>(value));
        return;
    }
    try {
        const qint64 n = std::min(std::max(value, FMinValueInt), FMaxValueInt);
        if (FValueSynchronized && FValueInt == n) return;
        FValueInt = n;
        FValueFloat = static_cast<long double>(n);
        ShowValue();
    } catch (const std::exception &) {
        FValueInt = FValueDefaultInt;
        FValueFloat = static_cast<long double>(FValueDefaultInt);
        ShowValue();
    }
}

void TFloatEdit::SetValueVar(const QVariant &value) {
    bool ok = value.isValid() && !value.isNull();
    qint64 n = 0;
    double f = 0;
    if (ok) {
        if (FIntegerMode)
            n = value.toLongLong(&ok);
        else
            f = value.toDouble(&ok);
    }
    if (!ok) {
        if (FEnableEmpty) {
            setText(QString());
            MarkShown();
        } else if (FIntegerMode)
            SetValueInt(FValueDefaultInt);
        else
            SetValueFloat(FValueDefaultFloat);
        return;
    }
    if (FIntegerMode)
        SetValueInt(n);
    else
        SetValueFloat(static_cast<long double>(f));
}

// ---- display ----------------------------------------------------------------------------

QString TFloatEdit::FormatFloat(long double value) const {
    QString s = FormatFixed(value, FPrecision, FDigits);
    const QString point = QLocale().decimalPoint();
    if (point != QLatin1String(".")) s.replace(QLatin1Char('.'), point);
    return s;
}

void TFloatEdit::ShowValue() {
    QString s;
    if (PasswordSet())
        s = QStringLiteral("----");
    else if (FIntegerMode)
        s = QString::number(FValueInt);
    else
        s = FormatFloat(FValueFloat);
    {
        const QSignalBlocker blocker(this);
        // The display is in lower case (an exponent shows as "e").
        setText(s.toLower());
    }
    FValueSynchronized = true;
    FTextChanged = false;
    MarkShown();
}

void TFloatEdit::MarkShown() {
    FShownText = text();
    FUserEdit = false;
    FHeldShow = nullptr;
}

void TFloatEdit::SetPrecisionDigits(int aPrecision, int aDigits) {
    if (aPrecision == FPrecision && aDigits == FDigits) return;
    FDigits = std::abs(aDigits);
    FPrecision = std::abs(aPrecision);
    const long double scale = std::pow(10.0L, static_cast<long double>(FDigits));
    FValueFloatComp = std::isfinite(scale) ? 1.0L / scale / 2.0L : 0.5L;
    if (!FIntegerMode) ShowValue();
}

// ---- ranges and defaults ----------------------------------------------------------------

void TFloatEdit::SetMaxValueFloat(long double value) {
    FMaxValueFloat = value;
    if (!(FMaxValueFloat > FMinValueFloat)) FMaxValueFloat = FMinValueFloat + 1;
    const long double v = ValueFloat();
    if (!(v <= FMaxValueFloat)) SetValueFloat(FMaxValueFloat);
    if (FValueDefaultFloat > FMaxValueFloat) FValueDefaultFloat = FMaxValueFloat;
}

void TFloatEdit::SetMinValueFloat(long double value) {
    FMinValueFloat = value;
    if (!(FMinValueFloat < FMaxValueFloat)) FMinValueFloat = FMaxValueFloat - 1;
    const long double v = ValueFloat();
    if (!(v >= FMinValueFloat)) SetValueFloat(FMinValueFloat);
    if (FValueDefaultFloat < FMinValueFloat) FValueDefaultFloat = FMinValueFloat;
}

void TFloatEdit::SetMaxValueInt(qint64 value) {
    FMaxValueInt = value;
    if (FMaxValueInt <= FMinValueInt) {
        // At the top of the 64-bit range the minimum gives way instead.
        if (FMinValueInt == std::numeric_limits<qint64>::max()) FMinValueInt = FMinValueInt - 1;
        FMaxValueInt = FMinValueInt + 1;
    }
    if (ValueInt() > FMaxValueInt) SetValueInt(FMaxValueInt);
    if (FValueDefaultInt > FMaxValueInt) FValueDefaultInt = FMaxValueInt;
}

void TFloatEdit::SetMinValueInt(qint64 value) {
    FMinValueInt = value;
    if (FMinValueInt >= FMaxValueInt) {
        if (FMaxValueInt == std::numeric_limits<qint64>::min()) FMaxValueInt = FMaxValueInt + 1;
        FMinValueInt = FMaxValueInt - 1;
    }
    if (ValueInt() < FMinValueInt) SetValueInt(FMinValueInt);
    if (FValueDefaultInt < FMinValueInt) FValueDefaultInt = FMinValueInt;
}

void TFloatEdit::SetValueDefaultInt(qint64 value) {
    FValueDefaultInt = value;
    if (FValueDefaultInt > FMaxValueInt) FValueDefaultInt = FMaxValueInt;
    if (FValueDefaultInt < FMinValueInt) FValueDefaultInt = FMinValueInt;
}

void TFloatEdit::SetValueDefaultFloat(long double value) {
    FValueDefaultFloat = value;
    if (FValueDefaultFloat > FMaxValueFloat) FValueDefaultFloat = FMaxValueFloat;
    if (FValueDefaultFloat < FMinValueFloat) FValueDefaultFloat = FMinValueFloat;
}

// ---- other settings ---------------------------------------------------------------------

void TFloatEdit::SetIntegerMode(bool value) {
    if (value == FIntegerMode) return;
    FIntegerMode = value;
    ShowValue();
}

void TFloatEdit::SetEnableEmpty(bool value) {
    if (value == FEnableEmpty) return;
    FEnableEmpty = value;
    if (!FEnableEmpty && text().isEmpty()) setText(QStringLiteral("0"));
}

void TFloatEdit::SetIncrementSM(long double value) {
    FIncrementSM = std::fabs(value);
}
void TFloatEdit::SetIncrement(long double value) {
    FIncrement = std::fabs(value);
}
void TFloatEdit::SetIncrementPg(long double value) {
    FIncrementPg = std::fabs(value);
}

void TFloatEdit::SetAssociateUpDn(QWidget *value) {
    FAssociateUpDn = value;
    if (FAssociateUpDn) FAssociateUpDn->setEnabled(isEnabled());
}

void TFloatEdit::changeEvent(QEvent *event) {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && FAssociateUpDn) FAssociateUpDn->setEnabled(isEnabled());
}

// ---- stepping ---------------------------------------------------------------------------

void TFloatEdit::IncrementValue(int increments, int aIncMode) {
    if (isReadOnly()) return;
    // A step commits the text being typed: the stepped value is what the user wants now.
    EndUserEdit(true);
    long double step = FIncrement;
    if (aIncMode == 0)
        step = FIncrementSM;
    else if (aIncMode == 2)
        step = FIncrementPg;
    const long double d = static_cast<long double>(increments) * step;
    if (FIntegerMode) {
        const qint64 k = TruncToInt64(d);
        if (k != 0) SetValueInt(SaturatingAdd(ValueInt(), k));
    } else if (d != 0) {
        SetValueFloat(ValueFloat() + d);
    }
    Validate(FAutoCorretion, FAutoCorretionAsk);
}

void TFloatEdit::IncrementValue(int increments, bool aLargeInc) {
    IncrementValue(increments, aLargeInc ? 2 : 1);
}

#pragma once
// TFloatEdit: a single-line field that holds one number, a 64-bit integer in integer mode or an
// extended-precision value otherwise, with a range, a default, stepping and validation.
#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>

class QWheelEvent;

class TFloatEdit : public QLineEdit {
    Q_OBJECT
public:
    // Notification with the control as sender.
    using TNotifyEvent = std::function<void(QObject *sender)>;
    // A wheel handler of the user; setting Handled stops the field's own stepping.
    using TMouseWheelEvent = std::function<void(QObject *sender, QWheelEvent *event, bool &handled)>;
    // Asks a Yes/No question on behalf of a field; returns true for Yes. The field never opens a
    // message box itself: it goes through this handler, which shows the application's box by default.
    using TQuestionHandler =
        std::function<bool(QWidget *parent, const QString &caption, const QString &text)>;

    explicit TFloatEdit(QWidget *aOwner = nullptr);
    ~TFloatEdit() override;

    // Replaces the question handler of every field; an empty handler restores the message box.
    // Returns the handler that was in use.
    static TQuestionHandler SetQuestionHandler(TQuestionHandler handler);
    static const QString &QuestionCaption();

    void ShowValue();
    int Validate(bool autoCorrect, bool autoCorrectAsk);
    int doValidate();
    void IncrementValue(int increments, int aIncMode);
    void IncrementValue(int increments, bool aLargeInc);
    void SetPrecisionDigits(int aPrecision, int aDigits);
    void AssignTo(QLineEdit *dest);

    long double MaxValueFloat() const { return FMaxValueFloat; }
    void SetMaxValueFloat(long double value);
    long double MinValueFloat() const { return FMinValueFloat; }
    void SetMinValueFloat(long double value);
    qint64 MaxValueInt() const { return FMaxValueInt; }
    void SetMaxValueInt(qint64 value);
    qint64 MinValueInt() const { return FMinValueInt; }
    void SetMinValueInt(qint64 value);

    qint64 ValueInt();
    void SetValueInt(qint64 value);
    long double ValueFloat();
    void SetValueFloat(long double value);
    QVariant ValueVar();
    void SetValueVar(const QVariant &value);

    qint64 ValueDefaultInt() const { return FValueDefaultInt; }
    void SetValueDefaultInt(qint64 value);
    long double ValueDefaultFloat() const { return FValueDefaultFloat; }
    void SetValueDefaultFloat(long double value);

    int Precision() const { return FPrecision; }
    void SetPrecision(int value) { SetPrecisionDigits(value, FDigits); }
    int Digits() const { return FDigits; }
    void SetDigits(int value) { SetPrecisionDigits(FPrecision, value); }

    bool IntegerMode() const { return FIntegerMode; }
    void SetIntegerMode(bool value);
    bool EnableEmpty() const { return FEnableEmpty; }
    void SetEnableEmpty(bool value);

    long double IncrementSM() const { return FIncrementSM; }
    void SetIncrementSM(long double value);
    long double Increment() const { return FIncrement; }
    void SetIncrement(long double value);
    long double IncrementPg() const { return FIncrementPg; }
    void SetIncrementPg(long double value);

    QString FieldName() const { return FFieldName; }
    void SetFieldName(const QString &value) { FFieldName = value; }
    bool AutoCorretion() const { return FAutoCorretion; }
    void SetAutoCorretion(bool value) { FAutoCorretion = value; }
    bool AutoCorretionAsk() const { return FAutoCorretionAsk; }
    void SetAutoCorretionAsk(bool value) { FAutoCorretionAsk = value; }
    bool SoftValidate() const { return FSoftValidate; }
    void SetSoftValidate(bool value) { FSoftValidate = value; }

    int ConvertErrorPos() const { return FErrorPos; }
    bool TextChanged() const { return FTextChanged; }
    void SetTextChanged(bool value) { FTextChanged = value; }
    QWidget *AssociateUpDn() const { return FAssociateUpDn; }
    void SetAssociateUpDn(QWidget *value);
    // True while a validation runs (for instance while its question is open).
    bool IsValidating() const { return ValidatingFlag; }
    // The display tolerance: writes closer than this to a synchronized value change nothing.
    long double ValueFloatComp() const { return FValueFloatComp; }

    // True while the user is editing the text: typed into since the field last showed a value,
    // not yet ended by Enter, a step, Escape or leaving the field, and not the text last shown.
    bool IsUserEditing() const;
    // For values that come from outside (a device) while the user may be typing. Runs Show at
    // once unless the user is editing; then Show is kept, in place of any kept before, and runs
    // when the edit ends without being committed: on Escape or on leaving the field. Enter or a
    // step commits the typed value and drops the kept Show. Returns true when Show ran at once.
    bool ShowUnlessEditing(std::function<void()> show);

    TNotifyEvent OnValidate;
    TMouseWheelEvent OnMouseWheel;
    TMouseWheelEvent OnMouseWheelDown;
    TMouseWheelEvent OnMouseWheelUp;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    bool PasswordSet() const;
    bool EmptyAllowedAndEmpty() const;
    long double ReadTextFloat();
    QString FormatFloat(long double value) const;
    long double CorrectText();
    bool Ask(const QString &text);
    bool CharAllowed(QChar ch) const;
    void OnTextEdited();
    // The text now shows the value (or, empty, no value): no user edit is going on.
    void MarkShown();
    // Ends a user edit: committed (Enter, a step) drops a kept Show; cancelled (Escape, leaving
    // the field) runs it, or, with none kept, puts the text last shown back.
    void EndUserEdit(bool committed);

    int FErrorPos = 0;
    bool FIntegerMode = true;
    long double FMaxValueFloat = 100.0L;
    long double FMinValueFloat = 0.0L;
    qint64 FMinValueInt = 0;
    qint64 FMaxValueInt = 100;
    bool FEnableEmpty = false;
    int FDigits = 0;
    int FPrecision = 0;
    long double FIncrementPg = 10.0L;
    long double FIncrement = 1.0L;
    QString FFieldName;
    bool ValidatingFlag = false;
    bool FAutoCorretion = true;
    bool FTextChanged = false;
    bool FAutoCorretionAsk = true;
    bool FSoftValidate = false;
    long double FIncrementSM = 1.0L;
    long double FValueDefaultFloat = 0.0L;
    qint64 FValueDefaultInt = 0;
    long double FValueFloatComp = 0.5L;
    qint64 FValueInt = 0;
    long double FValueFloat = 0.0L;
    bool FValueSynchronized = false;
    QPointer<QWidget> FAssociateUpDn;
    int FWheelRemainder = 0;
    bool FUserEdit = false;          // the user changed the text since it was last shown
    QString FShownText;              // the text last shown from the value
    std::function<void()> FHeldShow; // a value from outside, kept while the user edits
};

namespace CompFloatEditText {
// The field's number reading: leading blanks, optional sign, digits with an optional "." part,
// optional exponent with "E" or "e"; nothing may follow. ErrorPos is the 1-based position at which
// reading stopped (an empty text fails at 1), 0 on success.
bool ReadFloat(const QString &text, long double &value, int &errorPos);
bool ReadInt(const QString &text, qint64 &value, int &errorPos);
// A character that a number of the mode can hold: sign and digits; in float mode also ",", ".",
// "E" and "e".
bool CharAllowed(QChar ch, bool integerMode);
// The correction of a text that does not read as a number: drops every character the mode does not
// allow, turns "," into ".", then keeps of the rest only what fits sign, digits, point, fraction,
// exponent letter, exponent sign and exponent digits in this order ('1.5e+3x' -> '1.5e+3',
// '--12' -> '-12', '1.2.3' -> '1.23'). The result may still fail to read ('-', '1e').
QString CleanText(const QString &text, bool integerMode);
// Truncation toward zero that saturates at the 64-bit limits (NaN gives 0).
qint64 TruncToInt64(long double value);
// Fixed form with Digits decimals and "." as separator, limited to Precision significant digits;
// the exponent form when the integer part has more digits than Precision. Empty on failure.
QString FormatFixed(long double value, int precision, int digits);
} // namespace CompFloatEditText

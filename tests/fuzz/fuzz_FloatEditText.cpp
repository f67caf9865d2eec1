// Fuzz target for the numeric field's text conversion (CompFloatEditText and TFloatEdit's
// validation with automatic correction).
//
// Input: byte 0 chooses the mode (bit 0 integer), the decimals (bits 1-3) and the significant
// digits (bits 4-7, plus 1); byte 1 chooses a range; bytes 2-11 give a raw extended value for the
// display format; the rest is the text, read as UTF-8.
//
// The readers are held against the C library's strtold/strtoll in the "C" locale; the correction
// must give a text of the number's shape that it leaves alone when run again; the display must
// read back within its rounding; and a field that validates with automatic correction must end
// valid and inside its range.
#include "CompFloatEdit.h"
#include "FuzzSupport.h"

#include <QApplication>

#include <array>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <string>

using namespace CompFloatEditText;

namespace {

locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return c;
}

NO_COVERAGE bool OnlyOf(const QString &Text, const char *Allowed) {
    for (QChar c : Text)
        if (c.unicode() > 127 || !std::strchr(Allowed, char(c.unicode())) || c.unicode() == 0) return false;
    return true;
}

// The shape the correction leaves: sign or digit, digits, point, fraction, exponent letter,
// exponent sign, exponent digits, each part optional after the first character.
NO_COVERAGE bool HasNumberShape(const QString &s, bool IntegerMode) {
    auto digit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    auto sign = [](QChar c) { return c == QLatin1Char('+') || c == QLatin1Char('-'); };
    qsizetype i = 0;
    const qsizetype n = s.size();
    if (n == 0) return true;
    if (!(digit(s[0]) || sign(s[0]))) return false;
    ++i;
    while (i < n && digit(s[i]))
        ++i;
    if (IntegerMode) return i == n;
    if (i < n && s[i] == QLatin1Char('.')) {
        ++i;
        while (i < n && digit(s[i]))
            ++i;
    }
    if (i < n && (s[i] == QLatin1Char('e') || s[i] == QLatin1Char('E'))) {
        ++i;
        if (i < n && sign(s[i])) ++i;
        while (i < n && digit(s[i]))
            ++i;
    }
    return i == n;
}

NO_COVERAGE bool IsSubsequence(const QString &Part, const QString &Whole) {
    qsizetype j = 0;
    for (qsizetype i = 0; i < Whole.size() && j < Part.size(); ++i)
        if (Whole[i] == Part[j]) ++j;
    return j == Part.size();
}

void CheckClean(const QString &Text, bool IntegerMode) {
    const QString cleaned = CleanText(Text, IntegerMode);
    for (QChar c : cleaned)
        CHECK(CharAllowed(c, IntegerMode) && c != QLatin1Char(','), Text);
    CHECK(HasNumberShape(cleaned, IntegerMode), Text);
    QString commaAsPoint = Text;
    commaAsPoint.replace(QLatin1Char(','), QLatin1Char('.'));
    CHECK(IsSubsequence(cleaned, commaAsPoint), Text);
    CHECK(CleanText(cleaned, IntegerMode) == cleaned, Text);
}

void CheckReadFloat(const QString &Text) {
    long double v = 0;
    int pos = -1;
    const bool ok = ReadFloat(Text, v, pos);
    CHECK(ok ? pos == 0 : (pos >= 1 && pos <= Text.size() + 1), Text);
    CHECK(!ok || std::isfinite(v), Text);
    if (!OnlyOf(Text, " +-0123456789.eE")) {
        CHECK(!ok, Text);
        return;
    }
    const std::string s = Text.toStdString();
    char *end = nullptr;
    errno = 0;
    const long double ref = strtold_l(s.c_str(), &end, CLocale());
    const bool range = errno == ERANGE;
    const bool whole = end != s.c_str() && *end == '\0';
    const bool overflow = range && std::isinf(ref);
    if (ok) {
        CHECK(whole, Text);
        CHECK(!overflow, Text);
        // Too small to represent reads as zero.
        if (range)
            CHECK(v == 0 || v == ref, Text);
        else
            CHECK(v == ref, Text);
    } else {
        CHECK(!whole || overflow, Text);
    }
}

void CheckReadInt(const QString &Text) {
    qint64 v = 0;
    int pos = -1;
    const bool ok = ReadInt(Text, v, pos);
    CHECK(ok ? pos == 0 : (pos >= 1 && pos <= Text.size() + 1), Text);
    if (!OnlyOf(Text, " +-0123456789")) {
        CHECK(!ok, Text);
        return;
    }
    const std::string s = Text.toStdString();
    char *end = nullptr;
    errno = 0;
    const long long ref = strtoll_l(s.c_str(), &end, 10, CLocale());
    const bool whole = end != s.c_str() && *end == '\0' && errno != ERANGE;
    CHECK(ok == whole, Text);
    if (ok) CHECK(v == ref, Text);
}

long double Pow10(int e) {
    return std::pow(10.0L, static_cast<long double>(e));
}

// The display shows Digits decimals, rounded, limited to Precision significant digits; beyond
// that the exponent form with Digits decimals in the mantissa.
void CheckFormat(long double Value, int Precision, int Digits) {
    const QString shown = FormatFixed(Value, Precision, Digits);
    const QString label = shown + QStringLiteral(" of %1 (precision %2, digits %3)")
                                      .arg(double(Value), 0, 'g', 21)
                                      .arg(Precision)
                                      .arg(Digits);
    if (!std::isfinite(Value)) {
        CHECK(shown.isEmpty(), label);
        return;
    }
    CHECK(!shown.isEmpty(), label);
    long double back = 0;
    int pos = 0;
    if (!ReadFloat(shown, back, pos)) {
        // Only a value next to the largest one can show, rounded up, as a number beyond it.
        CHECK(std::fabs(Value) > std::numeric_limits<long double>::max() / 2, label);
        return;
    }
    const int d = std::min(Digits, 18);
    const int p = std::min(std::max(Precision, 1), 18);
    const long double a = std::fabs(Value);
    const long double slack = a * 1e-17L + std::numeric_limits<long double>::denorm_min();
    const qsizetype e = shown.indexOf(QLatin1Char('e'));
    const QString mantissa = e < 0 ? shown : shown.left(e);
    const qsizetype point = mantissa.indexOf(QLatin1Char('.'));
    CHECK(d == 0 ? point < 0 : mantissa.size() - point - 1 == d, label);
    // A value that rounds to zero shows without a sign.
    if (shown.startsWith(QLatin1Char('-'))) CHECK(back != 0, label);
    if (e < 0) {
        CHECK(a < Pow10(p), label);
        const int exponent = a == 0 ? 0 : int(std::floor(std::log10(a)));
        const long double tolerance = std::max(0.5L * Pow10(-d), 0.5L * Pow10(exponent + 1 - p));
        CHECK(std::fabs(back - Value) <= tolerance * (1 + 1e-15L) + slack, label);
    } else {
        CHECK(a >= Pow10(p) * (1 - Pow10(-p)), label);
        const int shownExponent = shown.mid(e + 1).toInt();
        CHECK(std::fabs(back - Value) <= 0.5L * Pow10(shownExponent - d) * (1 + 1e-15L) + slack, label);
    }
}

struct TRange {
    qint64 MinInt, MaxInt;
    long double MinFloat, MaxFloat;
};
constexpr std::array<TRange, 6> Ranges{
    {{0, 100, 0.0L, 100.0L},
     {-50, 50, -5.5L, 5.5L},
     {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), -1e30L, 1e30L},
     {-1, 0, 0.0L, 0.1L},
     {10, 90, 10.0L, 90.0L},
     {1, 1000, 0.001L, 25.0L}}};

TFloatEdit *Field() {
    static TFloatEdit *field = new TFloatEdit;
    return field;
}

// Validation with automatic correction ends with a valid text and a value inside the range.
void CheckValidate(const QString &Text, bool IntegerMode, int Precision, int Digits, const TRange &R) {
    TFloatEdit &f = *Field();
    f.SetIntegerMode(IntegerMode);
    // Widen first, so the new bounds never cross the old ones.
    f.SetMinValueInt(std::numeric_limits<qint64>::min());
    f.SetMaxValueInt(std::numeric_limits<qint64>::max());
    f.SetMinValueInt(R.MinInt);
    f.SetMaxValueInt(R.MaxInt);
    f.SetMinValueFloat(-std::numeric_limits<long double>::max());
    f.SetMaxValueFloat(std::numeric_limits<long double>::max());
    f.SetMinValueFloat(R.MinFloat);
    f.SetMaxValueFloat(R.MaxFloat);
    f.SetPrecisionDigits(Precision, Digits);
    CHECK(f.MinValueInt() == R.MinInt && f.MaxValueInt() == R.MaxInt, Text);
    CHECK(f.MinValueFloat() == R.MinFloat && f.MaxValueFloat() == R.MaxFloat, Text);

    f.setText(Text);
    const int plain = f.Validate(false, false);
    CHECK(plain >= -1 && plain <= Text.size() + 1, Text);

    f.setText(Text);
    CHECK(f.Validate(true, false) == 0, Text);
    CHECK(f.ConvertErrorPos() == 0, Text);
    if (IntegerMode) {
        const qint64 v = f.ValueInt();
        CHECK(v >= R.MinInt && v <= R.MaxInt, Text);
    } else {
        const long double v = f.ValueFloat();
        CHECK(v >= R.MinFloat && v <= R.MaxFloat, Text);
    }
    // Validating the result again changes nothing.
    const QString after = f.text();
    CHECK(f.Validate(true, false) == 0 && f.text() == after, Text);
}

long double RawValue(const uint8_t *Bytes) {
    quint64 mantissa;
    std::memcpy(&mantissa, Bytes, 8);
    const int exponent = int(qint16(quint16(Bytes[8] | (Bytes[9] << 8)))) / 2;
    return std::ldexp(static_cast<long double>(mantissa), exponent);
}

} // namespace

// The application lives until the process ends and is never destroyed, so fontconfig's caches,
// which Qt frees only on the application's teardown, stay allocated at exit.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    CreateApplication<QApplication>("fuzz_FloatEditText");
    // The field never asks in this target; a question would be a fault of the harness.
    TFloatEdit::SetQuestionHandler([](QWidget *, const QString &, const QString &) -> bool { std::abort(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size < 12) return 0;
    const bool integerMode = Data[0] & 1;
    const int digits = (Data[0] >> 1) & 7;
    const int precision = (Data[0] >> 4) + 1;
    const TRange &range = Ranges[Data[1] % Ranges.size()];
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(Data + 12), qsizetype(Size - 12));

    CheckClean(text, integerMode);
    CheckReadFloat(text);
    CheckReadInt(text);
    QString commaAsPoint = text;
    commaAsPoint.replace(QLatin1Char(','), QLatin1Char('.'));
    long double v = 0;
    int pos = 0;
    if (ReadFloat(commaAsPoint, v, pos)) CheckFormat(v, precision, digits);
    CheckFormat(RawValue(Data + 2), precision, digits);
    CheckFormat(-RawValue(Data + 2), precision, digits);
    CheckValidate(text, integerMode, precision, digits, range);
    return 0;
}

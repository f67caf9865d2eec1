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

NO_COVERAGE bool OnlyOf(const QString &text, const char *allowed) {
    for (QChar c : text)
        if (c.unicode() > 127 || !std::strchr(allowed, char(c.unicode())) || c.unicode() == 0) return false;
    return true;
}

// The shape the correction leaves: sign or digit, digits, point, fraction, exponent letter,
// exponent sign, exponent digits, each part optional after the first character.
NO_COVERAGE bool HasNumberShape(const QString &s, bool integerMode) {
    auto digit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    auto sign = [](QChar c) { return c == QLatin1Char('+') || c == QLatin1Char('-'); };
    qsizetype i = 0;
    const qsizetype n = s.size();
    if (n == 0) return true;
    if (!(digit(s[0]) || sign(s[0]))) return false;
    ++i;
    while (i < n && digit(s[i]))
        ++i;
    if (integerMode) return i == n;
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

NO_COVERAGE bool IsSubsequence(const QString &part, const QString &whole) {
    qsizetype j = 0;
    for (qsizetype i = 0; i < whole.size() && j < part.size(); ++i)
        if (whole[i] == part[j]) ++j;
    return j == part.size();
}

void CheckClean(const QString &text, bool integerMode) {
    const QString cleaned = CleanText(text, integerMode);
    for (QChar c : cleaned)
        CHECK(CharAllowed(c, integerMode) && c != QLatin1Char(','), text);
    CHECK(HasNumberShape(cleaned, integerMode), text);
    QString commaAsPoint = text;
    commaAsPoint.replace(QLatin1Char(','), QLatin1Char('.'));
    CHECK(IsSubsequence(cleaned, commaAsPoint), text);
    CHECK(CleanText(cleaned, integerMode) == cleaned, text);
}

void CheckReadFloat(const QString &text) {
    long double v = 0;
    int pos = -1;
    const bool ok = ReadFloat(text, v, pos);
    CHECK(ok ? pos == 0 : (pos >= 1 && pos <= text.size() + 1), text);
    CHECK(!ok || std::isfinite(v), text);
    if (!OnlyOf(text, " +-0123456789.eE")) {
        CHECK(!ok, text);
        return;
    }
    const std::string s = text.toStdString();
    char *end = nullptr;
    errno = 0;
    const long double ref = strtold_l(s.c_str(), &end, CLocale());
    const bool range = errno == ERANGE;
    const bool whole = end != s.c_str() && *end == '\0';
    const bool overflow = range && std::isinf(ref);
    if (ok) {
        CHECK(whole, text);
        CHECK(!overflow, text);
        // Too small to represent reads as zero.
        if (range)
            CHECK(v == 0 || v == ref, text);
        else
            CHECK(v == ref, text);
    } else {
        CHECK(!whole || overflow, text);
    }
}

void CheckReadInt(const QString &text) {
    qint64 v = 0;
    int pos = -1;
    const bool ok = ReadInt(text, v, pos);
    CHECK(ok ? pos == 0 : (pos >= 1 && pos <= text.size() + 1), text);
    if (!OnlyOf(text, " +-0123456789")) {
        CHECK(!ok, text);
        return;
    }
    const std::string s = text.toStdString();
    char *end = nullptr;
    errno = 0;
    const long long ref = strtoll_l(s.c_str(), &end, 10, CLocale());
    const bool whole = end != s.c_str() && *end == '\0' && errno != ERANGE;
    CHECK(ok == whole, text);
    if (ok) CHECK(v == ref, text);
}

long double Pow10(int e) {
    return std::pow(10.0L, static_cast<long double>(e));
}

// The display shows Digits decimals, rounded, limited to Precision significant digits; beyond
// that the exponent form with Digits decimals in the mantissa.
void CheckFormat(long double value, int precision, int digits) {
    const QString shown = FormatFixed(value, precision, digits);
    const QString label = shown + QStringLiteral(" of %1 (precision %2, digits %3)")
                                      .arg(double(value), 0, 'g', 21)
                                      .arg(precision)
                                      .arg(digits);
    if (!std::isfinite(value)) {
        CHECK(shown.isEmpty(), label);
        return;
    }
    CHECK(!shown.isEmpty(), label);
    long double back = 0;
    int pos = 0;
    if (!ReadFloat(shown, back, pos)) {
        // Only a value next to the largest one can show, rounded up, as a number beyond it.
        CHECK(std::fabs(value) > std::numeric_limits<long double>::max() / 2, label);
        return;
    }
    const int d = std::min(digits, 18);
    const int p = std::min(std::max(precision, 1), 18);
    const long double a = std::fabs(value);
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
        CHECK(std::fabs(back - value) <= tolerance * (1 + 1e-15L) + slack, label);
    } else {
        CHECK(a >= Pow10(p) * (1 - Pow10(-p)), label);
        const int shownExponent = shown.mid(e + 1).toInt();
        CHECK(std::fabs(back - value) <= 0.5L * Pow10(shownExponent - d) * (1 + 1e-15L) + slack, label);
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
void CheckValidate(const QString &text, bool integerMode, int precision, int digits, const TRange &r) {
    TFloatEdit &f = *Field();
    f.SetIntegerMode(integerMode);
    // Widen first, so the new bounds never cross the old ones.
    f.SetMinValueInt(std::numeric_limits<qint64>::min());
    f.SetMaxValueInt(std::numeric_limits<qint64>::max());
    f.SetMinValueInt(r.MinInt);
    f.SetMaxValueInt(r.MaxInt);
    f.SetMinValueFloat(-std::numeric_limits<long double>::max());
    f.SetMaxValueFloat(std::numeric_limits<long double>::max());
    f.SetMinValueFloat(r.MinFloat);
    f.SetMaxValueFloat(r.MaxFloat);
    f.SetPrecisionDigits(precision, digits);
    CHECK(f.MinValueInt() == r.MinInt && f.MaxValueInt() == r.MaxInt, text);
    CHECK(f.MinValueFloat() == r.MinFloat && f.MaxValueFloat() == r.MaxFloat, text);

    f.setText(text);
    const int plain = f.Validate(false, false);
    CHECK(plain >= -1 && plain <= text.size() + 1, text);

    f.setText(text);
    CHECK(f.Validate(true, false) == 0, text);
    CHECK(f.ConvertErrorPos() == 0, text);
    if (integerMode) {
        const qint64 v = f.ValueInt();
        CHECK(v >= r.MinInt && v <= r.MaxInt, text);
    } else {
        const long double v = f.ValueFloat();
        CHECK(v >= r.MinFloat && v <= r.MaxFloat, text);
    }
    // Validating the result again changes nothing.
    const QString after = f.text();
    CHECK(f.Validate(true, false) == 0 && f.text() == after, text);
}

long double RawValue(const uint8_t *bytes) {
    quint64 mantissa;
    std::memcpy(&mantissa, bytes, 8);
    const int exponent = int(qint16(quint16(bytes[8] | (bytes[9] << 8)))) / 2;
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 12) return 0;
    const bool integerMode = data[0] & 1;
    const int digits = (data[0] >> 1) & 7;
    const int precision = (data[0] >> 4) + 1;
    const TRange &range = Ranges[data[1] % Ranges.size()];
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 12), qsizetype(size - 12));

    CheckClean(text, integerMode);
    CheckReadFloat(text);
    CheckReadInt(text);
    QString commaAsPoint = text;
    commaAsPoint.replace(QLatin1Char(','), QLatin1Char('.'));
    long double v = 0;
    int pos = 0;
    if (ReadFloat(commaAsPoint, v, pos)) CheckFormat(v, precision, digits);
    CheckFormat(RawValue(data + 2), precision, digits);
    CheckFormat(-RawValue(data + 2), precision, digits);
    CheckValidate(text, integerMode, precision, digits, range);
    return 0;
}

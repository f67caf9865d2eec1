// Reading and formatting of the field's numbers, independent of the C library's locale
// (QApplication switches LC_NUMERIC to the user's locale, so strtold/printf cannot be used).
#include "CompFloatEdit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace CompFloatEditText {

namespace {
bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

int SkipBlanks(const QString &s, int i) {
    while (i < s.size() && s.at(i) == QLatin1Char(' '))
        ++i;
    return i;
}
} // namespace

bool ReadFloat(const QString &Text, long double &Value, int &ErrorPos) {
    Value = 0;
    const int n = Text.size();
    int i = SkipBlanks(Text, 0);
    const int numberStart = i;
    bool negative = false;
    if (i < n && (Text.at(i) == QLatin1Char('+') || Text.at(i) == QLatin1Char('-'))) {
        negative = Text.at(i) == QLatin1Char('-');
        ++i;
    }
    std::string intPart, fracPart, expPart;
    while (i < n && IsDigit(Text.at(i)))
        intPart += char(Text.at(i++).unicode());
    if (i < n && Text.at(i) == QLatin1Char('.')) {
        ++i;
        while (i < n && IsDigit(Text.at(i)))
            fracPart += char(Text.at(i++).unicode());
    }
    if (intPart.empty() && fracPart.empty()) {
        ErrorPos = i + 1;
        return false;
    }
    bool expNegative = false;
    if (i < n && (Text.at(i) == QLatin1Char('e') || Text.at(i) == QLatin1Char('E'))) {
        ++i;
        if (i < n && (Text.at(i) == QLatin1Char('+') || Text.at(i) == QLatin1Char('-'))) {
            expNegative = Text.at(i) == QLatin1Char('-');
            ++i;
        }
        while (i < n && IsDigit(Text.at(i)))
            expPart += char(Text.at(i++).unicode());
        if (expPart.empty()) {
            ErrorPos = i + 1;
            return false;
        }
    }
    if (i < n) {
        ErrorPos = i + 1;
        return false;
    }
    std::string number = (intPart.empty() ? std::string("0") : intPart) + "." +
                         (fracPart.empty() ? std::string("0") : fracPart);
    if (!expPart.empty()) number += std::string("e") + (expNegative ? "-" : "") + expPart;
    long double v = 0;
    const auto res = std::from_chars(number.data(), number.data() + number.size(), v);
    if (res.ec == std::errc::result_out_of_range) {
        // Too small to represent reads as zero; too large is unreadable. Which of the two is told
        // by the decimal exponent of the first significant digit, not by the exponent's sign
        // alone: '0.000...1' without an exponent can be too small, '1000...0e-1' too large.
        long long lead;
        const size_t firstInt = intPart.find_first_not_of('0');
        if (firstInt != std::string::npos) {
            lead = static_cast<long long>(intPart.size() - firstInt) - 1;
        } else {
            const size_t firstFrac = fracPart.find_first_not_of('0');
            lead = -static_cast<long long>(firstFrac == std::string::npos ? 0 : firstFrac) - 1;
        }
        long long exponent = 0;
        for (char c : expPart)
            exponent = std::min(exponent * 10 + (c - '0'), 1000000000000LL);
        if (lead + (expNegative ? -exponent : exponent) >= 0) {
            ErrorPos = numberStart + 1;
            return false;
        }
        v = 0;
    } else if (res.ec != std::errc() || res.ptr != number.data() + number.size()) {
        ErrorPos = numberStart + 1;
        return false;
    }
    Value = negative ? -v : v;
    ErrorPos = 0;
    return true;
}

bool ReadInt(const QString &Text, qint64 &Value, int &ErrorPos) {
    Value = 0;
    const int n = Text.size();
    int i = SkipBlanks(Text, 0);
    bool negative = false;
    if (i < n && (Text.at(i) == QLatin1Char('+') || Text.at(i) == QLatin1Char('-'))) {
        negative = Text.at(i) == QLatin1Char('-');
        ++i;
    }
    // Accumulated as a magnitude, so the most negative value reads as well.
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    quint64 magnitude = 0;
    const int firstDigit = i;
    while (i < n && IsDigit(Text.at(i))) {
        const quint64 d = quint64(Text.at(i).unicode() - '0');
        if (magnitude > (limit - d) / 10) {
            ErrorPos = i + 1;
            return false;
        }
        magnitude = magnitude * 10 + d;
        ++i;
    }
    if (i == firstDigit || i < n) {
        ErrorPos = i + 1;
        return false;
    }
    Value = negative ? qint64(0 - magnitude) : qint64(magnitude);
    ErrorPos = 0;
    return true;
}

bool CharAllowed(QChar Ch, bool IntegerMode) {
    if ((Ch >= QLatin1Char('0') && Ch <= QLatin1Char('9')) || Ch == QLatin1Char('+') ||
        Ch == QLatin1Char('-'))
        return true;
    return !IntegerMode && (Ch == QLatin1Char(',') || Ch == QLatin1Char('.') || Ch == QLatin1Char('e') ||
                            Ch == QLatin1Char('E'));
}

QString CleanText(const QString &Text, bool IntegerMode) {
    QString cleaned;
    for (QChar c : Text) {
        if (!CharAllowed(c, IntegerMode)) continue;
        cleaned += c == QLatin1Char(',') ? QLatin1Char('.') : c;
    }
    auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    auto isSign = [](QChar c) { return c == QLatin1Char('+') || c == QLatin1Char('-'); };
    auto isExp = [](QChar c) { return c == QLatin1Char('e') || c == QLatin1Char('E'); };
    // Sign, integer digits, point, fraction digits, exponent letter, exponent sign, exponent digits;
    // whatever does not fit the state it arrives in is dropped.
    QString result;
    int state = 0;
    int i = 0;
    while (i < cleaned.size()) {
        const QChar c = cleaned.at(i);
        bool keep = false;
        bool reexamine = false;
        switch (state) {
        case 0:
            if (isSign(c) || isDigit(c)) {
                keep = true;
                state = 1;
            }
            break;
        case 1:
            if (isDigit(c))
                keep = true;
            else if (c == QLatin1Char('.') || isExp(c)) {
                state = 2;
                reexamine = true;
            }
            break;
        case 2:
            if (c == QLatin1Char('.')) {
                keep = true;
                state = 3;
            } else if (isDigit(c) || isExp(c)) {
                state = 3;
                reexamine = true;
            }
            break;
        case 3:
            if (isDigit(c))
                keep = true;
            else if (isExp(c)) {
                state = 4;
                reexamine = true;
            }
            break;
        case 4:
            if (isExp(c)) {
                keep = true;
                state = 5;
            } else if (isSign(c) || isDigit(c)) {
                state = 5;
                reexamine = true;
            }
            break;
        case 5:
            if (isSign(c)) {
                keep = true;
                state = 6;
            } else if (isDigit(c)) {
                state = 6;
                reexamine = true;
            }
            break;
        default:
            if (isDigit(c)) keep = true;
            break;
        }
        if (reexamine) continue;
        if (keep) result += c;
        ++i;
    }
    return result;
}

qint64 TruncToInt64(long double Value) {
    if (std::isnan(Value)) return 0;
    const long double t = std::trunc(Value);
    // 2^63 is exact in long double; anything at or beyond it saturates.
    constexpr long double two63 = 9223372036854775808.0L;
    if (t >= two63) return std::numeric_limits<qint64>::max();
    if (t < -two63) return std::numeric_limits<qint64>::min();
    return qint64(t);
}

namespace {
// A decimal number as digits d0 d1 d2 ... with the value d0.d1d2... x 10^Exponent.
struct TDecimal {
    std::string Digits;
    int Exponent = 0;
    bool Negative = false;

    // Keeps the first Count digits, rounding half away from zero as a user expects ('7.125'
    // shows as '7.13' with two decimals).
    void Round(int Count) {
        if (Count < 0) {
            Digits = "0";
            Exponent = 0;
            return;
        }
        if (Count >= int(Digits.size())) return;
        const bool up = Digits[size_t(Count)] >= '5';
        Digits.resize(size_t(Count));
        if (up) {
            int i = Count - 1;
            while (i >= 0 && Digits[size_t(i)] == '9')
                Digits[size_t(i--)] = '0';
            if (i >= 0) {
                ++Digits[size_t(i)];
            } else {
                Digits.insert(Digits.begin(), '1');
                ++Exponent;
            }
        }
        if (Digits.empty()) {
            Digits = "0";
            Exponent = 0;
        }
    }
    bool IsZero() const { return Digits.find_first_not_of('0') == std::string::npos; }
    char DigitAt(int Index) const {
        return Index >= 0 && Index < int(Digits.size()) ? Digits[size_t(Index)] : '0';
    }
};

bool ToDecimal(long double Value, TDecimal &Out) {
    // 30 significant digits hold an extended value exactly enough to round it once more.
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, Value, std::chars_format::scientific, 29);
    if (r.ec != std::errc()) return false;
    const std::string text(buf, r.ptr);
    size_t i = 0;
    Out = TDecimal();
    if (text[i] == '-') {
        Out.Negative = true;
        ++i;
    }
    for (; i < text.size() && text[i] != 'e'; ++i)
        if (text[i] != '.') Out.Digits += text[i];
    if (i >= text.size()) return false;
    Out.Exponent = std::stoi(text.substr(i + 1));
    return true;
}

QString Fixed(const TDecimal &D, int Decimals) {
    std::string s;
    if (D.Exponent < 0) {
        s = "0";
    } else {
        for (int i = 0; i <= D.Exponent; ++i)
            s += D.DigitAt(i);
    }
    if (Decimals > 0) {
        s += '.';
        for (int k = 1; k <= Decimals; ++k)
            s += D.DigitAt(D.Exponent + k);
    }
    // A value that rounds to zero shows without a sign.
    if (D.Negative && !D.IsZero()) s.insert(s.begin(), '-');
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

QString Exponential(const TDecimal &D, int Decimals) {
    std::string s;
    if (D.Negative && !D.IsZero()) s += '-';
    s += D.DigitAt(0);
    if (Decimals > 0) {
        s += '.';
        for (int k = 1; k <= Decimals; ++k)
            s += D.DigitAt(k);
    }
    const int e = D.IsZero() ? 0 : D.Exponent;
    s += e < 0 ? "e-" : "e+";
    const int a = std::abs(e);
    if (a < 10) s += '0';
    s += std::to_string(a);
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}
} // namespace

QString FormatFixed(long double Value, int Precision, int Digits) {
    if (!std::isfinite(Value)) return QString();
    // An extended value carries no more than 18 meaningful digits.
    const int digits = std::min(std::max(Digits, 0), 18);
    const int precision = std::min(std::max(Precision, 1), 18);
    TDecimal d;
    if (!ToDecimal(Value, d)) return QString();
    if (d.IsZero()) d.Exponent = 0;
    TDecimal limited = d;
    limited.Round(precision);
    if (limited.Exponent + 1 > precision) {
        TDecimal e = d;
        e.Round(digits + 1);
        return Exponential(e, digits);
    }
    // One rounding from the full value, at the last significant digit or the last decimal,
    // whichever comes first; rounding twice would let a 5 made by the first carry into the second.
    TDecimal fixed = d;
    fixed.Round(std::min(precision, d.Exponent + 1 + digits));
    return Fixed(fixed, digits);
}

} // namespace CompFloatEditText

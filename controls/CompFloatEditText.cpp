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

bool ReadFloat(const QString &text, long double &value, int &errorPos) {
    value = 0;
    const int n = text.size();
    int i = SkipBlanks(text, 0);
    const int numberStart = i;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    std::string intPart, fracPart, expPart;
    while (i < n && IsDigit(text.at(i)))
        intPart += char(text.at(i++).unicode());
    if (i < n && text.at(i) == QLatin1Char('.')) {
        ++i;
        while (i < n && IsDigit(text.at(i)))
            fracPart += char(text.at(i++).unicode());
    }
    if (intPart.empty() && fracPart.empty()) {
        errorPos = i + 1;
        return false;
    }
    bool expNegative = false;
    if (i < n && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        ++i;
        if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
            expNegative = text.at(i) == QLatin1Char('-');
            ++i;
        }
        while (i < n && IsDigit(text.at(i)))
            expPart += char(text.at(i++).unicode());
        if (expPart.empty()) {
            errorPos = i + 1;
            return false;
        }
    }
    if (i < n) {
        errorPos = i + 1;
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
            errorPos = numberStart + 1;
            return false;
        }
        v = 0;
    } else if (res.ec != std::errc() || res.ptr != number.data() + number.size()) {
        errorPos = numberStart + 1;
        return false;
    }
    value = negative ? -v : v;
    errorPos = 0;
    return true;
}

bool ReadInt(const QString &text, qint64 &value, int &errorPos) {
    value = 0;
    const int n = text.size();
    int i = SkipBlanks(text, 0);
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    // Accumulated as a magnitude, so the most negative value reads as well.
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    quint64 magnitude = 0;
    const int firstDigit = i;
    while (i < n && IsDigit(text.at(i))) {
        const quint64 d = quint64(text.at(i).unicode() - '0');
        if (magnitude > (limit - d) / 10) {
            errorPos = i + 1;
            return false;
        }
        magnitude = magnitude * 10 + d;
        ++i;
    }
    if (i == firstDigit || i < n) {
        errorPos = i + 1;
        return false;
    }
    value = negative ? qint64(0 - magnitude) : qint64(magnitude);
    errorPos = 0;
    return true;
}

bool CharAllowed(QChar ch, bool integerMode) {
    if ((ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) || ch == QLatin1Char('+') ||
        ch == QLatin1Char('-'))
        return true;
    return !integerMode && (ch == QLatin1Char(',') || ch == QLatin1Char('.') || ch == QLatin1Char('e') ||
                            ch == QLatin1Char('E'));
}

QString CleanText(const QString &text, bool integerMode) {
    QString cleaned;
    for (QChar c : text) {
        if (!CharAllowed(c, integerMode)) continue;
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

qint64 TruncToInt64(long double value) {
    if (std::isnan(value)) return 0;
    const long double t = std::trunc(value);
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
    void Round(int count) {
        if (count < 0) {
            Digits = "0";
            Exponent = 0;
            return;
        }
        if (count >= int(Digits.size())) return;
        const bool up = Digits[size_t(count)] >= '5';
        Digits.resize(size_t(count));
        if (up) {
            int i = count - 1;
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
    char DigitAt(int index) const {
        return index >= 0 && index < int(Digits.size()) ? Digits[size_t(index)] : '0';
    }
};

bool ToDecimal(long double value, TDecimal &out) {
    // 30 significant digits hold an extended value exactly enough to round it once more.
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 29);
    if (r.ec != std::errc()) return false;
    const std::string text(buf, r.ptr);
    size_t i = 0;
    out = TDecimal();
    if (text[i] == '-') {
        out.Negative = true;
        ++i;
    }
    for (; i < text.size() && text[i] != 'e'; ++i)
        if (text[i] != '.') out.Digits += text[i];
    if (i >= text.size()) return false;
    out.Exponent = std::stoi(text.substr(i + 1));
    return true;
}

QString Fixed(const TDecimal &d, int decimals) {
    std::string s;
    if (d.Exponent < 0) {
        s = "0";
    } else {
        for (int i = 0; i <= d.Exponent; ++i)
            s += d.DigitAt(i);
    }
    if (decimals > 0) {
        s += '.';
        for (int k = 1; k <= decimals; ++k)
            s += d.DigitAt(d.Exponent + k);
    }
    // A value that rounds to zero shows without a sign.
    if (d.Negative && !d.IsZero()) s.insert(s.begin(), '-');
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

QString Exponential(const TDecimal &d, int decimals) {
    std::string s;
    if (d.Negative && !d.IsZero()) s += '-';
    s += d.DigitAt(0);
    if (decimals > 0) {
        s += '.';
        for (int k = 1; k <= decimals; ++k)
            s += d.DigitAt(k);
    }
    const int e = d.IsZero() ? 0 : d.Exponent;
    s += e < 0 ? "e-" : "e+";
    const int a = std::abs(e);
    if (a < 10) s += '0';
    s += std::to_string(a);
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}
} // namespace

QString FormatFixed(long double value, int wantedPrecision, int wantedDigits) {
    if (!std::isfinite(value)) return QString();
    // An extended value carries no more than 18 meaningful digits.
    const int digits = std::min(std::max(wantedDigits, 0), 18);
    const int precision = std::min(std::max(wantedPrecision, 1), 18);
    TDecimal d;
    if (!ToDecimal(value, d)) return QString();
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

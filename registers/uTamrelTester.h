#pragma once
// What the program knows about the Tamrel tester besides its register map, kept in this one
// place for the window, the link, the command line program and the simulated tester: the
// identification it reports, the line it speaks on, how its identification text is read
// and matched, and the names of the pump and head types its registers select.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace TamrelTester {

// Register 0 of a tester contains this, in any letter case ("Tavik TAMREL 1.6").
inline constexpr char IdentPrefix[] = "Tavik";

// The line: 115200 baud, 8 data bits, no parity, one stop bit, DTR raised.
inline constexpr qint32 BaudRate = 115200;
inline constexpr int DataBits = 8;
inline constexpr int StopBits = 1;

// Register 0 as text: 8-bit characters up to the first zero byte (a device may pad the
// text with zero bytes).
inline QString IdentText(const QByteArray &raw) {
    const qsizetype zero = raw.indexOf('\0');
    return QString::fromLatin1(zero >= 0 ? raw.left(zero) : raw);
}

// Whether an identification names the device looked for: it contains Wanted, letter case
// ignored. An empty Wanted names nothing.
inline bool IdentMatches(const QString &ident, const QString &wanted) {
    return !wanted.isEmpty() && ident.contains(wanted, Qt::CaseInsensitive);
}

inline bool IsTesterIdent(const QString &ident) {
    return IdentMatches(ident, QLatin1String(IdentPrefix));
}

// The types by their register codes (register 10: 0 VE, 1 PE, 2 Zexel; register 3: 0
// inductive, 1 resistive). Records, limits and the command line name them so, in English,
// whatever language the window shows.
inline const QStringList &PumpTypeNames() {
    static const QStringList names{QStringLiteral("VE"), QStringLiteral("PE"), QStringLiteral("Zexel")};
    return names;
}
inline const QStringList &HeadTypeNames() {
    static const QStringList names{QStringLiteral("Inductive"), QStringLiteral("Resistive")};
    return names;
}

// The name as the program stores it, from one in any letter case; empty when it is none of
// Names.
inline QString CanonicalTypeName(const QStringList &names, const QString &text) {
    for (const QString &name : names)
        if (name.compare(text, Qt::CaseInsensitive) == 0) return name;
    return {};
}

} // namespace TamrelTester

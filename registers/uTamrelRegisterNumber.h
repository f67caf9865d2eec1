#pragma once
// Received register values as the program reads them: by the type that the tester's register
// map declares. The window shows every value this way; the sweep of both faces takes its
// position readings this way.
#include "uKvProtocol.h"
#include "uTamrelRegisterMap.h"

#include <QVariant>

#include <cmath>
#include <limits>
#include <optional>

namespace TamrelReg {

namespace Detail {
template <typename T> inline bool Within(long double x) {
    return x >= static_cast<long double>(std::numeric_limits<T>::min()) &&
           x <= static_cast<long double>(std::numeric_limits<T>::max());
}
} // namespace Detail

// A received register's value as the whole number that the map's type (MapType) declares,
// whatever type the tester sent it in (the engine adopts the sender's type): integers as they
// are, floating values rounded to the nearest, a text that reads wholly as a decimal number.
// No value (std::nullopt) when it is none of these, not finite (NaN, an infinity), empty, or
// outside the range of MapType: such a value is unknown and is shown as unknown.
inline std::optional<qint64> RegisterNumber(const TKvRegister &reg, TKvRegisterType mapType) {
    const QVariant v = RegisterToVariant(reg);
    long double x = 0;
    bool ok = false;
    switch (v.typeId()) {
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        x = static_cast<long double>(v.toLongLong(&ok));
        break;
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        x = static_cast<long double>(v.toULongLong(&ok));
        break;
    case QMetaType::Float:
    case QMetaType::Double:
        x = static_cast<long double>(v.toDouble(&ok));
        break;
    case QMetaType::QByteArray:
        // QByteArray::toDouble reads the C form only and fails on anything after the number.
        x = static_cast<long double>(v.toByteArray().toDouble(&ok));
        break;
    default:
        break;
    }
    if (!ok || !std::isfinite(x)) return std::nullopt;
    x = std::round(x);
    bool inRange = false;
    switch (mapType) {
    case rtU8:
        inRange = Detail::Within<quint8>(x);
        break;
    case rtS8:
        inRange = Detail::Within<qint8>(x);
        break;
    case rtU16:
        inRange = Detail::Within<quint16>(x);
        break;
    case rtS16:
        inRange = Detail::Within<qint16>(x);
        break;
    case rtU32:
        inRange = Detail::Within<quint32>(x);
        break;
    case rtS32:
        inRange = Detail::Within<qint32>(x);
        break;
    default:
        // Any whole number a 64-bit value holds.
        inRange = x >= -0x1p63L && x < 0x1p63L;
        break;
    }
    if (!inRange) return std::nullopt;
    return static_cast<qint64>(x);
}

} // namespace TamrelReg

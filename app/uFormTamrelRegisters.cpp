#include "uFormTamrelRegisters.h"

#include <QVariant>

#include <cmath>
#include <limits>

namespace {

template <typename T> bool Within(long double x) {
    return x >= static_cast<long double>(std::numeric_limits<T>::min()) &&
           x <= static_cast<long double>(std::numeric_limits<T>::max());
}

} // namespace

std::optional<qint64> TamrelReg::RegisterNumber(const TKvRegister &reg, TKvRegisterType mapType) {
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
        inRange = Within<quint8>(x);
        break;
    case rtS8:
        inRange = Within<qint8>(x);
        break;
    case rtU16:
        inRange = Within<quint16>(x);
        break;
    case rtS16:
        inRange = Within<qint16>(x);
        break;
    case rtU32:
        inRange = Within<quint32>(x);
        break;
    case rtS32:
        inRange = Within<qint32>(x);
        break;
    default:
        // Any whole number a 64-bit value holds.
        inRange = x >= -0x1p63L && x < 0x1p63L;
        break;
    }
    if (!inRange) return std::nullopt;
    return static_cast<qint64>(x);
}

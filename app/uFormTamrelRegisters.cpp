#include "uFormTamrelRegisters.h"

#include <QVariant>

#include <cmath>
#include <limits>

namespace {

template <typename T> bool Within(long double X) {
    return X >= static_cast<long double>(std::numeric_limits<T>::min()) &&
           X <= static_cast<long double>(std::numeric_limits<T>::max());
}

} // namespace

std::optional<qint64> TamrelReg::RegisterNumber(const TKvRegister &Reg, TKvRegisterType MapType) {
    const QVariant V = RegisterToVariant(Reg);
    long double X = 0;
    bool Ok = false;
    switch (V.typeId()) {
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        X = static_cast<long double>(V.toLongLong(&Ok));
        break;
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        X = static_cast<long double>(V.toULongLong(&Ok));
        break;
    case QMetaType::Float:
    case QMetaType::Double:
        X = static_cast<long double>(V.toDouble(&Ok));
        break;
    case QMetaType::QByteArray:
        // QByteArray::toDouble reads the C form only and fails on anything after the number.
        X = static_cast<long double>(V.toByteArray().toDouble(&Ok));
        break;
    default:
        break;
    }
    if (!Ok || !std::isfinite(X)) return std::nullopt;
    X = std::round(X);
    bool InRange = false;
    switch (MapType) {
    case rtU8:
        InRange = Within<quint8>(X);
        break;
    case rtS8:
        InRange = Within<qint8>(X);
        break;
    case rtU16:
        InRange = Within<quint16>(X);
        break;
    case rtS16:
        InRange = Within<qint16>(X);
        break;
    case rtU32:
        InRange = Within<quint32>(X);
        break;
    case rtS32:
        InRange = Within<qint32>(X);
        break;
    default:
        // Any whole number a 64-bit value holds.
        InRange = X >= -0x1p63L && X < 0x1p63L;
        break;
    }
    if (!InRange) return std::nullopt;
    return static_cast<qint64>(X);
}

#include "uFormTamrelRegisters.h"

#include <QVariant>

#include <cmath>
#include <limits>

namespace {

TKvRegister Entry(quint8 Adr, TKvRegisterType Type, bool ReadOnly) {
    TKvRegister R;
    R.RegAdr = Adr;
    R.RegType = Type;
    R.RegReadOnly = ReadOnly;
    return R;
}

TKvRegistersDynArray BuildTable() {
    return {
        Entry(0, rtString, true), // firmware name
        Entry(1, rtU8, false),    // start/stop
        Entry(2, rtS32, true),    // channel 1 output voltage, mV
        Entry(3, rtU8, false),    // head type
        Entry(4, rtU8, false),    // manual control
        Entry(5, rtU16, false),   // channel 1 manual duty, %
        Entry(6, rtU16, false),   // channel 1 set input voltage, mV
        Entry(7, rtS32, true),    // head temperature, 0.1 degC
        Entry(8, rtS32, true),    // channel 1 current, 0.01 A
        Entry(9, rtU16, false),   // channel 2 manual duty, %
        Entry(10, rtU16, false),  // pump type
        Entry(11, rtS32, true),   // channel 2 output voltage, mV
        Entry(12, rtU16, false),  // channel 2 set input voltage, mV
        Entry(13, rtS32, true),   // channel 2 current, 0.01 A
        Entry(14, rtU8, false),   // manual regulation unit
        Entry(15, rtU16, false),  // channel 1 manual output, 0.1 V
        Entry(16, rtU16, false),  // channel 2 manual output, 0.1 V
    };
}

} // namespace

const TKvRegistersDynArray &TesterRegistersInfo() {
    static const TKvRegistersDynArray Table = BuildTable();
    return Table;
}

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

// Register contents to and from variant values, error texts and command names.
#include "uKvProtocol.h"

#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

template <typename T> T ReadLE(const QByteArray &Raw) {
    T v{};
    std::memcpy(&v, Raw.constData(), qMin<qsizetype>(sizeof(T), Raw.size()));
    return qFromLittleEndian(v);
}

template <typename T> void WriteLE(QByteArray &Raw, T v) {
    v = qToLittleEndian(v);
    std::memcpy(Raw.data(), &v, sizeof(T));
}

// A floating value rounds to the nearest integer, halves to even.
qint64 RoundHalfEven(double d) {
    const double r = std::nearbyint(d); // default rounding mode: to nearest, ties to even
    if (!std::isfinite(r) || r < double(std::numeric_limits<qint64>::min()) ||
        r >= double(std::numeric_limits<qint64>::max()))
        throw EKvConvertError("Could not convert variant value to an integer");
    return qint64(r);
}

qint64 VariantToInt64(const QVariant &Value) {
    switch (Value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return RoundHalfEven(Value.toDouble());
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = Value.toString().trimmed();
        bool ok = false;
        const qint64 i = text.toLongLong(&ok);
        if (ok) return i;
        const double d = text.toDouble(&ok);
        if (ok) return RoundHalfEven(d);
        throw EKvConvertError(QStringLiteral("Could not convert \"%1\" to a number").arg(text).toStdString());
    }
    case QMetaType::Bool:
        return Value.toBool() ? 1 : 0;
    case QMetaType::ULongLong: {
        const qulonglong u = Value.toULongLong();
        if (u > qulonglong(std::numeric_limits<qint64>::max()))
            throw EKvConvertError("Integer value out of range");
        return qint64(u);
    }
    default: {
        bool ok = false;
        const qint64 i = Value.toLongLong(&ok);
        if (!ok)
            throw EKvConvertError(QStringLiteral("Could not convert a value of type %1 to a number")
                                      .arg(QString::fromLatin1(Value.typeName() ? Value.typeName() : "empty"))
                                      .toStdString());
        return i;
    }
    }
}

double VariantToDouble(const QVariant &Value) {
    bool ok = false;
    const double d =
        Value.typeId() == QMetaType::QString ? Value.toString().trimmed().toDouble(&ok) : Value.toDouble(&ok);
    if (!ok) throw EKvConvertError("Could not convert value to a floating-point number");
    return d;
}

} // namespace

void RegisterToVariant(const TKvRegister &Reg, QVariant &Value) {
    if (Reg.RegType > KvRegisterTypeMax) return;
    const QByteArray &raw = Reg.RawData;
    if (raw.isEmpty()) {
        Value = QVariant(QByteArray());
        return;
    }
    switch (Reg.RegType) {
    case rtBinary:
    case rtString:
    case rtBinStream:
        Value = QVariant(raw);
        break;
    case rtU8:
        Value = QVariant::fromValue<quint8>(ReadLE<quint8>(raw));
        break;
    case rtS8:
        Value = QVariant::fromValue<qint8>(ReadLE<qint8>(raw));
        break;
    case rtU16:
        Value = QVariant::fromValue<quint16>(ReadLE<quint16>(raw));
        break;
    case rtS16:
        Value = QVariant::fromValue<qint16>(ReadLE<qint16>(raw));
        break;
    case rtU32:
        Value = QVariant::fromValue<quint32>(ReadLE<quint32>(raw));
        break;
    case rtS32:
        Value = QVariant::fromValue<qint32>(ReadLE<qint32>(raw));
        break;
    case rtFloat: {
        const quint32 bits = ReadLE<quint32>(raw);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        Value = QVariant(double(f));
        break;
    }
    case rtDouble: {
        const quint64 bits = ReadLE<quint64>(raw);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        Value = QVariant(d);
        break;
    }
    }
}

QVariant RegisterToVariant(const TKvRegister &Reg) {
    QVariant v;
    RegisterToVariant(Reg, v);
    return v;
}

void VariantToRegister(TKvRegister &Reg, const QVariant &Value) {
    switch (Reg.RegType) {
    case rtBinary:
    case rtString:
    case rtBinStream:
        if (Value.typeId() == QMetaType::QByteArray)
            Reg.RawData = Value.toByteArray();
        else if (Value.typeId() == QMetaType::QString)
            Reg.RawData = Value.toString().toLatin1();
        return;
    default:
        break;
    }
    if (Reg.RegType > KvRegisterTypeMax) return;
    Reg.RawData = QByteArray(KvRegisterTypeSize[Reg.RegType], '\0');
    switch (Reg.RegType) {
    case rtU8:
    case rtS8:
    case rtU16:
    case rtS16:
    case rtS32: {
        const qint64 i = VariantToInt64(Value);
        if (i < std::numeric_limits<qint32>::min() || i > std::numeric_limits<qint32>::max())
            throw EKvConvertError("Integer value out of the 32-bit range");
        const quint32 u = quint32(qint32(i));
        if (Reg.RegType == rtU8 || Reg.RegType == rtS8)
            WriteLE<quint8>(Reg.RawData, quint8(u));
        else if (Reg.RegType == rtU16 || Reg.RegType == rtS16)
            WriteLE<quint16>(Reg.RawData, quint16(u));
        else
            WriteLE<quint32>(Reg.RawData, u);
        break;
    }
    case rtU32:
        WriteLE<quint32>(Reg.RawData, quint32(quint64(VariantToInt64(Value))));
        break;
    case rtFloat: {
        const float f = float(VariantToDouble(Value));
        quint32 bits;
        std::memcpy(&bits, &f, sizeof bits);
        WriteLE<quint32>(Reg.RawData, bits);
        break;
    }
    case rtDouble: {
        const double d = VariantToDouble(Value);
        quint64 bits;
        std::memcpy(&bits, &d, sizeof bits);
        WriteLE<quint64>(Reg.RawData, bits);
        break;
    }
    default:
        break;
    }
}

QString ErrorText(TKvPError Error) {
    switch (Error) {
    case KvErrOk:
        return QStringLiteral("OK");
    case KvErrGeneral:
        return QStringLiteral("Ошибка");
    case KvErrCommand:
        return QStringLiteral("Неверная команда протокола");
    case KvErrParameter:
        return QStringLiteral("Неверный параметр");
    case KvErrDataType:
        return QStringLiteral("Неверный тип данных");
    case KvErrValue:
        return QStringLiteral("Некорректное значение");
    case KvErrRegAddress:
        return QStringLiteral("Неверный адрес регистра");
    default:
        return QString::number(Error);
    }
}

QString CommandName(quint8 Command) {
    switch (Command) {
    case KvCodec::CmdWriteReg:
        return QStringLiteral("WriteReg");
    case KvCodec::CmdReadReg:
        return QStringLiteral("ReadReg");
    case KvCodec::CmdAutoSend:
        return QStringLiteral("Command_AutoSend");
    case KvCodec::CmdWriteReg2:
        return QStringLiteral("WriteReg2");
    case KvCodec::CmdReadReg2:
        return QStringLiteral("ReadReg2");
    default:
        return QString::number(Command);
    }
}

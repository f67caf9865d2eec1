// Register contents to and from variant values, error texts and command names.
#include "uKvProtocol.h"

#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

template <typename T> T ReadLE(const QByteArray &raw) {
    T v{};
    std::memcpy(&v, raw.constData(), qMin<qsizetype>(sizeof(T), raw.size()));
    return qFromLittleEndian(v);
}

template <typename T> void WriteLE(QByteArray &raw, T v) {
    v = qToLittleEndian(v);
    std::memcpy(raw.data(), &v, sizeof(T));
}

// A floating value rounds to the nearest integer, halves to even.
qint64 RoundHalfEven(double d) {
    const double r = std::nearbyint(d); // default rounding mode: to nearest, ties to even
    if (!std::isfinite(r) || r < double(std::numeric_limits<qint64>::min()) ||
        r >= double(std::numeric_limits<qint64>::max()))
        throw EKvConvertError("Could not convert variant value to an integer");
    return qint64(r);
}

qint64 VariantToInt64(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        return RoundHalfEven(value.toDouble());
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = value.toString().trimmed();
        bool ok = false;
        const qint64 i = text.toLongLong(&ok);
        if (ok) return i;
        const double d = text.toDouble(&ok);
        if (ok) return RoundHalfEven(d);
        throw EKvConvertError(QStringLiteral("Could not convert \"%1\" to a number").arg(text).toStdString());
    }
    case QMetaType::Bool:
        return value.toBool() ? 1 : 0;
    case QMetaType::ULongLong: {
        const qulonglong u = value.toULongLong();
        if (u > qulonglong(std::numeric_limits<qint64>::max()))
            throw EKvConvertError("Integer value out of range");
        return qint64(u);
    }
    default: {
        bool ok = false;
        const qint64 i = value.toLongLong(&ok);
        if (!ok)
            throw EKvConvertError(QStringLiteral("Could not convert a value of type %1 to a number")
                                      .arg(QString::fromLatin1(value.typeName() ? value.typeName() : "empty"))
                                      .toStdString());
        return i;
    }
    }
}

double VariantToDouble(const QVariant &value) {
    bool ok = false;
    const double d =
        value.typeId() == QMetaType::QString ? value.toString().trimmed().toDouble(&ok) : value.toDouble(&ok);
    if (!ok) throw EKvConvertError("Could not convert value to a floating-point number");
    return d;
}

} // namespace

void RegisterToVariant(const TKvRegister &reg, QVariant &value) {
    if (reg.RegType > KvRegisterTypeMax) return;
    const QByteArray &raw = reg.RawData;
    if (raw.isEmpty()) {
        value = QVariant(QByteArray());
        return;
    }
    switch (reg.RegType) {
    case rtBinary:
    case rtString:
    case rtBinStream:
        value = QVariant(raw);
        break;
    case rtU8:
        value = QVariant::fromValue<quint8>(ReadLE<quint8>(raw));
        break;
    case rtS8:
        value = QVariant::fromValue<qint8>(ReadLE<qint8>(raw));
        break;
    case rtU16:
        value = QVariant::fromValue<quint16>(ReadLE<quint16>(raw));
        break;
    case rtS16:
        value = QVariant::fromValue<qint16>(ReadLE<qint16>(raw));
        break;
    case rtU32:
        value = QVariant::fromValue<quint32>(ReadLE<quint32>(raw));
        break;
    case rtS32:
        value = QVariant::fromValue<qint32>(ReadLE<qint32>(raw));
        break;
    case rtFloat: {
        const quint32 bits = ReadLE<quint32>(raw);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        value = QVariant(double(f));
        break;
    }
    case rtDouble: {
        const quint64 bits = ReadLE<quint64>(raw);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        value = QVariant(d);
        break;
    }
    }
}

QVariant RegisterToVariant(const TKvRegister &reg) {
    QVariant v;
    RegisterToVariant(reg, v);
    return v;
}

void VariantToRegister(TKvRegister &reg, const QVariant &value) {
    switch (reg.RegType) {
    case rtBinary:
    case rtString:
    case rtBinStream:
        if (value.typeId() == QMetaType::QByteArray)
            reg.RawData = value.toByteArray();
        else if (value.typeId() == QMetaType::QString)
            reg.RawData = value.toString().toLatin1();
        return;
    default:
        break;
    }
    if (reg.RegType > KvRegisterTypeMax) return;
    reg.RawData = QByteArray(KvRegisterTypeSize[reg.RegType], '\0');
    switch (reg.RegType) {
    case rtU8:
    case rtS8:
    case rtU16:
    case rtS16:
    case rtS32: {
        const qint64 i = VariantToInt64(value);
        if (i < std::numeric_limits<qint32>::min() || i > std::numeric_limits<qint32>::max())
            throw EKvConvertError("Integer value out of the 32-bit range");
        const quint32 u = quint32(qint32(i));
        if (reg.RegType == rtU8 || reg.RegType == rtS8)
            WriteLE<quint8>(reg.RawData, quint8(u));
        else if (reg.RegType == rtU16 || reg.RegType == rtS16)
            WriteLE<quint16>(reg.RawData, quint16(u));
        else
            WriteLE<quint32>(reg.RawData, u);
        break;
    }
    case rtU32:
        WriteLE<quint32>(reg.RawData, quint32(quint64(VariantToInt64(value))));
        break;
    case rtFloat: {
        const float f = float(VariantToDouble(value));
        quint32 bits;
        std::memcpy(&bits, &f, sizeof bits);
        WriteLE<quint32>(reg.RawData, bits);
        break;
    }
    case rtDouble: {
        const double d = VariantToDouble(value);
        quint64 bits;
        std::memcpy(&bits, &d, sizeof bits);
        WriteLE<quint64>(reg.RawData, bits);
        break;
    }
    default:
        break;
    }
}

QString ErrorText(TKvPError error) {
    switch (error) {
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
        return QString::number(error);
    }
}

QString CommandName(quint8 command) {
    switch (command) {
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
        return QString::number(command);
    }
}

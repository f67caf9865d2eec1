#include "uCliRegisters.h"

#include "uCliError.h"
#include "uTamrelTester.h"

#include <array>
#include <limits>

namespace {

using namespace TamrelReg;

constexpr std::array<TCliRegisterName, RegisterCount> Names{{
    {regFirmwareName, "ident", "firmwarename", ""},
    {regStartStop, "start", "startstop", ""},
    {regPosition1, "pos1", "position1", "mV"},
    {regResistiveHead, "head", "resistivehead", ""},
    {regManualControl, "manual", "manualcontrol", ""},
    {regManualControlPWM1, "pwm1", "manualcontrolpwm1", "%"},
    {regSetupVin1, "vin1", "setupvin1", "mV"},
    {regHeadTemperature, "temp", "headtemperature", "0.1 degC"},
    {regCurrent1, "cur1", "current1", "0.01 A"},
    {regManualControlPWM2, "pwm2", "manualcontrolpwm2", "%"},
    {regPumpType, "pump", "pumptype", ""},
    {regPosition2, "pos2", "position2", "mV"},
    {regSetupVin2, "vin2", "setupvin2", "mV"},
    {regCurrent2, "cur2", "current2", "0.01 A"},
    {regManualInVolt, "involt", "manualinvolt", ""},
    {regManualControlVolts1, "volts1", "manualcontrolvolts1", "0.1 V"},
    {regManualControlVolts2, "volts2", "manualcontrolvolts2", "0.1 V"},
}};

constexpr bool NamesInRegisterOrder() {
    for (int i = 0; i < RegisterCount; ++i)
        if (Names[i].RegAdr != i) return false;
    return true;
}
static_assert(NamesInRegisterOrder(), "Names[n] must name register n");

struct TRange {
    qint64 Min;
    qint64 Max;
};

template <class T> constexpr TRange RangeOf() {
    return {qint64(std::numeric_limits<T>::min()), qint64(std::numeric_limits<T>::max())};
}

bool NumberRange(TKvRegisterType type, TRange &range) {
    switch (type) {
    case rtU8:
        range = RangeOf<quint8>();
        return true;
    case rtS8:
        range = RangeOf<qint8>();
        return true;
    case rtU16:
        range = RangeOf<quint16>();
        return true;
    case rtS16:
        range = RangeOf<qint16>();
        return true;
    case rtU32:
        range = RangeOf<quint32>();
        return true;
    case rtS32:
        range = RangeOf<qint32>();
        return true;
    default:
        return false;
    }
}

} // namespace

const TCliRegisterName &CliRegisterName(quint8 regAdr) {
    return Names[qMin<int>(regAdr, RegisterCount - 1)];
}

quint8 ParseCliRegister(const QString &text) {
    bool isNumber = false;
    const int number = text.toInt(&isNumber, 10);
    if (isNumber) {
        if (number < 0 || number >= RegisterCount)
            throw ECliError(ceBadArguments, QStringLiteral("no register %1: the tester has registers 0 to %2")
                                                .arg(text)
                                                .arg(RegisterCount - 1));
        return quint8(number);
    }
    const QString name = text.toLower();
    for (const TCliRegisterName &n : Names)
        if (name == QLatin1String(n.Name) || name == QLatin1String(n.LongName)) return n.RegAdr;
    throw ECliError(ceBadArguments, QStringLiteral("unknown register \"%1\"").arg(text));
}

QVariant ParseCliValue(quint8 regAdr, const QString &text) {
    const TamrelReg::TRegisterDecl &decl = TamrelReg::RegisterMap[regAdr];
    const QString name = QString::fromLatin1(CliRegisterName(regAdr).Name);
    if (decl.RegType == rtString) {
        for (const QChar c : text)
            if (c.unicode() > 0xFF)
                throw ECliError(
                    ceBadArguments,
                    QStringLiteral("register %1 (%2) takes Latin-1 text only").arg(regAdr).arg(name));
        return QVariant(text.toLatin1());
    }
    if (decl.RegType == rtBinary) {
        const QByteArray hex = text.toLatin1();
        const QByteArray bytes = QByteArray::fromHex(hex);
        if (bytes.toHex() != hex.toLower())
            throw ECliError(
                ceBadArguments,
                QStringLiteral("register %1 (%2) takes hex digits, not \"%3\"").arg(regAdr).arg(name, text));
        return QVariant(bytes);
    }
    TRange range{};
    if (!NumberRange(decl.RegType, range))
        throw ECliError(ceBadArguments,
                        QStringLiteral("register %1 (%2) has a type the command line cannot write")
                            .arg(regAdr)
                            .arg(name));
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, 10);
    if (!ok)
        throw ECliError(
            ceBadArguments,
            QStringLiteral("register %1 (%2) takes a whole number, not \"%3\"").arg(regAdr).arg(name, text));
    if (value < range.Min || value > range.Max)
        throw ECliError(ceBadArguments, QStringLiteral("%1 is out of range for register %2 (%3): %4 to %5")
                                            .arg(value)
                                            .arg(regAdr)
                                            .arg(name)
                                            .arg(range.Min)
                                            .arg(range.Max));
    return QVariant(value);
}

QString CliValueText(const TKvRegister &reg) {
    if (reg.RegType == rtString) return TamrelTester::IdentText(reg.RawData);
    if (reg.RegType == rtBinary) return QString::fromLatin1(reg.RawData.toHex());
    const QVariant value = RegisterToVariant(reg);
    if (value.typeId() == QMetaType::QByteArray) return QString::fromLatin1(value.toByteArray().toHex());
    if (value.typeId() == QMetaType::Double) return QString::number(value.toDouble(), 'g', 17);
    return QString::number(value.toLongLong());
}

QJsonValue CliValueJson(const TKvRegister &reg) {
    const QVariant value = RegisterToVariant(reg);
    switch (value.typeId()) {
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QByteArray:
        return CliValueText(reg);
    default:
        return QJsonValue(value.toLongLong());
    }
}

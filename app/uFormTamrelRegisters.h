#pragma once
// The tester's register map: registers 0 to 16 with their types. A copy of this table is
// handed to every protocol engine the main window creates.
#include "uKvProtocol.h"

#include <optional>

namespace TamrelReg {
constexpr quint8 regFirmwareName = 0;
constexpr quint8 regStartStop = 1;
constexpr quint8 regPosition1 = 2;
constexpr quint8 regResistiveHead = 3;
constexpr quint8 regManualControl = 4;
constexpr quint8 regManualControlPWM1 = 5;
constexpr quint8 regSetupVin1 = 6;
constexpr quint8 regHeadTemperature = 7;
constexpr quint8 regCurrent1 = 8;
constexpr quint8 regManualControlPWM2 = 9;
constexpr quint8 regPumpType = 10;
constexpr quint8 regPosition2 = 11;
constexpr quint8 regSetupVin2 = 12;
constexpr quint8 regCurrent2 = 13;
constexpr quint8 regManualInVolt = 14;
constexpr quint8 regManualControlVolts1 = 15;
constexpr quint8 regManualControlVolts2 = 16;
constexpr int RegisterCount = 17;

// A received register's value as the whole number that the map's type (MapType) declares,
// whatever type the tester sent it in (the engine adopts the sender's type): integers as they
// are, floating values rounded to the nearest, a text that reads wholly as a decimal number.
// No value (std::nullopt) when it is none of these, not finite (NaN, an infinity), empty, or
// outside the range of MapType: such a value is unknown and is shown as unknown.
std::optional<qint64> RegisterNumber(const TKvRegister &Reg, TKvRegisterType MapType);
} // namespace TamrelReg

// 17 entries in register order: RegAdr = number, type and read-only flag of the map,
// DevAddress 0, not known, no updates, no data.
const TKvRegistersDynArray &TesterRegistersInfo();

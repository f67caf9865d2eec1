#pragma once
// Received register values as the main window reads them: by the type that the tester's
// register map declares.
#include "uKvProtocol.h"
#include "uTamrelRegisterMap.h"

#include <optional>

namespace TamrelReg {

// A received register's value as the whole number that the map's type (MapType) declares,
// whatever type the tester sent it in (the engine adopts the sender's type): integers as they
// are, floating values rounded to the nearest, a text that reads wholly as a decimal number.
// No value (std::nullopt) when it is none of these, not finite (NaN, an infinity), empty, or
// outside the range of MapType: such a value is unknown and is shown as unknown.
std::optional<qint64> RegisterNumber(const TKvRegister &reg, TKvRegisterType mapType);

} // namespace TamrelReg

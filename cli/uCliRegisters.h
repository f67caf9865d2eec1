#pragma once
// The tester's registers as the command line names them: each register of the map has a
// short name (what the program's labels call it, e.g. "vin1" for channel 1's set input
// voltage) and a long one made from its constant in the map ("setupvin1" for regSetupVin1).
// Both are taken in any letter case, and so is the register's number.
#include "uKvProtocol.h"
#include "uTamrelRegisterMap.h"

#include <QJsonValue>
#include <QString>
#include <QVariant>

struct TCliRegisterName {
    quint8 RegAdr;
    const char *Name;     // short name, used in output
    const char *LongName; // the map's constant without its "reg" prefix, lower case
    const char *Unit;     // the unit of the raw value, or "" for a code or a text
};

// One entry per register of the map, in register order.
const TCliRegisterName &CliRegisterName(quint8 regAdr);

// A register by number (0..16) or by name; ECliError (bad arguments) otherwise.
quint8 ParseCliRegister(const QString &text);

// Value as the register's type takes it: a whole number within the type's range for number
// types, Latin-1 text for a text register, hex digits for a binary one. ECliError (bad
// arguments) for text that is no such value.
QVariant ParseCliValue(quint8 regAdr, const QString &text);

// The register's mirrored contents as text (numbers in decimal, text up to its first NUL,
// binary as hex) and as JSON (a number or a string).
QString CliValueText(const TKvRegister &reg);
QJsonValue CliValueJson(const TKvRegister &reg);

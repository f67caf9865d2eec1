#pragma once
// The Tamrel tester's register map, kept in this one place: the numbers of its 17 registers,
// named as the program names them, and their declarations (type, read-only) in register
// order. The program hands a copy of the declarations to every protocol engine it creates;
// the port search, the device link, the simulated tester and the tests read the same map.
//
// Values are scaled integers: voltages in millivolts, currents in hundredths of an ampere, the
// manual output in tenths of a volt, the temperature in tenths of a degree Celsius, duty
// cycles in whole percent.
#include "uKvProtocol.h"

#include <array>

namespace TamrelReg {

constexpr quint8 regFirmwareName = 0;         // identification and firmware name, 8-bit text
constexpr quint8 regStartStop = 1;            // 1 = the program runs the tester, 0 = stopped
constexpr quint8 regPosition1 = 2;            // channel 1 measured output voltage, mV
constexpr quint8 regResistiveHead = 3;        // head type: 0 inductive, 1 resistive
constexpr quint8 regManualControl = 4;        // manual control: 0 off, any other value on
constexpr quint8 regManualControlPWM1 = 5;    // channel 1 manual duty cycle, %
constexpr quint8 regSetupVin1 = 6;            // channel 1 set input voltage, mV
constexpr quint8 regHeadTemperature = 7;      // head temperature, 0.1 degC
constexpr quint8 regCurrent1 = 8;             // channel 1 current, 0.01 A
constexpr quint8 regManualControlPWM2 = 9;    // channel 2 manual duty cycle, %
constexpr quint8 regPumpType = 10;            // pump type: 0 VE, 1 PE, 2 Zexel
constexpr quint8 regPosition2 = 11;           // channel 2 measured output voltage, mV
constexpr quint8 regSetupVin2 = 12;           // channel 2 set input voltage, mV
constexpr quint8 regCurrent2 = 13;            // channel 2 current, 0.01 A
constexpr quint8 regManualInVolt = 14;        // manual regulation unit: 0 percent, 1 volts
constexpr quint8 regManualControlVolts1 = 15; // channel 1 manual output, 0.1 V
constexpr quint8 regManualControlVolts2 = 16; // channel 2 manual output, 0.1 V
constexpr int RegisterCount = 17;

struct TRegisterDecl {
    quint8 RegAdr;
    TKvRegisterType RegType;
    bool RegReadOnly;
};

// One entry per register, in register order.
constexpr std::array<TRegisterDecl, RegisterCount> RegisterMap{{
    {regFirmwareName, rtString, true},
    {regStartStop, rtU8, false},
    {regPosition1, rtS32, true},
    {regResistiveHead, rtU8, false},
    {regManualControl, rtU8, false},
    {regManualControlPWM1, rtU16, false},
    {regSetupVin1, rtU16, false},
    {regHeadTemperature, rtS32, true},
    {regCurrent1, rtS32, true},
    {regManualControlPWM2, rtU16, false},
    {regPumpType, rtU16, false},
    {regPosition2, rtS32, true},
    {regSetupVin2, rtU16, false},
    {regCurrent2, rtS32, true},
    {regManualInVolt, rtU8, false},
    {regManualControlVolts1, rtU16, false},
    {regManualControlVolts2, rtU16, false},
}};

constexpr bool MapInRegisterOrder() {
    for (int i = 0; i < RegisterCount; ++i)
        if (RegisterMap[i].RegAdr != i) return false;
    return true;
}
static_assert(MapInRegisterOrder(), "RegisterMap[n] must declare register n");

} // namespace TamrelReg

// The declarations as engine records: RegAdr, type and read-only flag of the map, DevAddress 0,
// not known, no updates, no data.
inline const TKvRegistersDynArray &TesterRegistersInfo() {
    static const TKvRegistersDynArray table = [] {
        TKvRegistersDynArray t;
        t.reserve(TamrelReg::RegisterCount);
        for (const TamrelReg::TRegisterDecl &d : TamrelReg::RegisterMap) {
            TKvRegister r;
            r.RegAdr = d.RegAdr;
            r.RegType = d.RegType;
            r.RegReadOnly = d.RegReadOnly;
            t.append(r);
        }
        return t;
    }();
    return table;
}

#include "uFormTamrelRegisters.h"

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

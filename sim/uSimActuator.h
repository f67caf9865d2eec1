#pragma once
// The actuator head as the tester measures it, so that the program's read-outs, charts and
// hysteresis sweep show believable values. One channel turns its drive into an output
// voltage (the position sensor, millivolts) through a backlash element, which makes the
// rising and falling branches of a duty sweep lie apart, and a first-order lag; the coil
// current follows the output. The head temperature drifts slowly around 25 °C.
#include <QtGlobal>

struct TSimChannelInput {
    bool Manual = false;      // register 4 != 0
    bool VoltsMode = false;   // register 14 == 1
    int DutyPercent = 0;      // 0..100
    int SetupVinMv = 0;       // 0..5000
    int ManualTenthsVolt = 0; // 0..140
};

class TSimActuatorChannel {
public:
    // Half the width of the backlash, in percent of duty.
    static constexpr double HalfWidthPercent = 4.0;
    static constexpr double LagMs = 60.0;
    static constexpr int MinOutputMv = 0;
    static constexpr int MaxOutputMv = 5000;

    // The settled output on the branch the backlash element is on, for a backlash state.
    static double CurveMv(double playPercent);

    void Step(const TSimChannelInput &in, double dtMs);
    // Places the model at its settled state for In (no lag), as after a long time.
    void Settle(const TSimChannelInput &in);
    int OutputMv() const;
    int CurrentCentiAmp() const; // hundredths of an ampere

private:
    double Target(const TSimChannelInput &in);
    double FPlay = 0; // backlash state, percent
    double FOutMv = CurveMv(0);
};

class TSimActuator {
public:
    void Step(const TSimChannelInput &in1, const TSimChannelInput &in2, double dtMs);
    const TSimActuatorChannel &Channel(int index) const { return index == 0 ? FCh1 : FCh2; }
    int TemperatureTenths() const; // tenths of a degree Celsius

private:
    TSimActuatorChannel FCh1, FCh2;
    double FTimeMs = 0;
    double FHeat = 0; // tenths of a degree above the drift, from the coil currents
};

#include "uSimActuator.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double Pi = 3.14159265358979323846;

double Clamp(double V, double Lo, double Hi) {
    return std::min(std::max(V, Lo), Hi);
}
} // namespace

double TSimActuatorChannel::CurveMv(double PlayPercent) {
    // An S-shaped travel: the head barely moves below 5 % and saturates above 90 %.
    const double x = Clamp((PlayPercent - 5.0) / 85.0, 0.0, 1.0);
    const double s = x * x * (3.0 - 2.0 * x);
    return 400.0 + 4200.0 * s;
}

double TSimActuatorChannel::Target(const TSimChannelInput &In) {
    if (!In.Manual) // closed loop on the set input voltage: no backlash visible
        return Clamp(In.SetupVinMv, MinOutputMv, MaxOutputMv);
    // Volts mode drives the coil with 0..14 V, which the head sees like 0..100 % duty.
    const double drive =
        In.VoltsMode ? Clamp(In.ManualTenthsVolt, 0, 140) / 1.4 : Clamp(In.DutyPercent, 0, 100);
    if (drive > FPlay + HalfWidthPercent)
        FPlay = drive - HalfWidthPercent;
    else if (drive < FPlay - HalfWidthPercent)
        FPlay = drive + HalfWidthPercent;
    return CurveMv(FPlay);
}

void TSimActuatorChannel::Step(const TSimChannelInput &In, double DtMs) {
    const double target = Target(In);
    if (DtMs <= 0) return;
    const double k = 1.0 - std::exp(-DtMs / LagMs);
    FOutMv = Clamp(FOutMv + (target - FOutMv) * k, MinOutputMv, MaxOutputMv);
}

void TSimActuatorChannel::Settle(const TSimChannelInput &In) {
    FOutMv = Clamp(Target(In), MinOutputMv, MaxOutputMv);
}

int TSimActuatorChannel::OutputMv() const {
    return int(std::lround(FOutMv));
}

int TSimActuatorChannel::CurrentCentiAmp() const {
    // About 0.2 A holding current plus up to 2.5 A with the travel.
    return int(std::lround(20.0 + FOutMv * 0.05));
}

void TSimActuator::Step(const TSimChannelInput &In1, const TSimChannelInput &In2, double DtMs) {
    FCh1.Step(In1, DtMs);
    FCh2.Step(In2, DtMs);
    if (DtMs <= 0) return;
    FTimeMs += DtMs;
    // The coils warm the head by up to about 1.5 °C, with a time constant of a minute.
    const double heatTarget = (FCh1.CurrentCentiAmp() + FCh2.CurrentCentiAmp()) * 0.03;
    FHeat += (heatTarget - FHeat) * (1.0 - std::exp(-DtMs / 60000.0));
}

int TSimActuator::TemperatureTenths() const {
    // 25.0 °C with a slow swing of ±0.8 °C over two minutes.
    const double drift = 8.0 * std::sin(2.0 * Pi * FTimeMs / 120000.0);
    return int(std::lround(250.0 + drift + FHeat));
}

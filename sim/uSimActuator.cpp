#include "uSimActuator.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double Pi = 3.14159265358979323846;

double Clamp(double v, double lo, double hi) {
    return std::min(std::max(v, lo), hi);
}
} // namespace

double TSimActuatorChannel::CurveMv(double playPercent) {
    // An S-shaped travel: the head barely moves below 5 % and saturates above 90 %.
    const double x = Clamp((playPercent - 5.0) / 85.0, 0.0, 1.0);
    const double s = x * x * (3.0 - 2.0 * x);
    return 400.0 + 4200.0 * s;
}

double TSimActuatorChannel::Target(const TSimChannelInput &in) {
    if (!in.Manual) // closed loop on the set input voltage: no backlash visible
        return Clamp(in.SetupVinMv, MinOutputMv, MaxOutputMv);
    // Volts mode drives the coil with 0..14 V, which the head sees like 0..100 % duty.
    const double drive =
        in.VoltsMode ? Clamp(in.ManualTenthsVolt, 0, 140) / 1.4 : Clamp(in.DutyPercent, 0, 100);
    if (drive > FPlay + HalfWidthPercent)
        FPlay = drive - HalfWidthPercent;
    else if (drive < FPlay - HalfWidthPercent)
        FPlay = drive + HalfWidthPercent;
    return CurveMv(FPlay);
}

void TSimActuatorChannel::Step(const TSimChannelInput &in, double dtMs) {
    const double target = Target(in);
    if (dtMs <= 0) return;
    const double k = 1.0 - std::exp(-dtMs / LagMs);
    FOutMv = Clamp(FOutMv + (target - FOutMv) * k, MinOutputMv, MaxOutputMv);
}

void TSimActuatorChannel::Settle(const TSimChannelInput &in) {
    FOutMv = Clamp(Target(in), MinOutputMv, MaxOutputMv);
}

int TSimActuatorChannel::OutputMv() const {
    return int(std::lround(FOutMv));
}

int TSimActuatorChannel::CurrentCentiAmp() const {
    // About 0.2 A holding current plus up to 2.5 A with the travel.
    return int(std::lround(20.0 + FOutMv * 0.05));
}

void TSimActuator::Step(const TSimChannelInput &in1, const TSimChannelInput &in2, double dtMs) {
    FCh1.Step(in1, dtMs);
    FCh2.Step(in2, dtMs);
    if (dtMs <= 0) return;
    FTimeMs += dtMs;
    // The coils warm the head by up to about 1.5 °C, with a time constant of a minute.
    const double heatTarget = (FCh1.CurrentCentiAmp() + FCh2.CurrentCentiAmp()) * 0.03;
    FHeat += (heatTarget - FHeat) * (1.0 - std::exp(-dtMs / 60000.0));
}

int TSimActuator::TemperatureTenths() const {
    // 25.0 °C with a slow swing of ±0.8 °C over two minutes.
    const double drift = 8.0 * std::sin(2.0 * Pi * FTimeMs / 120000.0);
    return int(std::lround(250.0 + drift + FHeat));
}

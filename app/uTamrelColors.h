#pragma once
// The program's colours are written down as 32-bit numbers in the Windows layout of the
// tester's original documentation: red in the low byte, green in the next, blue in the third.
// Every such number becomes a QColor here and nowhere else.
#include <QColor>
#include <QtGlobal>

namespace TamrelColors {

constexpr QColor FromWinColor(quint32 value) {
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

constexpr quint32 clRed = 255;                   // channel 1 series, voltage series
constexpr quint32 clBlue = 16711680;             // channel 2 series, current series
constexpr quint32 clChannel1Backward = 6328575;  // red 255, green 144, blue 96
constexpr quint32 clChannel2Backward = 16736400; // red 144, green 96, blue 255
constexpr quint32 clChartBackground = 15132387;  // red 227, green 230, blue 230
constexpr quint32 clMinorGrid = 14342874;        // grey 218
constexpr quint32 clSilver = 12632256;           // grey 192, the major grid

} // namespace TamrelColors

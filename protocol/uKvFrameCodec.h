#pragma once
// The stateless part of the frame codec: escaping, the two integrity checks and frame
// building and finding. The protocol engine and the tester simulator both speak through it.
//
// A frame on the line is 0x7E, the escaped body, 0x7E. The body is the payload followed
// either by one check byte (checksum mode: all bytes add up to 0 mod 256) or by the
// sender's packet counter and a CRC-16/MODBUS, low byte first (CRC mode: the CRC over the
// whole body is 0).
//
// The wire vocabulary is named here once, for every side that speaks it: the delimiter and
// escapes, the command codes, the address marker, the error codes of acknowledgements and the
// register types with their sizes.
#include <QByteArray>
#include <QtGlobal>

#include <array>

// Error codes, the last byte of an acknowledgement.
using TKvPError = quint8;
constexpr TKvPError KvErrOk = 0;
constexpr TKvPError KvErrGeneral = 1;
constexpr TKvPError KvErrCommand = 2;
constexpr TKvPError KvErrParameter = 3;
constexpr TKvPError KvErrDataType = 16;
constexpr TKvPError KvErrValue = 17;
constexpr TKvPError KvErrRegAddress = 18;
constexpr TKvPError KvErrTimeOut = 255; // never on the wire: the engine's own "no answer came"

// Register types, one byte on the wire and in memory.
enum TKvRegisterType : quint8 {
    rtBinary = 0,
    rtString = 1,
    rtU8 = 2,
    rtS8 = 3,
    rtU16 = 4,
    rtS16 = 5,
    rtU32 = 6,
    rtS32 = 7,
    rtFloat = 8,
    rtDouble = 9,
    rtBinStream = 10,
};
constexpr quint8 KvRegisterTypeMax = 10;
// Size of a type whose values may have any length (byte strings).
constexpr quint8 KvAnySize = 255;
// Value size in bytes per type.
constexpr std::array<quint8, 11> KvRegisterTypeSize{KvAnySize, KvAnySize, 1, 1, 2, 2, 4, 4, 4, 8, KvAnySize};

namespace KvCodec {

constexpr char FrameDelimiter = 0x7E;
constexpr char EscapeByte = 0x7D;
// The byte that follows EscapeByte in place of an escaped delimiter (7D 3E) or escape (7D 3D).
constexpr char EscapedDelimiter = 0x3E;
constexpr char EscapedEscape = 0x3D;

// Optional prefix of a payload: the marker, then the device address, then the command.
constexpr quint8 AddressMarker = 0xAD;

// Command codes, the first payload byte after any address prefix.
constexpr quint8 CmdWriteReg = 0x07;     // write register / register value: [7][reg][type][value]
constexpr quint8 CmdReadReg = 0x08;      // read register: [8][reg]
constexpr quint8 CmdAutoSend = 0x09;     // register value the device sends unasked
constexpr quint8 CmdReadBlock = 0x10;    // [16][region][address, 2][count, 2] / block data
constexpr quint8 CmdWriteBlock = 0x11;   // [17][region][address, 2][data] / count written
constexpr quint8 CmdWriteReg2 = 0x12;    // CmdWriteReg in the new command set
constexpr quint8 CmdReadReg2 = 0x13;     // CmdReadReg in the new command set
constexpr quint8 CmdClearBlock = 0x15;   // [21][region][address, 2][count, 2]
constexpr quint8 CmdFirmwarePage = 0x1A; // [26][page index, 2][data] / [26][status]
constexpr quint8 CmdLoaderInfo = 0x52;   // boot-loader query ('R') / its information
constexpr quint8 CmdLoaderStart = 0x53;  // start of update ('S'): [83][firmware size, 4]
constexpr quint8 CmdAck = 0x82;          // acknowledgement: [130][command][reg][error]
constexpr quint8 CmdAck2 = 0x94;         // acknowledgement in the new command set

// CRC-16/MODBUS (reflected 0xA001, init 0xFFFF, no final xor) of the first Count bytes.
quint16 CalcCrc16(const char *data, qsizetype count, quint16 crc = 0xFFFF);
inline quint16 CalcCrc16(const QByteArray &data, qsizetype count) {
    return CalcCrc16(data.constData(), qMin(count, data.size()));
}
inline quint16 CalcCrc16(const QByteArray &data) {
    return CalcCrc16(data.constData(), data.size());
}

// 8-bit sum of all bytes, mod 256.
quint8 CalcCheckSum(const QByteArray &data);

// 0x7D -> 7D 3D first, then 0x7E -> 7D 3E (the 0x7D bytes of the second pass are not escaped again).
QByteArray Escape(const QByteArray &body);
// 7D 3E -> 7E first, then 7D 3D -> 7D; any other 7D passes through.
QByteArray Unescape(const QByteArray &body);

// Body of a frame before escaping.
QByteArray BodyCheckSum(const QByteArray &payload);
QByteArray BodyCrc16(const QByteArray &payload, quint8 packetCounter);

// Complete frames with both delimiters.
QByteArray FrameCheckSum(const QByteArray &payload);
QByteArray FrameCrc16(const QByteArray &payload, quint8 packetCounter);

inline bool BodyPassesCheckSum(const QByteArray &body) {
    return CalcCheckSum(body) == 0;
}
inline bool BodyPassesCrc16(const QByteArray &body) {
    return CalcCrc16(body) == 0;
}

// Takes the next frame body out of Buffer, following the receiver's rules: bytes before the
// opening delimiter go with the frame; two adjacent delimiters drop the first; the closing
// delimiter is consumed. Returns false when no complete frame is in the buffer (Buffer then
// keeps its bytes). On true, Body holds the still escaped body, possibly empty (adjacent
// delimiters give an empty body with Skipped = true).
bool TakeFrame(QByteArray &buffer, QByteArray &body, bool &skipped);

// The same rules without moving any bytes: looks for the next frame from Pos and, on true,
// moves Pos past what the frame consumed; on false Pos stays. Taking many frames this way and
// removing the consumed bytes once costs time in proportion to the bytes, not their square.
bool NextFrame(const QByteArray &buffer, qsizetype &pos, QByteArray &body, bool &skipped);

// Keeps Buffer at most MaxSize bytes by dropping the oldest bytes, cutting at a delimiter
// when one lies in the part that is kept.
void CapBuffer(QByteArray &buffer, qsizetype maxSize);

} // namespace KvCodec

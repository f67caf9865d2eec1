#pragma once
// The stateless part of the frame codec: escaping, the two integrity checks and frame
// building and finding. The protocol engine and the tester simulator both speak through it.
//
// A frame on the line is 0x7E, the escaped body, 0x7E. The body is the payload followed
// either by one check byte (checksum mode: all bytes add up to 0 mod 256) or by the
// sender's packet counter and a CRC-16/MODBUS, low byte first (CRC mode: the CRC over the
// whole body is 0).
#include <QByteArray>
#include <QtGlobal>

namespace KvCodec {

constexpr char FrameDelimiter = 0x7E;
constexpr char EscapeByte = 0x7D;

// CRC-16/MODBUS (reflected 0xA001, init 0xFFFF, no final xor) of the first Count bytes.
quint16 CalcCrc16(const char *Data, qsizetype Count, quint16 Crc = 0xFFFF);
inline quint16 CalcCrc16(const QByteArray &Data, qsizetype Count) {
    return CalcCrc16(Data.constData(), qMin(Count, Data.size()));
}
inline quint16 CalcCrc16(const QByteArray &Data) { return CalcCrc16(Data.constData(), Data.size()); }

// 8-bit sum of all bytes, mod 256.
quint8 CalcCheckSum(const QByteArray &Data);

// 0x7D -> 7D 3D first, then 0x7E -> 7D 3E (the 0x7D bytes of the second pass are not escaped again).
QByteArray Escape(const QByteArray &Body);
// 7D 3E -> 7E first, then 7D 3D -> 7D; any other 7D passes through.
QByteArray Unescape(const QByteArray &Body);

// Body of a frame before escaping.
QByteArray BodyCheckSum(const QByteArray &Payload);
QByteArray BodyCrc16(const QByteArray &Payload, quint8 PacketCounter);

// Complete frames with both delimiters.
QByteArray FrameCheckSum(const QByteArray &Payload);
QByteArray FrameCrc16(const QByteArray &Payload, quint8 PacketCounter);

inline bool BodyPassesCheckSum(const QByteArray &Body) { return CalcCheckSum(Body) == 0; }
inline bool BodyPassesCrc16(const QByteArray &Body) { return CalcCrc16(Body) == 0; }

// Takes the next frame body out of Buffer, following the receiver's rules: bytes before the
// opening delimiter go with the frame; two adjacent delimiters drop the first; the closing
// delimiter is consumed. Returns false when no complete frame is in the buffer (Buffer then
// keeps its bytes). On true, Body holds the still escaped body, possibly empty (adjacent
// delimiters give an empty body with Skipped = true).
bool TakeFrame(QByteArray &Buffer, QByteArray &Body, bool &Skipped);

// The same rules without moving any bytes: looks for the next frame from Pos and, on true,
// moves Pos past what the frame consumed; on false Pos stays. Taking many frames this way and
// removing the consumed bytes once costs time in proportion to the bytes, not their square.
bool NextFrame(const QByteArray &Buffer, qsizetype &Pos, QByteArray &Body, bool &Skipped);

// Keeps Buffer at most MaxSize bytes by dropping the oldest bytes, cutting at a delimiter
// when one lies in the part that is kept.
void CapBuffer(QByteArray &Buffer, qsizetype MaxSize);

} // namespace KvCodec

#include "uKvFrameCodec.h"

#include <array>

namespace KvCodec {

namespace {
// Slicing-by-8 tables for the reflected CRC-16/MODBUS: Table[0] is the classic byte table,
// Table[k][i] is the CRC of byte i followed by k zero bytes. Eight bytes per step.
using TCrcTables = std::array<std::array<quint16, 256>, 8>;
constexpr TCrcTables MakeCrcTables() {
    TCrcTables t{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
        t[0][i] = crc;
    }
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i)
            t[k][i] = quint16((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    return t;
}
constexpr TCrcTables CrcTables = MakeCrcTables();
} // namespace

quint16 CalcCrc16(const char *Data, qsizetype Count, quint16 Crc) {
    const auto *p = reinterpret_cast<const quint8 *>(Data);
    while (Count >= 8) {
        const quint8 b0 = quint8(p[0] ^ (Crc & 0xFF)), b1 = quint8(p[1] ^ (Crc >> 8));
        Crc = quint16(CrcTables[7][b0] ^ CrcTables[6][b1] ^ CrcTables[5][p[2]] ^ CrcTables[4][p[3]] ^
                      CrcTables[3][p[4]] ^ CrcTables[2][p[5]] ^ CrcTables[1][p[6]] ^ CrcTables[0][p[7]]);
        p += 8;
        Count -= 8;
    }
    while (Count-- > 0)
        Crc = quint16((Crc >> 8) ^ CrcTables[0][(Crc ^ *p++) & 0xFF]);
    return Crc;
}

quint8 CalcCheckSum(const QByteArray &Data) {
    quint8 sum = 0;
    for (char c : Data)
        sum = quint8(sum + quint8(c));
    return sum;
}

QByteArray Escape(const QByteArray &Body) {
    // Both passes in one walk: a 0x7D becomes 7D 3D and a 0x7E becomes 7D 3E; the 0x7D
    // written for a 0x7E is never looked at again, exactly as in the two-pass rule.
    QByteArray out;
    out.reserve(Body.size() + 4);
    for (char c : Body) {
        if (c == EscapeByte) {
            out.append(EscapeByte);
            out.append(EscapedEscape);
        } else if (c == FrameDelimiter) {
            out.append(EscapeByte);
            out.append(EscapedDelimiter);
        } else {
            out.append(c);
        }
    }
    return out;
}

namespace {
// One left-to-right pass that replaces the pair 7D <Second> by Result.
QByteArray UnescapePass(const QByteArray &In, char Second, char Result) {
    if (!In.contains(EscapeByte)) return In;
    QByteArray out;
    out.reserve(In.size());
    const qsizetype n = In.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (In[i] == EscapeByte && i + 1 < n && In[i + 1] == Second) {
            out.append(Result);
            ++i;
        } else {
            out.append(In[i]);
        }
    }
    return out;
}
} // namespace

QByteArray Unescape(const QByteArray &Body) {
    return UnescapePass(UnescapePass(Body, EscapedDelimiter, FrameDelimiter), EscapedEscape, EscapeByte);
}

QByteArray BodyCheckSum(const QByteArray &Payload) {
    QByteArray body = Payload;
    body.append(char(quint8(0 - CalcCheckSum(Payload))));
    return body;
}

QByteArray BodyCrc16(const QByteArray &Payload, quint8 PacketCounter) {
    QByteArray body = Payload;
    body.append(char(PacketCounter));
    const quint16 crc = CalcCrc16(body);
    body.append(char(crc & 0xFF));
    body.append(char(crc >> 8));
    return body;
}

namespace {
QByteArray Delimit(const QByteArray &Body) {
    QByteArray frame;
    const QByteArray escaped = Escape(Body);
    frame.reserve(escaped.size() + 2);
    frame.append(FrameDelimiter);
    frame.append(escaped);
    frame.append(FrameDelimiter);
    return frame;
}
} // namespace

QByteArray FrameCheckSum(const QByteArray &Payload) {
    return Delimit(BodyCheckSum(Payload));
}

QByteArray FrameCrc16(const QByteArray &Payload, quint8 PacketCounter) {
    return Delimit(BodyCrc16(Payload, PacketCounter));
}

bool NextFrame(const QByteArray &Buffer, qsizetype &Pos, QByteArray &Body, bool &Skipped) {
    Skipped = false;
    const qsizetype open = Buffer.indexOf(FrameDelimiter, Pos);
    if (open < 0) return false;
    const qsizetype close = Buffer.indexOf(FrameDelimiter, open + 1);
    if (close < 0) return false;
    if (close == open + 1) {
        // Two adjacent delimiters: the first goes, the second opens the next frame.
        Pos = open + 1;
        Body.clear();
        Skipped = true;
        return true;
    }
    Body = Buffer.mid(open + 1, close - open - 1);
    Pos = close + 1;
    return true;
}

bool TakeFrame(QByteArray &Buffer, QByteArray &Body, bool &Skipped) {
    qsizetype pos = 0;
    if (!NextFrame(Buffer, pos, Body, Skipped)) return false;
    Buffer.remove(0, pos);
    return true;
}

void CapBuffer(QByteArray &Buffer, qsizetype MaxSize) {
    if (Buffer.size() <= MaxSize) return;
    qsizetype cut = Buffer.size() - MaxSize;
    // Prefer to start the kept part at a delimiter, so a frame is never entered halfway.
    const qsizetype delim = Buffer.indexOf(FrameDelimiter, cut);
    if (delim >= 0) cut = delim;
    Buffer.remove(0, cut);
}

} // namespace KvCodec

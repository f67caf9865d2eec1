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

quint16 CalcCrc16(const char *data, qsizetype count, quint16 crc) {
    const auto *p = reinterpret_cast<const quint8 *>(data);
    while (count >= 8) {
        const quint8 b0 = quint8(p[0] ^ (crc & 0xFF)), b1 = quint8(p[1] ^ (crc >> 8));
        crc = quint16(CrcTables[7][b0] ^ CrcTables[6][b1] ^ CrcTables[5][p[2]] ^ CrcTables[4][p[3]] ^
                      CrcTables[3][p[4]] ^ CrcTables[2][p[5]] ^ CrcTables[1][p[6]] ^ CrcTables[0][p[7]]);
        p += 8;
        count -= 8;
    }
    while (count-- > 0)
        crc = quint16((crc >> 8) ^ CrcTables[0][(crc ^ *p++) & 0xFF]);
    return crc;
}

quint8 CalcCheckSum(const QByteArray &data) {
    quint8 sum = 0;
    for (char c : data)
        sum = quint8(sum + quint8(c));
    return sum;
}

QByteArray Escape(const QByteArray &body) {
    // Both passes in one walk: a 0x7D becomes 7D 3D and a 0x7E becomes 7D 3E; the 0x7D
    // written for a 0x7E is never looked at again, exactly as in the two-pass rule.
    QByteArray out;
    out.reserve(body.size() + 4);
    for (char c : body) {
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
QByteArray UnescapePass(const QByteArray &in, char second, char result) {
    if (!in.contains(EscapeByte)) return in;
    QByteArray out;
    out.reserve(in.size());
    const qsizetype n = in.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (in[i] == EscapeByte && i + 1 < n && in[i + 1] == second) {
            out.append(result);
            ++i;
        } else {
            out.append(in[i]);
        }
    }
    return out;
}
} // namespace

QByteArray Unescape(const QByteArray &body) {
    return UnescapePass(UnescapePass(body, EscapedDelimiter, FrameDelimiter), EscapedEscape, EscapeByte);
}

QByteArray BodyCheckSum(const QByteArray &payload) {
    QByteArray body = payload;
    body.append(char(quint8(0 - CalcCheckSum(payload))));
    return body;
}

QByteArray BodyCrc16(const QByteArray &payload, quint8 packetCounter) {
    QByteArray body = payload;
    body.append(char(packetCounter));
    const quint16 crc = CalcCrc16(body);
    body.append(char(crc & 0xFF));
    body.append(char(crc >> 8));
    return body;
}

namespace {
QByteArray Delimit(const QByteArray &body) {
    QByteArray frame;
    const QByteArray escaped = Escape(body);
    frame.reserve(escaped.size() + 2);
    frame.append(FrameDelimiter);
    frame.append(escaped);
    frame.append(FrameDelimiter);
    return frame;
}
} // namespace

QByteArray FrameCheckSum(const QByteArray &payload) {
    return Delimit(BodyCheckSum(payload));
}

QByteArray FrameCrc16(const QByteArray &payload, quint8 packetCounter) {
    return Delimit(BodyCrc16(payload, packetCounter));
}

bool NextFrame(const QByteArray &buffer, qsizetype &pos, QByteArray &body, bool &skipped) {
    skipped = false;
    const qsizetype open = buffer.indexOf(FrameDelimiter, pos);
    if (open < 0) return false;
    const qsizetype close = buffer.indexOf(FrameDelimiter, open + 1);
    if (close < 0) return false;
    if (close == open + 1) {
        // Two adjacent delimiters: the first goes, the second opens the next frame.
        pos = open + 1;
        body.clear();
        skipped = true;
        return true;
    }
    body = buffer.mid(open + 1, close - open - 1);
    pos = close + 1;
    return true;
}

bool TakeFrame(QByteArray &buffer, QByteArray &body, bool &skipped) {
    qsizetype pos = 0;
    if (!NextFrame(buffer, pos, body, skipped)) return false;
    buffer.remove(0, pos);
    return true;
}

void CapBuffer(QByteArray &buffer, qsizetype maxSize) {
    if (buffer.size() <= maxSize) return;
    qsizetype cut = buffer.size() - maxSize;
    // Prefer to start the kept part at a delimiter, so a frame is never entered halfway.
    const qsizetype delim = buffer.indexOf(FrameDelimiter, cut);
    if (delim >= 0) cut = delim;
    buffer.remove(0, cut);
}

} // namespace KvCodec

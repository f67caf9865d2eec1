// Fuzz target for the frame codec (uKvFrameCodec): the input is taken as received bytes and as a
// payload to send. Frame finding is held against a plain reading of the receiver's rules, every
// frame found is decoded and built again, and every payload built into a frame is found again.
#include "FuzzSupport.h"
#include "uKvFrameCodec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// CRC-16/MODBUS bit by bit, as the line's definition reads.
NO_COVERAGE quint16 RefCrc16(const std::string &data) {
    quint16 crc = 0xFFFF;
    for (unsigned char b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

// One left-to-right pass replacing the pair 7D <Second> by Result; written bytes are not looked at again.
NO_COVERAGE std::string RefPass(const std::string &in, char second, char result) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == 0x7D && i + 1 < in.size() && in[i + 1] == second) {
            out += result;
            ++i;
        } else {
            out += in[i];
        }
    }
    return out;
}
NO_COVERAGE std::string RefUnescape(const std::string &in) {
    return RefPass(RefPass(in, 0x3E, 0x7E), 0x3D, 0x7D);
}

struct TRefFrame {
    std::string Body;
    bool Skipped;
};
// The receiver's rules step by step: first delimiter, next delimiter; adjacent ones drop the
// first; otherwise the body goes and everything up to the closing delimiter with it.
NO_COVERAGE std::vector<TRefFrame> RefFrames(std::string buffer, std::string &rest) {
    std::vector<TRefFrame> out;
    for (;;) {
        const size_t open = buffer.find('\x7E');
        if (open == std::string::npos) break;
        const size_t close = buffer.find('\x7E', open + 1);
        if (close == std::string::npos) break;
        if (close == open + 1) {
            out.push_back({std::string(), true});
            buffer.erase(0, open + 1);
            continue;
        }
        out.push_back({buffer.substr(open + 1, close - open - 1), false});
        buffer.erase(0, close + 1);
    }
    rest = buffer;
    return out;
}

NO_COVERAGE std::string Std(const QByteArray &a) {
    return std::string(a.constData(), size_t(a.size()));
}

void CheckCrc(const QByteArray &data) {
    const std::string s = Std(data);
    CHECK(KvCodec::CalcCrc16(data) == RefCrc16(s));
    // Continuing a CRC over a split gives the CRC of the whole.
    const qsizetype cut = data.isEmpty() ? 0 : qsizetype(quint8(data[0])) % (data.size() + 1);
    const quint16 head = KvCodec::CalcCrc16(data.constData(), cut);
    CHECK(KvCodec::CalcCrc16(data.constData() + cut, data.size() - cut, head) == RefCrc16(s));
    CHECK(KvCodec::CalcCrc16(data, cut) == RefCrc16(s.substr(0, size_t(cut))));
}

void CheckEscaping(const QByteArray &data) {
    const QByteArray escaped = KvCodec::Escape(data);
    CHECK(!escaped.contains(KvCodec::FrameDelimiter));
    CHECK(KvCodec::Unescape(escaped) == data);
    CHECK(Std(KvCodec::Unescape(data)) == RefUnescape(Std(data)));
}

// A body that passes a check is built again from its payload (and counter) and must come out as
// the same bytes.
void CheckReencode(const QByteArray &escaped) {
    const QByteArray body = KvCodec::Unescape(escaped);
    if (body.size() >= 2 && KvCodec::BodyPassesCheckSum(body)) {
        const QByteArray payload = body.left(body.size() - 1);
        CHECK(KvCodec::BodyCheckSum(payload) == body);
        const QByteArray frame = KvCodec::FrameCheckSum(payload);
        CHECK(KvCodec::Unescape(frame.mid(1, frame.size() - 2)) == body);
    }
    if (body.size() >= 4 && KvCodec::BodyPassesCrc16(body)) {
        const QByteArray payload = body.left(body.size() - 3);
        const quint8 counter = quint8(body[body.size() - 3]);
        CHECK(KvCodec::BodyCrc16(payload, counter) == body);
        const QByteArray frame = KvCodec::FrameCrc16(payload, counter);
        CHECK(KvCodec::Unescape(frame.mid(1, frame.size() - 2)) == body);
    }
}

void CheckFinding(const QByteArray &data) {
    std::string refRest;
    const std::vector<TRefFrame> ref = RefFrames(Std(data), refRest);

    // NextFrame over the whole buffer, the way the engine takes many frames at once.
    qsizetype pos = 0;
    size_t n = 0;
    QByteArray body;
    bool skipped = false;
    while (KvCodec::NextFrame(data, pos, body, skipped)) {
        CHECK(n < ref.size());
        CHECK(skipped == ref[n].Skipped);
        CHECK(Std(body) == ref[n].Body);
        CHECK(!body.contains(KvCodec::FrameDelimiter));
        CHECK(pos > 0 && pos <= data.size());
        if (!skipped) CheckReencode(body);
        ++n;
    }
    CHECK(n == ref.size());
    CHECK(Std(data.mid(pos)) == refRest);
    const qsizetype before = pos;
    CHECK(!KvCodec::NextFrame(data, pos, body, skipped) && pos == before);

    // TakeFrame one at a time gives the same frames and leaves the same bytes.
    QByteArray buffer = data;
    n = 0;
    while (KvCodec::TakeFrame(buffer, body, skipped)) {
        CHECK(n < ref.size() && skipped == ref[n].Skipped && Std(body) == ref[n].Body);
        ++n;
    }
    CHECK(n == ref.size());
    CHECK(Std(buffer) == refRest);
}

// The input as a payload: framed in each mode it is found again, whole, between garbage and a
// second frame, and its payload comes back.
void CheckFraming(const QByteArray &payload) {
    if (payload.isEmpty()) return;
    const quint8 counter = quint8(payload[payload.size() - 1]);
    for (bool crc : {false, true}) {
        const QByteArray frame =
            crc ? KvCodec::FrameCrc16(payload, counter) : KvCodec::FrameCheckSum(payload);
        CHECK(frame.startsWith(KvCodec::FrameDelimiter) && frame.endsWith(KvCodec::FrameDelimiter));
        QByteArray line = QByteArray("garbage") + frame + frame;
        QByteArray body;
        bool skipped = true;
        for (int k = 0; k < 2; ++k) {
            CHECK(KvCodec::TakeFrame(line, body, skipped));
            CHECK(!skipped);
            const QByteArray plain = KvCodec::Unescape(body);
            if (crc) {
                CHECK(KvCodec::BodyPassesCrc16(plain));
                CHECK(plain.left(plain.size() - 3) == payload && quint8(plain[plain.size() - 3]) == counter);
            } else {
                CHECK(KvCodec::BodyPassesCheckSum(plain));
                CHECK(plain.left(plain.size() - 1) == payload);
            }
        }
        CHECK(line.isEmpty());
    }
}

void CheckCap(const QByteArray &data) {
    if (data.isEmpty()) return;
    const qsizetype max = qsizetype(quint8(data[0])) % (data.size() + 1);
    QByteArray buffer = data;
    KvCodec::CapBuffer(buffer, max);
    CHECK(buffer.size() <= max || buffer == data);
    CHECK(data.endsWith(buffer));
    if (data.size() > max) {
        // The kept part starts at a delimiter whenever the allowed tail holds one.
        const bool tailHasDelimiter = data.right(max).contains(KvCodec::FrameDelimiter);
        if (tailHasDelimiter)
            CHECK(buffer.startsWith(KvCodec::FrameDelimiter));
        else
            CHECK(buffer.size() == max);
    } else {
        CHECK(buffer == data);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *raw, size_t size) {
    const QByteArray data(reinterpret_cast<const char *>(raw), qsizetype(size));
    CheckCrc(data);
    CheckEscaping(data);
    CheckFinding(data);
    CheckFraming(data);
    CheckCap(data);
    return 0;
}

#pragma once
// What the simulated tester was told in a register write it received.
#include "uKvFrameCodec.h"
#include "uSimDevice.h"

// The register value of a write frame as the tester got it: [cmd][reg][type][value LE],
// unescaped, the value 1, 2 or 4 bytes wide by its type.
inline qint64 WrittenValue(const TSimFrameRecord &f) {
    const QByteArray body = KvCodec::Unescape(f.Raw.mid(1, f.Raw.size() - 2));
    qint64 v = 0;
    const int size = (quint8(body[2]) <= 3) ? 1 : (quint8(body[2]) <= 5 ? 2 : 4);
    for (int i = size - 1; i >= 0; --i)
        v = (v << 8) | quint8(body[3 + i]);
    return v;
}

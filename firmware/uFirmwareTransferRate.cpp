#include "uFirmwareTransferRate.h"

#include <cmath>

void TFirmwareTransferRate::Start(quint32 nowMs) {
    FStartMs = nowMs;
    FSamples.clear();
    FSamples.append({nowMs, 0});
}

void TFirmwareTransferRate::Sample(quint32 nowMs, quint32 bytes) {
    if (FSamples.isEmpty()) Start(nowMs);
    FSamples.append({nowMs, bytes});
    // Keep one sample at or beyond the window's start, so that the window is always full.
    while (FSamples.size() > 2 && nowMs - FSamples[1].Ms >= WindowMs)
        FSamples.removeFirst();
}

double TFirmwareTransferRate::BytesPerSecond() const {
    if (FSamples.size() < 2) return 0;
    const TSample &first = FSamples.first();
    const TSample &last = FSamples.last();
    const quint32 span = last.Ms - first.Ms;
    if (span < MinSpanMs || last.Bytes < first.Bytes) return 0;
    return double(last.Bytes - first.Bytes) * 1000.0 / span;
}

qint64 TFirmwareTransferRate::SecondsLeft(quint32 total) const {
    const double speed = BytesPerSecond();
    if (speed <= 0) return -1;
    const quint32 done = Bytes();
    if (done >= total) return 0;
    return qint64(std::ceil(double(total - done) / speed));
}

quint32 TFirmwareTransferRate::ElapsedMs() const {
    return FSamples.isEmpty() ? 0 : FSamples.last().Ms - FStartMs;
}

quint32 TFirmwareTransferRate::Bytes() const {
    return FSamples.isEmpty() ? 0 : FSamples.last().Bytes;
}

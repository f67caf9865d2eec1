#include "uFirmwareTransferRate.h"

#include <cmath>

void TFirmwareTransferRate::Start(quint32 NowMs) {
    FStartMs = NowMs;
    FSamples.clear();
    FSamples.append({NowMs, 0});
}

void TFirmwareTransferRate::Sample(quint32 NowMs, quint32 Bytes) {
    if (FSamples.isEmpty()) Start(NowMs);
    FSamples.append({NowMs, Bytes});
    // Keep one sample at or beyond the window's start, so that the window is always full.
    while (FSamples.size() > 2 && NowMs - FSamples[1].Ms >= WindowMs)
        FSamples.removeFirst();
}

double TFirmwareTransferRate::BytesPerSecond() const {
    if (FSamples.size() < 2) return 0;
    const TSample &First = FSamples.first();
    const TSample &Last = FSamples.last();
    const quint32 Span = Last.Ms - First.Ms;
    if (Span < MinSpanMs || Last.Bytes < First.Bytes) return 0;
    return double(Last.Bytes - First.Bytes) * 1000.0 / Span;
}

qint64 TFirmwareTransferRate::SecondsLeft(quint32 Total) const {
    const double Speed = BytesPerSecond();
    if (Speed <= 0) return -1;
    const quint32 Done = Bytes();
    if (Done >= Total) return 0;
    return qint64(std::ceil(double(Total - Done) / Speed));
}

quint32 TFirmwareTransferRate::ElapsedMs() const {
    return FSamples.isEmpty() ? 0 : FSamples.last().Ms - FStartMs;
}

quint32 TFirmwareTransferRate::Bytes() const {
    return FSamples.isEmpty() ? 0 : FSamples.last().Bytes;
}

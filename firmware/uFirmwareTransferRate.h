#pragma once
// Speed of a firmware transfer and the time it still needs, from the bytes acknowledged so
// far. The speed is taken over the last two seconds, so that a line that slows down shows
// it soon; times are ticks of the 32-bit millisecond counter (differences taken unsigned).
#include <QVector>
#include <QtGlobal>

class TFirmwareTransferRate {
public:
    static constexpr quint32 WindowMs = 2000;
    // Shortest span of samples that gives a speed.
    static constexpr quint32 MinSpanMs = 250;

    void Start(quint32 nowMs);
    void Sample(quint32 nowMs, quint32 bytes);
    // Bytes per second over the window; 0 while the samples span less than MinSpanMs.
    double BytesPerSecond() const;
    // Whole seconds, rounded up, still needed for Total bytes; -1 while the speed is unknown.
    qint64 SecondsLeft(quint32 total) const;
    // Since Start, to the last sample.
    quint32 ElapsedMs() const;
    quint32 Bytes() const;

private:
    struct TSample {
        quint32 Ms;
        quint32 Bytes;
    };
    QVector<TSample> FSamples; // oldest first
    quint32 FStartMs = 0;
};

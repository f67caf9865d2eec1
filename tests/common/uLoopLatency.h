#pragma once
// The longest pause of the event loop while the object lives: a timer notes the largest gap
// between two of its runs, the one still open included. A window that stays responsive keeps
// the gap small whatever the line does meanwhile.
#include <QElapsedTimer>
#include <QTimer>

class TLoopLatency {
public:
    explicit TLoopLatency(int periodMs = 20) {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            const qint64 now = FClock.elapsed();
            FMaxGapMs = qMax(FMaxGapMs, now - FLast);
            FLast = now;
        });
        FClock.start();
        FTimer.start(periodMs);
    }
    qint64 MaxGap() const { return qMax(FMaxGapMs, FClock.elapsed() - FLast); }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLast = 0;
    qint64 FMaxGapMs = 0;
};

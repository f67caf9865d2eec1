#pragma once
// The longest pause of the event loop while the object lives: a timer notes the largest gap
// between two of its runs, the one still open included. A window that stays responsive keeps
// the gap small whatever the line does meanwhile.
//
// A gap counts the time the thread ran or waited for something (a lock, a socket, a disk),
// not the time it stood ready while other processes had the processors: the system tells the
// latter per thread (/proc/thread-self/schedstat, its second field in ns). On a loaded
// 2-core machine that share alone reaches hundreds of milliseconds, and it says nothing about
// the program. Where the system does not tell it, the whole gap counts.
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

class TLoopLatency {
public:
    explicit TLoopLatency(int periodMs = 20) {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            const qint64 now = FClock.elapsed();
            const qint64 ready = ReadyMs();
            FMaxGapMs = qMax(FMaxGapMs, (now - FLast) - (ready - FLastReady));
            FMaxWallGapMs = qMax(FMaxWallGapMs, now - FLast);
            FLast = now;
            FLastReady = ready;
        });
        FLastReady = ReadyMs();
        FClock.start();
        FTimer.start(periodMs);
    }
    // Call on the thread that made the object (the one whose loop is measured).
    qint64 MaxGap() const { return qMax(FMaxGapMs, (FClock.elapsed() - FLast) - (ReadyMs() - FLastReady)); }
    // The same with the time spent waiting for a processor included.
    qint64 MaxWallGap() const { return qMax(FMaxWallGapMs, FClock.elapsed() - FLast); }

    // Milliseconds this thread has stood ready to run without a processor; 0 where unknown.
    static qint64 ReadyMs() {
        QFile f(QStringLiteral("/proc/thread-self/schedstat"));
        if (!f.open(QIODevice::ReadOnly)) return 0;
        const QList<QByteArray> fields = f.readAll().simplified().split(' ');
        return fields.size() >= 2 ? fields[1].toLongLong() / 1000000 : 0;
    }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLast = 0;
    qint64 FLastReady = 0;
    qint64 FMaxGapMs = 0;
    qint64 FMaxWallGapMs = 0;
};

#pragma once
// Where a request/answer round trip spends its time, for the benchmarks: three marks on the
// path of one exchange and the time between them, summed.
//   - Read: the port's thread has read bytes from the line (link/uComPortCore.h);
//   - Dispatch: the engine hands a received register value on (uKvProtocol.cpp, on the thread
//     that runs the engine: the GUI thread, or the port's thread with the protocol there);
//   - Write: the engine gives the next frame to the link to send.
// Off unless a benchmark installs its totals (KvHopTrace::Active): then each mark costs one
// clock read and a few atomic operations; otherwise one relaxed load.
#include <QtGlobal>

#include <atomic>
#include <chrono>

namespace KvHopTrace {

enum THop { hpRead, hpDispatch, hpWrite };

struct TTotals {
    std::atomic<qint64> WriteToReadNs{0}, WriteToReadCount{0};         // line and tester
    std::atomic<qint64> ReadToDispatchNs{0}, ReadToDispatchCount{0};   // hand-over and parsing
    std::atomic<qint64> DispatchToWriteNs{0}, DispatchToWriteCount{0}; // to the next request
    std::atomic<qint64> LastWrite{-1}, LastRead{-1}, LastDispatch{-1};

    static double MeanUs(const std::atomic<qint64> &ns, const std::atomic<qint64> &count) {
        return count ? double(ns) / double(count) / 1000.0 : 0.0;
    }

    void Mark(THop hop) {
        const qint64 now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
        // Each hop counts from the latest mark before it and only once: a request sent without
        // an answer before it, or bytes read in several pieces, add nothing twice.
        const auto span = [now](std::atomic<qint64> &from, std::atomic<qint64> &sum,
                                std::atomic<qint64> &count) {
            const qint64 start = from.exchange(-1);
            if (start < 0) return;
            sum += now - start;
            ++count;
        };
        switch (hop) {
        case hpRead:
            span(LastWrite, WriteToReadNs, WriteToReadCount);
            LastRead = now;
            break;
        case hpDispatch:
            span(LastRead, ReadToDispatchNs, ReadToDispatchCount);
            LastDispatch = now;
            break;
        case hpWrite:
            span(LastDispatch, DispatchToWriteNs, DispatchToWriteCount);
            LastWrite = now;
            break;
        }
    }
};

// The totals marks go to; null: tracing is off.
inline std::atomic<TTotals *> Active{nullptr};

inline void Mark(THop hop) {
    if (TTotals *totals = Active.load(std::memory_order_relaxed)) totals->Mark(hop);
}

} // namespace KvHopTrace

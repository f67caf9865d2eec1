#include "uPlatformTick.h"

#include <atomic>
#include <chrono>

namespace KvPlatform {

namespace {
std::atomic<quint32> g_Offset{0};
std::atomic<bool> g_Frozen{false};
std::atomic<quint64> g_FrozenAt{0};

// The least the count reads at its first use. The system's monotonic clock has been running
// since the machine (or its container) started, normally for much longer; the floor only
// matters where it starts with the program. A count that starts near 0 would make a time
// stamp of 0 ("none yet") look less than a second old for the whole first second.
constexpr quint64 MinStartMs = 3600 * 1000;

quint64 MonotonicMs() {
    using namespace std::chrono;
    return quint64(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

quint64 Lift() {
    static const quint64 lift = [] {
        const quint64 first = MonotonicMs();
        return first < MinStartMs ? MinStartMs - first : 0;
    }();
    return lift;
}
} // namespace

quint32 TickCount() {
    const quint64 clock =
        g_Frozen.load(std::memory_order_acquire) ? g_FrozenAt.load(std::memory_order_relaxed) : MonotonicMs();
    return quint32(clock + Lift()) + g_Offset.load(std::memory_order_relaxed);
}

void FreezeTickCount(bool frozen) {
    if (frozen) g_FrozenAt.store(MonotonicMs(), std::memory_order_relaxed);
    g_Frozen.store(frozen, std::memory_order_release);
}

void SetTickCountOffset(quint32 offset) {
    g_Offset.store(offset, std::memory_order_relaxed);
}

quint32 TickCountOffset() {
    return g_Offset.load(std::memory_order_relaxed);
}

} // namespace KvPlatform

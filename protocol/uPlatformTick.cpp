#include "uPlatformTick.h"

#include <QElapsedTimer>
#include <atomic>

namespace KvPlatform {

namespace {
std::atomic<quint32> g_Offset{0};

const QElapsedTimer &Clock() {
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock;
}
} // namespace

quint32 TickCount() { return quint32(quint64(Clock().elapsed())) + g_Offset.load(std::memory_order_relaxed); }

void SetTickCountOffset(quint32 Offset) { g_Offset.store(Offset, std::memory_order_relaxed); }

quint32 TickCountOffset() { return g_Offset.load(std::memory_order_relaxed); }

} // namespace KvPlatform

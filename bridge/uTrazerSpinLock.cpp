// Waiting for the spin lock. A client takes it only to copy a few bytes, so the wait is
// usually short: a few tries and a yield get it. A client that holds it for long (or most of
// the time, freeing it for a moment now and then) must not cost this process a core, so the
// wait then sleeps, in steps that grow to a millisecond: each wake-up costs some CPU time, and
// a moment of a millisecond when the lock is free is still met most of the time. The limit is
// there for a client that died holding it, which must not hang the engine's thread.
#include "uTrazerSpinLock.h"
#include "uPlatformTick.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr int SpinTries = 64;
constexpr int YieldTries = 8;
constexpr std::chrono::microseconds FirstSleep{50};
// About the shortest moment a client is expected to leave the lock free.
constexpr std::chrono::microseconds LongestSleep{1000};

} // namespace

bool TTrazerSpinLock::Lock(quint32 maxWaitMs) {
    if (TryLock()) return true;
    const quint32 deadline = KvPlatform::TickCount() + maxWaitMs;
    // Tries only when the word reads free: reading keeps the cache line shared.
    for (int i = 0; i < SpinTries; ++i)
        if (Peek() == 0 && TryLock()) return true;
    for (int i = 0; i < YieldTries; ++i) {
        std::this_thread::yield();
        if (TryLock()) return true;
    }
    std::chrono::microseconds sleep = FirstSleep;
    for (;;) {
        if (KvPlatform::TickPassed(KvPlatform::TickCount(), deadline)) return false;
        std::this_thread::sleep_for(sleep);
        if (TryLock()) return true;
        sleep = std::min(sleep * 2, LongestSleep);
    }
}

// Waiting for the spin lock. A client takes it only to copy a few bytes, so the wait is short;
// the limit is there for a client that died holding it, which must not hang the engine's thread.
#include "uTrazerSpinLock.h"
#include "uPlatformTick.h"

#include <thread>

bool TTrazerSpinLock::Lock(quint32 maxWaitMs) {
    if (TryLock()) return true;
    const quint32 deadline = KvPlatform::TickCount() + maxWaitMs;
    for (;;) {
        std::this_thread::yield();
        if (TryLock()) return true;
        if (KvPlatform::TickPassed(KvPlatform::TickCount(), deadline)) return false;
    }
}

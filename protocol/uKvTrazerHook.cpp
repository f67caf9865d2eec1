// Storage of the server factory. Constant-initialised, so a library that installs its factory
// from a static initialiser finds it ready whatever the order in which libraries load.
#include "uKvTrazerHook.h"

#include <atomic>

namespace {
std::atomic<TTrazerServerFactory> InstalledFactory{nullptr};
} // namespace

void SetTrazerServerFactory(TTrazerServerFactory factory) {
    InstalledFactory.store(factory, std::memory_order_release);
}

TTrazerServerFactory TrazerServerFactory() {
    return InstalledFactory.load(std::memory_order_acquire);
}

#pragma once
// The spin lock of the shared block: a 32-bit word at the block's start, 0 free and 1 taken.
// Taken by an atomic exchange of 0 for 1, tried again while the word is not 0; released by an
// atomic decrement. Every client follows the same protocol, so the word is used through real
// atomic operations that work across processes.
#include <QtGlobal>

#include <atomic>
#include <cstdint>

class TTrazerSpinLock {
public:
    // Word: the block's first 4 bytes (the mapping starts on a page, so it is aligned).
    explicit TTrazerSpinLock(std::int32_t *word) : FWord(word) {}

    // One attempt.
    bool TryLock() {
        std::int32_t expected = 0;
        return std::atomic_ref<std::int32_t>(*FWord).compare_exchange_strong(
            expected, 1, std::memory_order_acquire, std::memory_order_relaxed);
    }
    // Tries until the lock is taken or MaxWaitMs milliseconds have passed, backing off from a
    // few quick tries to yields to short sleeps, so that a long wait costs little CPU time.
    // False: not taken.
    bool Lock(quint32 maxWaitMs);
    void Unlock() { std::atomic_ref<std::int32_t>(*FWord).fetch_sub(1, std::memory_order_release); }
    // The word as it is now (0 free, 1 taken, anything else written by a faulty client).
    std::int32_t Peek() const {
        return std::atomic_ref<std::int32_t>(*FWord).load(std::memory_order_relaxed);
    }

private:
    static_assert(std::atomic_ref<std::int32_t>::is_always_lock_free,
                  "the spin lock must be lock-free to work between processes");
    static_assert(std::atomic_ref<std::int32_t>::required_alignment <= 4);
    std::int32_t *FWord;
};

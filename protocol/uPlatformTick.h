#pragma once
// The system's 32-bit millisecond tick count. It wraps after about 49.7 days, so every
// difference of two ticks is taken unsigned (later - earlier) and every "has it passed"
// test is a signed look at that difference. Tests shift the counter with an offset to
// reach the wrap or a long silence without waiting.
#include <QtGlobal>

namespace KvPlatform {

// The system's monotonic clock in milliseconds (lifted to an hour if it reads less at its
// first use), plus the test offset; wraps at 2^32.
quint32 TickCount();

// Test hook: added to every later TickCount() result (wrapping). 0 = real time.
void SetTickCountOffset(quint32 offset);
quint32 TickCountOffset();

// Test hook: while frozen, the clock part of TickCount() stands at the moment it was frozen,
// so only the offset moves it; a test of spans between two calls then does not depend on how
// fast a loaded machine runs the code between them.
void FreezeTickCount(bool frozen);

// True when tick 'Now' is later than 'Deadline' (wrap-safe for spans under 2^31 ms).
inline bool TickPassed(quint32 now, quint32 deadline) {
    return qint32(now - deadline) > 0;
}

} // namespace KvPlatform

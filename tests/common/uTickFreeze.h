#pragma once
// Stops the clock under KvPlatform::TickCount() for a test's life, so that only the test's
// offset moves it: spans the code measures between two calls are then those the test sets,
// however slowly a loaded machine runs the code in between.
#include "uPlatformTick.h"

struct TTickFreeze {
    TTickFreeze() { KvPlatform::FreezeTickCount(true); }
    ~TTickFreeze() { KvPlatform::FreezeTickCount(false); }
    TTickFreeze(const TTickFreeze &) = delete;
    TTickFreeze &operator=(const TTickFreeze &) = delete;
};

#pragma once
// What a channel panel needs of the window that holds it: the connection, the guard that
// keeps a received value from being written back, and the state of the hysteresis sweep.
#include "uSweepPlan.h"

#include <QtGlobal>

class TKvProtocol;

class ITamrelChannelHost {
public:
    // True while the device link is connected.
    virtual bool LinkConnected() = 0;
    // The engine of the open connection; null while not connected.
    virtual TKvProtocol *LinkProtocol() = 0;
    // True while a received register is being shown: user-setting writes are skipped then.
    virtual bool SkipWrites() const = 0;
    virtual TDiagramMode CurrentDiagramMode() const = 0;

protected:
    ~ITamrelChannelHost() = default;
};

#pragma once
// Shared fixture parts of the link tests: a private runtime folder (so that parallel tests
// never see each other's simulated ports), a port table that lists only the simulated
// ports, and simulators on real pseudo-terminals.
#include "uComPortList.h"
#include "uPrivateRuntime.h"
#include "uSimPty.h"

#include <QDir>
#include <QtTest/QtTest>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Only the virtual-port folder: the host's own serial ports stay out of the tests.
class TVirtualPortTable : public IComPortTable {
public:
    TComNameDescriptions ReadTable() override {
        return ReadLinuxComPortTable(QStringLiteral("/nonexistent-sysfs"), QStringLiteral("/dev"),
                                     VirtualPortFolder());
    }
};

// The private runtime folder with its virtual-port folder (there even before a simulator has
// published a port), installed as the only ports that the port lists and the search see.
class TLinkRuntime : public TPrivateRuntime {
public:
    TLinkRuntime() {
        QDir().mkpath(VirtualPortFolder());
        SetComPortTable(std::make_shared<TVirtualPortTable>());
    }
    ~TLinkRuntime() { SetComPortTable(nullptr); }
};

inline std::unique_ptr<TSimPty> StartSim(const QString &ident, TSimOptions options = {}) {
    auto sim = std::make_unique<TSimPty>();
    options.Ident = ident;
    options.AutoSendPeriodMs = 0;
    QString error;
    if (!sim->Start(options, &error)) qFatal("simulator did not start: %s", qPrintable(error));
    return sim;
}

// A tester that sends its measured values unasked every PeriodMs.
inline std::unique_ptr<TSimPty> StartStreamingSim(const QString &ident, int periodMs) {
    TSimOptions options;
    options.Ident = ident;
    options.AutoSendPeriodMs = periodMs;
    auto sim = std::make_unique<TSimPty>();
    QString error;
    if (!sim->Start(options, &error)) qFatal("simulator did not start: %s", qPrintable(error));
    return sim;
}

inline int CountFrames(const TSimPty &sim, bool received, int command, int reg) {
    int n = 0;
    for (const TSimFrameRecord &f : sim.FrameLog())
        if (f.Received == received && f.Command == command && (reg < 0 || f.Register == reg)) ++n;
    return n;
}

// Ends the test program with a failure when the step it guards has not returned within Ms: a
// deadlock of the GUI thread cannot be caught by the test itself, and ctest would otherwise
// wait for its own time-out.
class TDeadlockWatchdog {
public:
    TDeadlockWatchdog(int ms, const char *step) : FThread([this, ms, step] { Watch(ms, step); }) {}
    ~TDeadlockWatchdog() {
        {
            std::lock_guard lock(FLock);
            FReturned = true;
        }
        FWake.notify_all();
        FThread.join();
    }

private:
    void Watch(int ms, const char *step) {
        std::unique_lock lock(FLock);
        if (FWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FReturned; })) return;
        std::fprintf(stderr, "FAIL!  : deadlock: %s did not return within %d ms\n", step, ms);
        std::fflush(stderr);
        std::_Exit(1);
    }
    std::mutex FLock;
    std::condition_variable FWake;
    bool FReturned = false;
    std::thread FThread;
};

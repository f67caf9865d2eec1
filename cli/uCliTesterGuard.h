#pragma once
// What a command that drives the tester's output changes, and putting it back on every way
// out: a sweep that completes, fails, times out or is stopped by a signal leaves channel 1's
// duty at its rest value, manual control and its unit as they were, and the tester stopped
// when the command started it.
#include "uCliConnection.h"

#include <QString>

class TCliTesterGuard {
public:
    explicit TCliTesterGuard(TCliConnection &connection) : FConnection(connection) {}
    // Puts the tester back when Restore has not run (errors are not reported from here).
    ~TCliTesterGuard();
    TCliTesterGuard(const TCliTesterGuard &) = delete;
    TCliTesterGuard &operator=(const TCliTesterGuard &) = delete;

    // Starts the tester when it is stopped, and channel 1's manual control in percent at duty,
    // noting what it was before. ECliError as the connection's writes.
    void Drive(int duty);
    // Channel 1's duty := restDuty, the unit and manual control as before Drive, then the
    // tester stopped if Drive started it. Runs after a signal too; every wait is bounded.
    // Returns what failed first, or an empty text.
    QString Restore(int restDuty);

private:
    TCliConnection &FConnection;
    bool FDriven = false;
    bool FStartedTester = false;
    bool FTurnedManualOn = false;
    bool FChangedUnit = false;
    qint64 FUnitBefore = 0;
    int FRestDuty = 0;
};

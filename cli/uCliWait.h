#pragma once
// Waiting inside a command: the main thread runs its event loop (the port's received bytes,
// the engine's time-outs and the search's reports all arrive through it) until a condition
// holds, the time is up, or Ctrl+C was pressed. Handlers that change what a wait is waiting
// for call CliWake, so that it looks again at once.
#include <functional>

enum TCliWaitResult { cwDone, cwTimeout, cwInterrupted };

// Waits until done() is true (looked at before the first wait, after every wake and at least
// every 100 ms), at most timeoutMs (< 0: no limit).
TCliWaitResult CliWait(const std::function<bool()> &done, int timeoutMs);
// Pauses for ms while the event loop runs; cwInterrupted when Ctrl+C came first.
TCliWaitResult CliPause(int ms);
void CliWake();

// Ctrl+C (SIGINT), SIGTERM and a closed terminal (SIGHUP) no longer end the program at once:
// they end the current wait with cwInterrupted, so that the command puts the tester back,
// closes the port and returns. A write to a closed pipe fails instead of ending the program.
// Needs the application object.
void InstallCliInterrupt();
bool CliInterrupted();
// Forgets a Ctrl+C once a command has taken it, so that it can still put the tester back
// (a further Ctrl+C interrupts that too).
void CliResetInterrupt();

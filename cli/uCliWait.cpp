#include "uCliWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QEventLoop *CurrentLoop = nullptr;
std::atomic<bool> Interrupted{false};
int SignalPipe[2] = {-1, -1};

// Only what is safe in a signal handler: one write to the pipe the event loop watches.
void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[1], &byte, 1);
}

constexpr int RecheckMs = 100;

} // namespace

void CliWake() {
    if (CurrentLoop) CurrentLoop->quit();
}

bool CliInterrupted() {
    return Interrupted.load();
}

void CliResetInterrupt() {
    Interrupted.store(false);
}

TCliWaitResult CliWait(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (Interrupted.load()) return cwInterrupted;
        if (done()) return cwDone;
        const qint64 left = timeoutMs < 0 ? RecheckMs : timeoutMs - clock.elapsed();
        if (left <= 0) return cwTimeout;
        QEventLoop loop;
        QTimer::singleShot(int(qMin<qint64>(left, RecheckMs)), &loop, &QEventLoop::quit);
        QEventLoop *outer = CurrentLoop;
        CurrentLoop = &loop;
        loop.exec();
        CurrentLoop = outer;
    }
}

TCliWaitResult CliPause(int ms) {
    const TCliWaitResult result = CliWait([] { return false; }, ms);
    return result == cwTimeout ? cwDone : result;
}

void InstallCliInterrupt() {
    if (SignalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0) return;
    auto *notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(SignalPipe[0], &byte, 1);
        Interrupted.store(true);
        CliWake();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A closed terminal: the command still puts the tester back before it ends.
    ::sigaction(SIGHUP, &action, nullptr);
    // Output that nobody reads any more (a closed pipe) fails its write instead of ending the
    // program before it has put the tester back.
    ::signal(SIGPIPE, SIG_IGN);
}

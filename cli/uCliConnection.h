#pragma once
// One connection of the command line program to the tester: the serial port at the tester's
// line settings and a protocol engine over it, with register reads and writes that wait for
// their answers, and the search for the tester that the program's connect button runs.
#include "uComPort.h"
#include "uKvProtocol.h"

#include <QString>

#include <functional>
#include <memory>

// How long the search waits for a tester to answer, as the program's link does.
inline constexpr int SearchTimeOutMs = 2000;

struct TCliFoundTester {
    QString Port;
    QString Ident;
};

// Searches every listed port (only the program's USB selection with onlyUsb) and returns the
// first that reports the tester's identification; ECliError (no tester) after
// SearchTimeOutMs without one.
TCliFoundTester FindCliTester(bool onlyUsb);

class TCliConnection {
public:
    // timeoutMs: how long a request waits for the tester's answer.
    explicit TCliConnection(int timeoutMs);
    ~TCliConnection(); // closes the port
    TCliConnection(const TCliConnection &) = delete;
    TCliConnection &operator=(const TCliConnection &) = delete;

    // Opens the port; ECliError when it cannot be opened.
    void Open(const QString &port);
    void Close();
    QString Port() const { return FPortName; }

    // Reads register 0 and checks that it names a tester; returns its text (the firmware
    // name). ECliError (timeout, or no tester when another device answers).
    QString Identify();
    // The register's contents as the tester reports them. ECliError (timeout).
    TKvRegister Read(quint8 regNum);
    // Writes and waits for the acknowledgement. ECliError: refused (the register map makes
    // the register read-only, or the tester refuses the value) or timeout.
    void Write(quint8 regNum, const QVariant &value);

    TKvProtocol *Protocol() const { return FProtocol.get(); }
    int TimeoutMs() const { return FTimeoutMs; }

    // A read or write whose answer does not come is sent again this often before it times
    // out (0: once only). Register reads and writes bear repeating: a lost answer on a noisy
    // line must not end a long command.
    int Retries = 0;

private:
    void OnReceivedRegister(quint8 regNum);
    // A request's wait: begun before it is sent, ended by its answer, acknowledgement, error or
    // the engine's time-out; the wait raises ECliError for a time-out or Ctrl+C.
    void BeginRequest(quint8 regNum, bool isRead);
    void EndRequest(quint8 regNum, TKvPError error);
    void WaitForRequest(const QString &what);
    // Runs one request (Begin, send, wait) again after a time-out, up to Retries times.
    void WithRetries(const std::function<void()> &request);

    const int FTimeoutMs;
    QString FPortName;
    std::unique_ptr<TComPort> FPort;
    std::unique_ptr<TKvProtocol> FProtocol;
    // The request a wait is for: its register, whether it has ended, and how.
    int FPendingReg = -1;
    bool FPendingRead = false; // a read, which a received value ends; else a write's acknowledgement
    bool FAnswered = false;
    TKvPError FAnswerError = KvErrOk;
};

// The English text of a protocol error code, for the command line's messages.
QString CliProtocolErrorText(TKvPError error);

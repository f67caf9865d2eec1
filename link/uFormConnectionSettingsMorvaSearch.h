#pragma once
// The port search: every listed port is probed at the same time by a thread of its own that
// opens the port and asks twice for register 0, the device's identification; every port
// that answers is reported once to the handler of the current search. The steps of the
// latest search are kept in a time-stamped log.
#include "uComPort.h"
#include "uComPortList.h"
#include "uSearchReport.h"

#include <QDateTime>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVector>

#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>

class QTimer;
class TKvProtocol;

struct TComSettings {
    qint32 BaudRate = 0;
    TDataBits DataBits = dbEight;
    TParityBits Parity = prNone;
    TStopBits StopBits = sbOneStopBit;
};

// The tester's line (uTamrelTester.h) in the port's terms, for a search and for a port of
// its own; the DTR line is raised, as the tester expects.
TComSettings TesterComSettings();
void ApplyTesterLine(TComPort &port);

using TOnSearchFinished =
    std::function<void(const QString &foundIdentStr, const QString &foundComPort, int foundComBoud)>;
// An error that the report handler raised. The report runs from a timer, so the error cannot
// go back to whoever started the search; it comes here instead.
using TOnSearchError = std::function<void(std::exception_ptr error)>;

// A search that cannot start.
class ESearchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TSearchThread;

class TSearchEngine {
public:
    QVector<QPointer<TSearchThread>> SearchThreads; // one per listed port, in list order
    TOnSearchFinished FOnSearchFinished;
    TOnSearchError FOnSearchError;
    // When set, reports are dropped once this object is gone (a closed settings window).
    QPointer<QObject> FReceiver;
    bool FHasReceiver = false;

    // What each listed port did, in list order (GUI thread): whether it opened, answered and
    // with what, or why it would not open.
    QVector<TSearchPortOutcome> Outcomes;
    TSearchPortOutcome *OutcomeOf(const QString &port);

    void OnThreadTryPortTerminate(TSearchThread *sender);
    void Report(const QString &foundIdentStr, const QString &foundComPort, int foundComBoud);
};

// One probe. Its thread only opens the port, asks for the identification and sleeps; the
// requests are sent, and the answers, the release and the time-outs handled, on the GUI
// thread, so the probe's port and engine are never used by two threads at once.
class TSearchThread : public QThread {
    Q_OBJECT
public:
    TSearchThread(const QString &portName, const TComSettings &settings);
    ~TSearchThread() override;

    std::unique_ptr<TComPort> ComPort;       // null once released
    std::unique_ptr<TKvProtocol> KvProtocol; // null once released
    QTimer *TimerKillMe = nullptr;
    QString FoundComPort;
    QString FoundIdentStr;
    QString ComPortName;
    // Why the port did not open: the host's error code and the port's message. Written by the
    // probe's thread before it ends, read on the GUI thread once it has ended.
    int OpenErrorCode = 0;
    QString OpenErrorText;

    bool Holds() const { return ComPort && KvProtocol; }
    bool Terminated() const { return FTerminated; }

protected:
    void run() override; // Execute

private:
    void SendRequest();
    void OutputData(const QByteArray &data);
    void ComPortRxChar(TComPort *sender, int count);
    void OnReceivedRegister(TKvProtocol *senderKvProtocol, quint8 regNum);
    void OnReceiveRegisterTimeOut(TKvProtocol *senderKvProtocol, quint8 regNum, quint8 ack);
    void TimerKillMeTimer();
    void Release();
    void ThreadEnded();
    void MaybeDispose();

    bool FTerminated = false;
    bool FDisposing = false;
};

// ---- The search's shared state
extern std::unique_ptr<TSearchEngine> SearchEngine; // the current search; null before the first
extern QStringList SearchLog;
extern QMutex SearchLogLock;
extern QDateTime SearchStartTime;

// Starts a search over GetComPortList(OnlyUSB) and returns at once. ESearchError "Wrong
// COM-port settings" for settings no port can take. Receiver, when given, must outlive the
// reports it wants: once it is destroyed they are dropped. An error raised by
// OnSearchFinished goes to OnSearchError (dropped with a warning when that is empty).
void StartSearch(const TComSettings &settings, bool onlyUsb, TOnSearchFinished onSearchFinished,
                 QObject *receiver = nullptr, TOnSearchError onSearchError = {});
void AddSearchLog(const QString &line);
// A copy of the log, taken under its lock.
QStringList SearchLogLines();
// Probes that still run or hold a port (of this and earlier searches).
int ActiveSearchProbes();

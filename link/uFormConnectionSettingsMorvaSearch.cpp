#include "uFormConnectionSettingsMorvaSearch.h"

#include "uKvProtocol.h"
#include "uKvThreadHandOver.h"
#include "uTamrelRegisterMap.h"
#include "uTamrelTester.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTimer>

std::unique_ptr<TSearchEngine> SearchEngine;
QStringList SearchLog;
QMutex SearchLogLock;
QDateTime SearchStartTime;

namespace {

// Every probe that has not been disposed, of the current and of discarded searches. GUI
// thread only.
QList<TSearchThread *> &Probes() {
    static QList<TSearchThread *> list;
    return list;
}

// At program end: let the probe threads finish and free what they still hold.
void ShutdownProbes() {
    const QList<TSearchThread *> left = Probes();
    Probes().clear();
    for (TSearchThread *p : left)
        p->wait();
    for (TSearchThread *p : left)
        delete p;
    SearchEngine.reset();
}

constexpr int ProbeAnswerTimeOutMs = 500;
constexpr int ProbeSecondRequestMs = 200;
constexpr int ProbeReleaseMs = 10;

} // namespace

// ---- Log ------------------------------------------------------------------------------

void AddSearchLog(const QString &line) {
    QMutexLocker l(&SearchLogLock);
    const double seconds = SearchStartTime.isValid()
                               ? double(SearchStartTime.msecsTo(QDateTime::currentDateTime())) / 1000.0
                               : 0.0;
    SearchLog.append(QLocale().toString(seconds, 'f', 3) + QLatin1Char(' ') + line);
}

QStringList SearchLogLines() {
    QMutexLocker l(&SearchLogLock);
    return SearchLog;
}

int ActiveSearchProbes() {
    return int(Probes().size());
}

// ---- Engine ---------------------------------------------------------------------------

TSearchPortOutcome *TSearchEngine::OutcomeOf(const QString &port) {
    for (TSearchPortOutcome &o : Outcomes)
        if (o.Port == port) return &o;
    return nullptr;
}

void TSearchEngine::OnThreadTryPortTerminate(TSearchThread *sender) {
    if (!sender->ComPort) {
        AddSearchLog(QStringLiteral("(") + sender->ComPortName + QStringLiteral(")  Thread Done!"));
    } else if (sender->ComPort->Tag == 1) {
        AddSearchLog(sender->ComPortName + QStringLiteral(" Thread Done!"));
    } else {
        AddSearchLog(sender->ComPortName + QStringLiteral(" Thread Done!   Can't Open"));
        // Why, in the technician's words.
        TSearchPortOutcome failed{
            sender->ComPortName, SearchOpenFailureState(sender->OpenErrorCode), {}, sender->OpenErrorText};
        AddSearchLog(ExplainSearch({failed}, true).constFirst());
        if (TSearchPortOutcome *o = OutcomeOf(sender->ComPortName)) *o = failed;
        sender->ComPort.reset();
        sender->KvProtocol.reset();
    }
}

void TSearchEngine::Report(const QString &foundIdentStr, const QString &foundComPort, int foundComBoud) {
    if (FHasReceiver && !FReceiver) return; // the window that asked has closed
    if (!FOnSearchFinished) return;
    // Copies: a handler may start a new search, which discards this engine.
    const TOnSearchFinished finished = FOnSearchFinished;
    const TOnSearchError onError = FOnSearchError;
    try {
        finished(foundIdentStr, foundComPort, foundComBoud);
    } catch (...) {
        // The report runs from a timer: nothing may leave it into Qt's event loop.
        if (onError)
            onError(std::current_exception());
        else
            qWarning("port search: the report handler raised an error that nobody receives");
    }
}

TComSettings TesterComSettings() {
    static_assert(TamrelTester::DataBits == 8 && TamrelTester::StopBits == 1,
                  "the tester's line is 8 data bits, no parity, one stop bit");
    return {TamrelTester::BaudRate, dbEight, prNone, sbOneStopBit};
}

void ApplyTesterLine(TComPort &port) {
    const TComSettings line = TesterComSettings();
    port.SetCustomBaudRate(line.BaudRate);
    port.SetDataBits(line.DataBits);
    port.SetParityBits(line.Parity);
    port.SetStopBits(line.StopBits);
    port.FlowControl.ControlDTR = dtrEnable;
}

// ---- Probe ----------------------------------------------------------------------------

TSearchThread::TSearchThread(const QString &portName, const TComSettings &settings) : ComPortName(portName) {
    ComPort = std::make_unique<TComPort>();
    ComPort->SetPort(portName);
    ComPort->SetCustomBaudRate(settings.BaudRate);
    ComPort->SetParityBits(settings.Parity);
    ComPort->SetDataBits(settings.DataBits);
    ComPort->SetStopBits(settings.StopBits);
    ComPort->Events = evRxChar;
    ComPort->OnRxChar = [this](TComPort *sender, int count) { ComPortRxChar(sender, count); };
    ComPort->FlowControl.ControlDTR = dtrEnable;

    KvProtocol = std::make_unique<TKvProtocol>(
        [this](const QByteArray &data) { OutputData(data); }, TesterRegistersInfo(),
        [this](TKvProtocol *sender, quint8 regNum) { OnReceivedRegister(sender, regNum); }, TOnAck{},
        TOutputData{}, false, QString(), false);
    KvProtocol->TimeOut = ProbeAnswerTimeOutMs;

    // Queued: the thread ends elsewhere, the bookkeeping is done on the GUI thread.
    connect(this, &QThread::finished, this, [this] { ThreadEnded(); });
}

TSearchThread::~TSearchThread() {
    wait();
    delete TimerKillMe;
}

void TSearchThread::run() {
    // What the probe wrote (the port, why it would not open) reaches the GUI thread with the
    // queued "finished": marked here and taken in ThreadEnded, on every way out.
    struct TEndMark {
        const TSearchThread *Probe;
        ~TEndMark() { KvThread::MarkRelease(Probe); }
    } endMark{this};
    AddSearchLog(ComPortName + QStringLiteral(" Thread Created"));
    try {
        ComPort->SetConnected(true);
    } catch (const EComPort &error) {
        OpenErrorCode = error.Code;
        OpenErrorText = QString::fromUtf8(error.what());
        return; // Tag stays 0: the end handler reports "Can't Open"
    } catch (const std::exception &error) {
        OpenErrorText = QString::fromUtf8(error.what());
        return;
    }
    AddSearchLog(ComPortName + QStringLiteral("   <in thread> Port Opened"));
    ComPort->Tag = 1;
    // From here on the port and the engine belong to the GUI thread.
    KvThread::Post(this, [this] { SendRequest(); });
    QThread::msleep(ProbeSecondRequestMs);
    KvThread::Post(this, [this] {
        if (Holds()) SendRequest();
    });
}

void TSearchThread::SendRequest() {
    if (TSearchPortOutcome *o = SearchEngine ? SearchEngine->OutcomeOf(ComPortName) : nullptr)
        if (o->State == spsOpening) o->State = spsOpened;
    KvProtocol->RequestRegister(TamrelReg::regFirmwareName, 0,
                                [this](TKvProtocol *sender, quint8 regNum, TKvPError ack) {
                                    OnReceiveRegisterTimeOut(sender, regNum, ack);
                                });
    AddSearchLog(ComPortName + QStringLiteral("   <in thread> Send Request"));
}

void TSearchThread::OutputData(const QByteArray &data) {
    if (!ComPort || !ComPort->Connected()) return;
    try {
        ComPort->WriteStr(data);
    } catch (const std::exception &) {
        // A port that cannot be written stays silent: its request times out.
    }
}

void TSearchThread::ComPortRxChar(TComPort *sender, int count) {
    QByteArray data;
    sender->ReadStr(data, count);
    if (KvProtocol) KvProtocol->InputData(data);
}

void TSearchThread::OnReceivedRegister(TKvProtocol *senderKvProtocol, quint8 regNum) {
    if (regNum == TamrelReg::regFirmwareName) {
        FoundIdentStr = TamrelTester::IdentText(senderKvProtocol->RegisterCopy(regNum).RawData);
        FoundComPort = ComPortName;
        AddSearchLog(ComPortName + QStringLiteral(" Received ") + FoundIdentStr);
        if (TSearchPortOutcome *o = SearchEngine ? SearchEngine->OutcomeOf(ComPortName) : nullptr) {
            o->State = spsAnswered;
            o->Ident = FoundIdentStr;
        }
    }
    if (!TimerKillMe) {
        TimerKillMe = new QTimer;
        TimerKillMe->setSingleShot(true);
        TimerKillMe->setInterval(ProbeReleaseMs);
        connect(TimerKillMe, &QTimer::timeout, this, [this] { TimerKillMeTimer(); });
    }
    if (!TimerKillMe->isActive()) TimerKillMe->start(); // two answers within the release time give one report
}

void TSearchThread::TimerKillMeTimer() {
    TimerKillMe->stop();
    if (!ComPort) return;
    const QString ident = FoundIdentStr, port = FoundComPort;
    const int baud = ComPort->CustomBaudRate();
    AddSearchLog(ComPortName + QStringLiteral(" Free"));
    // Closed before the report, so that the receiver can open the port at once.
    Release();
    if (SearchEngine) SearchEngine->Report(ident, port, baud);
    MaybeDispose();
}

void TSearchThread::OnReceiveRegisterTimeOut(TKvProtocol *, quint8, quint8) {
    if (!ComPort) return;
    ComPort->SetConnected(false);
    AddSearchLog(ComPortName + QStringLiteral(" Receive TimeOut, Free"));
    Release();
    MaybeDispose();
}

void TSearchThread::Release() {
    if (ComPort) ComPort->SetConnected(false);
    ComPort.reset();
    KvProtocol.reset();
}

void TSearchThread::ThreadEnded() {
    KvThread::MarkAcquire(this);
    FTerminated = true;
    if (SearchEngine)
        SearchEngine->OnThreadTryPortTerminate(this);
    else
        TSearchEngine().OnThreadTryPortTerminate(this);
    MaybeDispose();
}

void TSearchThread::MaybeDispose() {
    if (FDisposing || !FTerminated || ComPort) return;
    FDisposing = true;
    Probes().removeOne(this);
    deleteLater();
}

// ---- Start ----------------------------------------------------------------------------

void StartSearch(const TComSettings &settings, bool onlyUsb, TOnSearchFinished onSearchFinished,
                 QObject *receiver, TOnSearchError onSearchError) {
    if (settings.BaudRate == 0 || settings.DataBits > dbEight || settings.StopBits > sbTwoStopBits ||
        settings.Parity > prSpace)
        throw ESearchError("Wrong COM-port settings");
    static const bool registered = [] {
        qAddPostRoutine(ShutdownProbes);
        return true;
    }();
    Q_UNUSED(registered);

    const QStringList ports = GetComPortList(onlyUsb);
    // The previous search's probes are not stopped: they finish by themselves, and their
    // late answers go to whichever search is current then.
    SearchEngine = std::make_unique<TSearchEngine>();
    {
        QMutexLocker l(&SearchLogLock);
        SearchStartTime = QDateTime::currentDateTime();
        SearchLog.clear();
    }
    SearchEngine->FOnSearchFinished = std::move(onSearchFinished);
    SearchEngine->FOnSearchError = std::move(onSearchError);
    SearchEngine->FReceiver = receiver;
    SearchEngine->FHasReceiver = receiver != nullptr;
    SearchEngine->SearchThreads.resize(ports.size());
    for (const QString &port : ports)
        SearchEngine->Outcomes.append({port, spsOpening, {}, {}});
    for (qsizetype i = 0; i < ports.size(); ++i) {
        auto *probe = new TSearchThread(ports[i], settings);
        SearchEngine->SearchThreads[i] = probe;
        Probes().append(probe);
        probe->start();
    }
}

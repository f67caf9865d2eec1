#include "uFormConnectionSettingsMorvaSearch.h"

#include "uKvProtocol.h"
#include "uTamrelRegisterMap.h"

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
    static QList<TSearchThread *> List;
    return List;
}

// At program end: let the probe threads finish and free what they still hold.
void ShutdownProbes() {
    const QList<TSearchThread *> Left = Probes();
    Probes().clear();
    for (TSearchThread *P : Left)
        P->wait();
    for (TSearchThread *P : Left)
        delete P;
    SearchEngine.reset();
}

constexpr int ProbeAnswerTimeOutMs = 500;
constexpr int ProbeSecondRequestMs = 200;
constexpr int ProbeReleaseMs = 10;

} // namespace

// ---- Log ------------------------------------------------------------------------------

void AddSearchLog(const QString &Line) {
    QMutexLocker L(&SearchLogLock);
    const double Seconds = SearchStartTime.isValid()
                               ? double(SearchStartTime.msecsTo(QDateTime::currentDateTime())) / 1000.0
                               : 0.0;
    SearchLog.append(QLocale().toString(Seconds, 'f', 3) + QLatin1Char(' ') + Line);
}

QStringList SearchLogLines() {
    QMutexLocker L(&SearchLogLock);
    return SearchLog;
}

int ActiveSearchProbes() {
    return int(Probes().size());
}

// ---- Engine ---------------------------------------------------------------------------

void TSearchEngine::OnThreadTryPortTerminate(TSearchThread *Sender) {
    if (!Sender->ComPort) {
        AddSearchLog(QStringLiteral("(") + Sender->ComPortName + QStringLiteral(")  Thread Done!"));
    } else if (Sender->ComPort->Tag == 1) {
        AddSearchLog(Sender->ComPortName + QStringLiteral(" Thread Done!"));
    } else {
        AddSearchLog(Sender->ComPortName + QStringLiteral(" Thread Done!   Can't Open"));
        Sender->ComPort.reset();
        Sender->KvProtocol.reset();
    }
}

void TSearchEngine::Report(const QString &FoundIdentStr, const QString &FoundComPort, int FoundComBoud) {
    if (FHasReceiver && !FReceiver) return; // the window that asked has closed
    if (!FOnSearchFinished) return;
    // Copies: a handler may start a new search, which discards this engine.
    const TOnSearchFinished Finished = FOnSearchFinished;
    const TOnSearchError OnError = FOnSearchError;
    try {
        Finished(FoundIdentStr, FoundComPort, FoundComBoud);
    } catch (...) {
        // The report runs from a timer: nothing may leave it into Qt's event loop.
        if (OnError)
            OnError(std::current_exception());
        else
            qWarning("port search: the report handler raised an error that nobody receives");
    }
}

// ---- Probe ----------------------------------------------------------------------------

TSearchThread::TSearchThread(const QString &PortName, const TComSettings &Settings) : ComPortName(PortName) {
    ComPort = std::make_unique<TComPort>();
    ComPort->SetPort(PortName);
    ComPort->SetCustomBaudRate(Settings.BaudRate);
    ComPort->SetParityBits(Settings.Parity);
    ComPort->SetDataBits(Settings.DataBits);
    ComPort->SetStopBits(Settings.StopBits);
    ComPort->Events = evRxChar;
    ComPort->OnRxChar = [this](TComPort *Sender, int Count) { ComPortRxChar(Sender, Count); };
    ComPort->FlowControl.ControlDTR = dtrEnable;

    KvProtocol = std::make_unique<TKvProtocol>(
        [this](const QByteArray &Data) { OutputData(Data); }, TesterRegistersInfo(),
        [this](TKvProtocol *Sender, quint8 RegNum) { OnReceivedRegister(Sender, RegNum); }, TOnAck{},
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
    AddSearchLog(ComPortName + QStringLiteral(" Thread Created"));
    try {
        ComPort->SetConnected(true);
    } catch (...) {
        return; // Tag stays 0: the end handler reports "Can't Open"
    }
    AddSearchLog(ComPortName + QStringLiteral("   <in thread> Port Opened"));
    ComPort->Tag = 1;
    // From here on the port and the engine belong to the GUI thread.
    QMetaObject::invokeMethod(
        this, [this] { SendRequest(); }, Qt::QueuedConnection);
    QThread::msleep(ProbeSecondRequestMs);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (Holds()) SendRequest();
        },
        Qt::QueuedConnection);
}

void TSearchThread::SendRequest() {
    KvProtocol->RequestRegister(TamrelReg::regFirmwareName, 0,
                                [this](TKvProtocol *Sender, quint8 RegNum, TKvPError Ack) {
                                    OnReceiveRegisterTimeOut(Sender, RegNum, Ack);
                                });
    AddSearchLog(ComPortName + QStringLiteral("   <in thread> Send Request"));
}

void TSearchThread::OutputData(const QByteArray &Data) {
    if (!ComPort || !ComPort->Connected()) return;
    try {
        ComPort->WriteStr(Data);
    } catch (const std::exception &) {
        // A port that cannot be written stays silent: its request times out.
    }
}

void TSearchThread::ComPortRxChar(TComPort *Sender, int Count) {
    QByteArray Data;
    Sender->ReadStr(Data, Count);
    if (KvProtocol) KvProtocol->InputData(Data);
}

void TSearchThread::OnReceivedRegister(TKvProtocol *SenderKvProtocol, quint8 RegNum) {
    if (RegNum == TamrelReg::regFirmwareName) {
        QByteArray Raw = SenderKvProtocol->Registers[RegNum].RawData;
        const qsizetype Zero = Raw.indexOf('\0');
        if (Zero >= 0) Raw.truncate(Zero);
        FoundIdentStr = QString::fromLatin1(Raw);
        FoundComPort = ComPortName;
        AddSearchLog(ComPortName + QStringLiteral(" Received ") + FoundIdentStr);
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
    const QString Ident = FoundIdentStr, Port = FoundComPort;
    const int Baud = ComPort->CustomBaudRate();
    AddSearchLog(ComPortName + QStringLiteral(" Free"));
    // Closed before the report, so that the receiver can open the port at once.
    Release();
    if (SearchEngine) SearchEngine->Report(Ident, Port, Baud);
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

void StartSearch(const TComSettings &Settings, bool OnlyUSB, TOnSearchFinished OnSearchFinished,
                 QObject *Receiver, TOnSearchError OnSearchError) {
    if (Settings.BaudRate == 0 || Settings.DataBits > dbEight || Settings.StopBits > sbTwoStopBits ||
        Settings.Parity > prSpace)
        throw ESearchError("Wrong COM-port settings");
    static const bool Registered = [] {
        qAddPostRoutine(ShutdownProbes);
        return true;
    }();
    Q_UNUSED(Registered);

    const QStringList Ports = GetComPortList(OnlyUSB);
    // The previous search's probes are not stopped: they finish by themselves, and their
    // late answers go to whichever search is current then.
    SearchEngine = std::make_unique<TSearchEngine>();
    {
        QMutexLocker L(&SearchLogLock);
        SearchStartTime = QDateTime::currentDateTime();
        SearchLog.clear();
    }
    SearchEngine->FOnSearchFinished = std::move(OnSearchFinished);
    SearchEngine->FOnSearchError = std::move(OnSearchError);
    SearchEngine->FReceiver = Receiver;
    SearchEngine->FHasReceiver = Receiver != nullptr;
    SearchEngine->SearchThreads.resize(Ports.size());
    for (qsizetype I = 0; I < Ports.size(); ++I) {
        auto *Probe = new TSearchThread(Ports[I], Settings);
        SearchEngine->SearchThreads[I] = Probe;
        Probes().append(Probe);
        Probe->start();
    }
}

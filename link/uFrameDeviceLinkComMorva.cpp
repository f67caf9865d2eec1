#include "uFrameDeviceLinkComMorva.h"

#include "uBalloonHint.h"
#include "uFormConnectionSettingsMorva.h"
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uKvApplication.h"
#include "uKvProtocol.h"
#include "uPlatformSound.h"
#include "uPlatformTick.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QSemaphore>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <cxxabi.h>
#include <mutex>
#include <typeinfo>

std::array<QString, 5> LinkTexts = {
    QStringLiteral("Связь установлена"), QStringLiteral("Подключиться к устройству"),
    QStringLiteral("Устройство не найдено"), QStringLiteral("Потеряна связь"), QStringLiteral("устройства")};

namespace {

constexpr int CheckTimeOutIntervalMs = 100;
constexpr int SearchTimeOutMs = 2000;
constexpr quint32 LossSilenceMs = 3500;
constexpr quint32 KeepAlivePeriodMs = 1000;
constexpr int TransmitLockWaitMs = 3000;

QString ClassName(const std::exception &E) {
    int Status = 0;
    char *Name = abi::__cxa_demangle(typeid(E).name(), nullptr, nullptr, &Status);
    QString Out = QString::fromLatin1(Status == 0 && Name ? Name : typeid(E).name());
    std::free(Name);
    return Out;
}

// The factory declares the type of the start/stop register.
void SetStartRegister(TKvProtocol *P, int Value) {
    TKvRegister &R = P->Registers[TamrelReg::regStartStop];
    if (R.RegType >= rtU8 && R.RegType <= rtDouble)
        VariantToRegister(R, QVariant(Value));
    else
        R.RawData = QByteArray(1, char(Value));
}

bool OnGuiThread() {
    return QThread::currentThread() == qApp->thread();
}

} // namespace

class EDeviceLink : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

TFrameDeviceLinkComMorva::TFrameDeviceLinkComMorva(QWidget *Owner) : QFrame(Owner) {
    sButtonConnect = new QToolButton(this);
    sButtonConnect->setObjectName(QStringLiteral("sButtonConnect"));
    sButtonConnect->setCheckable(true);
    sButtonConnect->setFixedSize(68, 68);
    sButtonConnect->setIconSize(QSize(56, 56));
    sButtonConnect->setToolTip(LinkTexts[1]);
    sButtonConnect->setContextMenuPolicy(Qt::CustomContextMenu);
    auto *Layout = new QHBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->addWidget(sButtonConnect);

    PopupMenuConnection = new QMenu(this);
    PopupMenuConnection->setObjectName(QStringLiteral("PopupMenuConnection"));
    NSearchOnConnect = PopupMenuConnection->addAction(QStringLiteral("Автоматический поиск"));
    NSearchOnConnect->setObjectName(QStringLiteral("NSearchOnConnect"));
    NSearchOnConnect->setToolTip(QStringLiteral("Автоматический поиск"));
    NSearchOnConnect->setCheckable(true);
    NConnectionSettings = PopupMenuConnection->addAction(QStringLiteral("Настройки соединения вручную"));
    NConnectionSettings->setObjectName(QStringLiteral("NConnectionSettings"));

    BalloonHintInd = new TBalloonHint(this);
    BalloonHintInd->HideAfter = 2000;

    TimerCheckTimeOut = new QTimer(this);
    TimerCheckTimeOut->setInterval(CheckTimeOutIntervalMs);
    TimerSearchTimeOut = new QTimer(this);
    TimerSearchTimeOut->setInterval(SearchTimeOutMs);

    connect(sButtonConnect, &QToolButton::clicked, this,
            [this] { TKvApplication::RunGuarded([this] { sButtonConnectClick(); }); });
    connect(sButtonConnect, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &P) { PopupMenuConnection->popup(sButtonConnect->mapToGlobal(P)); });
    connect(PopupMenuConnection, &QMenu::aboutToShow, this, [this] { PopupMenuConnectionPopup(); });
    connect(NConnectionSettings, &QAction::triggered, this,
            [this] { TKvApplication::RunGuarded([this] { NConnectionSettingsClick(); }); });
    connect(TimerCheckTimeOut, &QTimer::timeout, this,
            [this] { TKvApplication::RunGuarded([this] { TimerCheckTimeOutTimer(); }); });
    connect(TimerSearchTimeOut, &QTimer::timeout, this,
            [this] { TKvApplication::RunGuarded([this] { TimerSearchTimeOutTimer(); }); });

    CreateComPort(nullptr);
    FImages = DefaultImageList();
    SetImageIndex(0);
}

TFrameDeviceLinkComMorva::~TFrameDeviceLinkComMorva() {
    TimerCheckTimeOut->stop();
    TimerSearchTimeOut->stop();
    if (ComPort) {
        // The owner is going away: close without running the close sequence.
        ComPort->OnAfterClose = nullptr;
        ComPort->OnAfterOpen = nullptr;
        ComPort->OnRxChar = nullptr;
        ComPort.reset();
    }
    FKvProtocol.reset();
}

// ---- Port object ------------------------------------------------------------------------

TSyncMethod TFrameDeviceLinkComMorva::WantedSyncMethod() const {
    return (FProtocolInThread || ReciveAsync) ? smNone : smThreadSync;
}

void TFrameDeviceLinkComMorva::CreateComPort(const TComPort *Settings) {
    auto P = std::make_unique<TComPort>();
    if (Settings) {
        P->SetCustomBaudRate(Settings->CustomBaudRate());
        P->SetPort(Settings->Port());
        P->SetParityBits(Settings->ParityBits());
        P->SetDataBits(Settings->DataBits());
        P->SetStopBits(Settings->StopBits());
    }
    P->Events = evRxChar;
    P->OnAfterOpen = [this](TComPort *S) { ComPortAfterOpen(S); };
    P->OnAfterClose = [this](TComPort *S) { ComPortAfterClose(S); };
    P->OnRxChar = [this](TComPort *S, int Count) { ComPortRxChar(S, Count); };
    P->OnLineLost = [this](TComPort *S) { TKvApplication::RunGuarded([&] { ComPortLineLost(S); }); };
    // A line that takes no byte for as long as the keep-alive tolerates silence is gone too.
    P->OutputStallMs = int(LossSilenceMs);
    P->FlowControl.ControlDTR = dtrEnable;
    P->SetSyncMethod(WantedSyncMethod());
    ComPort = std::move(P);
}

// ---- IDeviceLink --------------------------------------------------------------------

bool TFrameDeviceLinkComMorva::Connect() {
    if (IsConnected()) return false;
    if (ReCreateComPort) {
        std::unique_ptr<TComPort> Old = std::move(ComPort);
        CreateComPort(Old.get());
    }
    Disconnecting = false;
    ComPort->SetConnected(true);
    return true;
}

void TFrameDeviceLinkComMorva::Disconnect() {
    if (!IsConnected()) return;
    if (AutoStartStop && FKvProtocol) {
        SetStartRegister(FKvProtocol.get(), 0);
        FKvProtocol->WriteRegister(TamrelReg::regStartStop, 0, {}, {});
    }
    if (BeforeDisconnect) BeforeDisconnect(this);
    Disconnecting = true;
    // A stop write still under way is cut off with the close.
    ComPort->SetConnected(false);
}

bool TFrameDeviceLinkComMorva::IsConnected() {
    return ComPort && ComPort->Connected();
}

void TFrameDeviceLinkComMorva::Transmit(const QByteArray &Data) {
    if (Disconnecting) return;
    LogMessage(QStringLiteral("COM Transmit: "), Data);
    if (!IsConnected()) return;
    std::unique_lock<QRecursiveMutex> Lock(CritSectTransmit, std::defer_lock);
    if (!Lock.try_lock_for(std::chrono::milliseconds(TransmitLockWaitMs)))
        return; // dropped: another thread holds the line for too long
    ++FTransmitDepth;
    try {
        if (TransmitAsync) {
            // Never waits for the line: a write still under way keeps its place and this one
            // queues behind it. A line that takes nothing more is reported by the port.
            if (AsyncPtr) TComPort::TryFinishAsync(AsyncPtr);
            ComPort->WriteStrAsync(Data, AsyncPtr);
        } else {
            ComPort->WriteStr(Data);
        }
        BytesTransmitted += quint32(Data.size());
    } catch (const std::exception &E) {
        LogMessage(QStringLiteral("Async Transmit Exception: ") + ClassName(E) + QStringLiteral("; ") +
                   QString::fromUtf8(E.what()));
        AsyncPtr.reset();
        TKvApplication::RunGuarded([this] { CheckTimeOut(); });
    }
    --FTransmitDepth;
}

void TFrameDeviceLinkComMorva::SetOnReceived(TOutputData AOnReceived) {
    OnReceived = std::move(AOnReceived);
}

TOutputData TFrameDeviceLinkComMorva::GetTransmitProcedure() {
    return [this](const QByteArray &Data) { Transmit(Data); };
}

void TFrameDeviceLinkComMorva::SetOnDeviceLinkStartStop(TOnDeviceLinkStartStop AOnDeviceLinkStartStop,
                                                        TBeforeDisconnect ABeforeDisconnect,
                                                        bool AAutoStartStop) {
    OnDeviceLinkStartStop = std::move(AOnDeviceLinkStartStop);
    BeforeDisconnect = std::move(ABeforeDisconnect);
    AutoStartStop = AAutoStartStop;
}

void TFrameDeviceLinkComMorva::SetOnCreateProtocolRef(TOnCreateProtocolRef AOnCreateProtocolRef) {
    OnCreateProtocolRef = std::move(AOnCreateProtocolRef);
}

TKvProtocol *TFrameDeviceLinkComMorva::KvProtocol() {
    if (FKvProtocol) return FKvProtocol.get();
    if (!KvProtocolNil) {
        KvProtocolNil = true;
        throw EDeviceLink("Connection Lost (KvProtocol = nil)");
    }
    if (ComPort) ComPort->SetConnected(false);
    ConnectionLost = true;
    IndicateConnectionStatus(this, false);
    return nullptr;
}

void TFrameDeviceLinkComMorva::SetKvProtocol(TKvProtocol *AKvProtocol) {
    if (FKvProtocol.get() == AKvProtocol) return;
    FreeKvProtocol();
    FKvProtocol.reset(AKvProtocol);
}

void TFrameDeviceLinkComMorva::SetKeepConnection(bool AKeepConnection) {
    KeepConnection = AKeepConnection;
    LastReceiveTime = KvPlatform::TickCount();
    if (IsConnected() && KeepConnection)
        TimerCheckTimeOut->start();
    else
        TimerCheckTimeOut->stop();
}

bool TFrameDeviceLinkComMorva::GetCounters(double &SpeedReceive, double &SpeedTransmit, double &LoadRatio) {
    const qint32 T = qRound(QTime::currentTime().msecsSinceStartOfDay() / 1000.0);
    const qint32 D = T - LastGetCountersTime;
    if (D <= 0 || !IsConnected()) return false;
    SpeedReceive = double(quint32(BytesReceived - PrevBytesReceived)) / D;
    SpeedTransmit = double(quint32(BytesTransmitted - PrevBytesTransmitted)) / D;
    PrevBytesReceived = BytesReceived;
    PrevBytesTransmitted = BytesTransmitted;
    // The share of the line's capacity at ten bits per byte; a rate under 10 baud has none.
    const int BytesPerSecond = ComPort->CustomBaudRate() / 10;
    LoadRatio = BytesPerSecond > 0 ? qMax(SpeedReceive, SpeedTransmit) / BytesPerSecond : 0.0;
    LastGetCountersTime = T;
    return true;
}

bool TFrameDeviceLinkComMorva::GetProtocolInThread() {
    return FProtocolInThread;
}

void TFrameDeviceLinkComMorva::SetProtocolInThread(bool Value) {
    FProtocolInThread = Value;
    ComPort->SetSyncMethod(WantedSyncMethod());
    if (FKvProtocol) FKvProtocol->SyncWithGui = FProtocolInThread;
}

// ---- Open, receive, close -------------------------------------------------------------

void TFrameDeviceLinkComMorva::ComPortAfterOpen(TComPort *) {
    ++FConnectionSerial;
    AsyncPtr.reset(); // a record of the previous connection is simply forgotten
    ConnectionLost = false;
    if (OnCreateProtocolRef) OnCreateProtocolRef(this);
    LogMessage(QStringLiteral(" ---KeepConnection = ") +
               (KeepConnection ? QStringLiteral("True") : QStringLiteral("False")));
    BytesReceived = BytesTransmitted = PrevBytesReceived = PrevBytesTransmitted = 0;
    if (AutoStartStop) {
        if (TKvProtocol *P = KvProtocol()) {
            SetStartRegister(P, 1);
            P->WriteRegister(
                TamrelReg::regStartStop, 0,
                [this](TKvProtocol *S, quint8 R, TKvPError A) { OnStartWriteTimeOut(S, R, A); },
                [this](TKvProtocol *S, quint8 R) { OnStartWriteAck(S, R); });
        }
    }
    LastTransmitTime = 0;
    LastReceiveTime = KvPlatform::TickCount();
    if (KeepConnection) TimerCheckTimeOut->start();
    if (!AutoStartStop) IndicateConnectionStatus(this, false);
    if (OnDeviceLinkStartStop) OnDeviceLinkStartStop(this, OnStart, false);
}

void TFrameDeviceLinkComMorva::OnStartWriteAck(TKvProtocol *, quint8) {
    TKvApplication::RunGuarded([this] { IndicateConnectionStatus(this, false); });
}

void TFrameDeviceLinkComMorva::OnStartWriteTimeOut(TKvProtocol *, quint8, quint8) {
    TKvApplication::RunGuarded([this] {
        if (TKvProtocol *P = KvProtocol()) {
            SetStartRegister(P, 1);
            P->WriteRegister(TamrelReg::regStartStop, 0, {},
                             [this](TKvProtocol *S, quint8 R) { OnStartWriteAck(S, R); });
        }
    });
}

void TFrameDeviceLinkComMorva::ComPortRxChar(TComPort *Sender, int Count) {
    if (Disconnecting || Count == 0) return;
    TKvApplication::RunGuarded([&] {
        Sender->ReadStr(ReseivedStr, Count);
        BytesReceived += quint32(Count);
        LastReceiveTime = KvPlatform::TickCount();
        if (FProtocolInThread || !ReciveAsync || OnGuiThread()) {
            Deliver(ReseivedStr);
        } else {
            // The event thread waits for the GUI thread, but gives up once a close has begun:
            // the closing thread waits for this handler. A delivery that then still comes
            // belongs to a connection that is gone and is dropped.
            const QByteArray Chunk = ReseivedStr;
            const quint64 Serial = FConnectionSerial;
            auto Done = std::make_shared<QSemaphore>(0);
            QMetaObject::invokeMethod(
                this,
                [this, Chunk, Serial, Done] {
                    if (Serial == FConnectionSerial && !Disconnecting && IsConnected())
                        TKvApplication::RunGuarded([&] { Deliver(Chunk); });
                    Done->release();
                },
                Qt::QueuedConnection);
            while (!Done->tryAcquire(1, 20))
                if (Sender->Closing()) break;
        }
    });
}

// The device was unplugged or takes no more bytes: nothing more will pass this line, so the
// connection is lost now, whether or not keep-alive watches it.
void TFrameDeviceLinkComMorva::ComPortLineLost(TComPort *Sender) {
    if (Sender != ComPort.get() || !IsConnected()) return;
    LoseConnection();
}

void TFrameDeviceLinkComMorva::LoseConnection() {
    TimerCheckTimeOut->stop();
    ConnectionLost = true;
    ComPort->SetConnected(false);
}

void TFrameDeviceLinkComMorva::Deliver(const QByteArray &Data) {
    LogMessage(QStringLiteral("COM Received: "), Data);
    if (OnReceived) OnReceived(Data);
}

void TFrameDeviceLinkComMorva::ComPortAfterClose(TComPort *) {
    ++FConnectionSerial;
    TimerCheckTimeOut->stop();
    FreeKvProtocol();
    IndicateConnectionStatus(this, false);
    if (OnDeviceLinkStartStop) OnDeviceLinkStartStop(this, OnStop, ConnectionLost);
}

void TFrameDeviceLinkComMorva::FreeKvProtocol() {
    std::unique_ptr<TKvProtocol> P = std::move(FKvProtocol);
    if (!P) return;
    if (FTransmitDepth == 0) {
        P.reset();
        return;
    }
    // Closed from inside a transmission: the engine that called Transmit is still on the
    // stack, so it goes once the stack has unwound.
    TKvProtocol *Raw = P.release();
    QMetaObject::invokeMethod(
        qApp, [Raw] { delete Raw; }, Qt::QueuedConnection);
}

// ---- Keep-alive and loss --------------------------------------------------------------

void TFrameDeviceLinkComMorva::TimerCheckTimeOutTimer() {
    CheckTimeOut();
}

void TFrameDeviceLinkComMorva::CheckTimeOut() {
    if (!KeepConnection) return;
    if (!OnGuiThread()) {
        // A failed transmit on the port's thread: the check belongs to the GUI thread.
        QMetaObject::invokeMethod(
            this, [this] { TKvApplication::RunGuarded([this] { CheckTimeOut(); }); }, Qt::QueuedConnection);
        return;
    }
    const quint32 Now = KvPlatform::TickCount();
    if (quint32(Now - LastReceiveTime) > LossSilenceMs && LastTransmitTime != 0) {
        LoseConnection();
        return;
    }
    if (quint32(Now - LastTransmitTime) > KeepAlivePeriodMs) {
        LastTransmitTime = Now != 0 ? Now : 1; // 0 means "none sent since the open"
        SomeTransmit();
    }
}

void TFrameDeviceLinkComMorva::SomeTransmit() {
    if (!IsConnected() || !KeepConnection) return;
    if (TKvProtocol *P = KvProtocol())
        P->RequestRegister(KeepConnectionRegister, 0, [this](TKvProtocol *S, quint8 R, TKvPError A) {
            OnKeepConnectionTimeOut(S, R, A);
        });
}

void TFrameDeviceLinkComMorva::OnKeepConnectionTimeOut(TKvProtocol *, quint8, quint8) {
    TKvApplication::RunGuarded([this] { SomeTransmit(); });
}

// ---- Button, balloon, texts -----------------------------------------------------------

void TFrameDeviceLinkComMorva::IndicateConnectionStatus(IDeviceLink *, bool DeviceNotFound) {
    sButtonConnect->setChecked(IsConnected());
    if (ConnectionLost) {
        SetImageIndex(2);
        ShowBalloon(LinkTexts[3]);
        KvPlatform::SystemSound().PlayAsync(QStringLiteral("SystemHand"));
    } else if (sButtonConnect->isChecked()) {
        SetImageIndex(1);
        sButtonConnect->setToolTip(LinkTexts[0]);
    } else {
        SetImageIndex(0);
        sButtonConnect->setToolTip(LinkTexts[1]);
        if (DeviceNotFound) ShowBalloon(LinkTexts[2]);
    }
}

void TFrameDeviceLinkComMorva::ShowBalloon(const QString &Title) {
    BalloonHintInd->SetTitle(Title);
    BalloonHintInd->ShowHint(
        sButtonConnect->mapToGlobal(QPoint(sButtonConnect->width() / 2, sButtonConnect->height())));
}

void TFrameDeviceLinkComMorva::SetImageIndex(int Index) {
    FImageIndex = Index;
    sButtonConnect->setIcon(Index >= 0 && Index < FImages.size() ? FImages[Index] : QIcon());
}

void TFrameDeviceLinkComMorva::SetImageList(const QVector<QIcon> &Images) {
    FImages = Images;
    SetImageIndex(FImageIndex);
}

QVector<QIcon> TFrameDeviceLinkComMorva::DefaultImageList() {
    Q_INIT_RESOURCE(tamrel_link);
    return {QIcon(QStringLiteral(":/link/link_disconnected.svg")),
            QIcon(QStringLiteral(":/link/link_connected.svg")),
            QIcon(QStringLiteral(":/link/link_lost.svg"))};
}

void TFrameDeviceLinkComMorva::LogMessage(const QString &Caption, const QByteArray &Data) {
    TKvProtocol *P = FKvProtocol.get();
    if (P && P->LogEnabled()) P->LogMessage(Caption + DumpData(Data));
}

void TFrameDeviceLinkComMorva::DoEnglish() {
    NConnectionSettings->setText(QStringLiteral("Manual Connection Settings"));
    NSearchOnConnect->setText(QStringLiteral("Automatic search"));
    NSearchOnConnect->setToolTip(QStringLiteral("Automatic search"));
    LinkTexts = {QStringLiteral("Device Connected"), QStringLiteral("Connect to device"),
                 QStringLiteral("Device Not Found"), QStringLiteral("Connection Lost"),
                 QStringLiteral("device")};
    UseEnglish = true;
}

void TFrameDeviceLinkComMorva::PopupMenuConnectionPopup() {
    NSearchOnConnect->setText(NSearchOnConnect->toolTip() + QLatin1Char(' ') + LinkTexts[4] +
                              QStringLiteral(" \"") + DeviceIdentStr + QLatin1Char('"'));
}

bool TFrameDeviceLinkComMorva::SearchOnConnect() const {
    return NSearchOnConnect->isChecked();
}
void TFrameDeviceLinkComMorva::SetSearchOnConnect(bool Value) {
    NSearchOnConnect->setChecked(Value);
}
int TFrameDeviceLinkComMorva::BaudRate() const {
    return ComPort->CustomBaudRate();
}
void TFrameDeviceLinkComMorva::SetBaudRate(int Value) {
    ComPort->SetCustomBaudRate(Value);
}

// ---- Connect button and search --------------------------------------------------------

void TFrameDeviceLinkComMorva::sButtonConnectClick() {
    if (IsConnected()) {
        Disconnect();
        return;
    }
    if (NSearchOnConnect->isChecked()) {
        if (!TimerSearchTimeOut->isActive()) TimerSearchTimeOut->start();
        StartSearch(
            {ComPort->CustomBaudRate(), ComPort->DataBits(), ComPort->ParityBits(), ComPort->StopBits()},
            FilterOnlyUSB,
            [this](const QString &Ident, const QString &Port, int Baud) {
                SearchFinished(Ident, Port, Baud);
            },
            this,
            [](std::exception_ptr E) { TKvApplication::ShowError(TKvApplication::ExceptionMessage(E)); });
        return;
    }
    if (ComPort->Port().isEmpty())
        ShowConnectionSettings([this] { return ComPort.get(); }, DeviceIdentStr, false);
    if (!ComPort->Port().isEmpty())
        Connect();
    else
        IndicateConnectionStatus(this, false);
}

void TFrameDeviceLinkComMorva::SearchFinished(const QString &FoundIdentStr, const QString &FoundComPort,
                                              int FoundComBoud) {
    if (DeviceIdentStr.isEmpty() || !FoundIdentStr.toLower().contains(DeviceIdentStr.toLower())) return;
    TimerSearchTimeOut->stop();
    if (IsConnected()) return;
    ComPort->SetPort(FoundComPort);
    ComPort->SetCustomBaudRate(FoundComBoud);
    try {
        Connect();
    } catch (...) {
        // The search has ended: the button must not stay down over a port that did not open.
        IndicateConnectionStatus(this, false);
        throw;
    }
}

void TFrameDeviceLinkComMorva::TimerSearchTimeOutTimer() {
    TimerSearchTimeOut->stop();
    IndicateConnectionStatus(this, true);
}

void TFrameDeviceLinkComMorva::NConnectionSettingsClick() {
    // The window asks for the port at every use: a search report that connects while it is
    // open gives the link a new port object.
    ShowConnectionSettings([this] { return ComPort.get(); }, DeviceIdentStr, false);
}

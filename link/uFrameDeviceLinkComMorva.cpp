#include "uFrameDeviceLinkComMorva.h"

#include "uBalloonHint.h"
#include "uFormConnectionSettingsMorva.h"
#include "uFormConnectionSettingsMorvaSearch.h"
#include "uKvApplication.h"
#include "uKvProtocol.h"
#include "uKvThreadHandOver.h"
#include "uPlatformSound.h"
#include "uPlatformTick.h"
#include "uTamrelTester.h"

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

namespace {

// The link's two text sets, in the order of LinkTexts.
const std::array<QString, 8> &RussianLinkTexts() {
    static const std::array<QString, 8> texts = {QStringLiteral("Связь установлена"),
                                                 QStringLiteral("Подключиться к устройству"),
                                                 QStringLiteral("Устройство не найдено"),
                                                 QStringLiteral("Потеряна связь"),
                                                 QStringLiteral("устройства"),
                                                 QStringLiteral("Переподключаться автоматически"),
                                                 QStringLiteral("Ожидание тестера \"%1\""),
                                                 QStringLiteral("Ожидание обновлённого тестера на %1: "
                                                                "\"%2\" или любой тестер \"%3\"")};
    return texts;
}

const std::array<QString, 8> &EnglishLinkTexts() {
    static const std::array<QString, 8> texts = {QStringLiteral("Device Connected"),
                                                 QStringLiteral("Connect to device"),
                                                 QStringLiteral("Device Not Found"),
                                                 QStringLiteral("Connection Lost"),
                                                 QStringLiteral("device"),
                                                 QStringLiteral("Reconnect automatically"),
                                                 QStringLiteral("Waiting for the tester \"%1\""),
                                                 QStringLiteral("Waiting for the updated tester on %1: "
                                                                "\"%2\" or any \"%3\" tester")};
    return texts;
}

} // namespace

std::array<QString, 8> LinkTexts = RussianLinkTexts();

namespace {

constexpr int CheckTimeOutIntervalMs = 100;
constexpr int SearchTimeOutMs = 2000;
constexpr quint32 LossSilenceMs = 3500;
constexpr quint32 KeepAlivePeriodMs = 1000;
constexpr int TransmitLockWaitMs = 3000;

QString ClassName(const std::exception &e) {
    int status = 0;
    char *name = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
    QString out = QString::fromLatin1(status == 0 && name ? name : typeid(e).name());
    std::free(name);
    return out;
}

// The factory declares the type of the start/stop register.
void SetStartRegister(TKvProtocol *p, int value) {
    std::lock_guard lock(p->RegistersLock);
    TKvRegister &r = p->Registers[TamrelReg::regStartStop];
    if (r.RegType >= rtU8 && r.RegType <= rtDouble)
        VariantToRegister(r, QVariant(value));
    else
        r.RawData = QByteArray(1, char(value));
}

bool OnGuiThread() {
    return QThread::currentThread() == qApp->thread();
}

} // namespace

class EDeviceLink : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

TFrameDeviceLinkComMorva::TFrameDeviceLinkComMorva(QWidget *owner) : QFrame(owner) {
    sButtonConnect = new QToolButton(this);
    sButtonConnect->setObjectName(QStringLiteral("sButtonConnect"));
    sButtonConnect->setCheckable(true);
    sButtonConnect->setFixedSize(68, 68);
    sButtonConnect->setIconSize(QSize(56, 56));
    sButtonConnect->setToolTip(LinkTexts[1]);
    sButtonConnect->setContextMenuPolicy(Qt::CustomContextMenu);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(sButtonConnect);

    PopupMenuConnection = new QMenu(this);
    PopupMenuConnection->setObjectName(QStringLiteral("PopupMenuConnection"));
    NSearchOnConnect = PopupMenuConnection->addAction(QStringLiteral("Автоматический поиск"));
    NSearchOnConnect->setObjectName(QStringLiteral("NSearchOnConnect"));
    NSearchOnConnect->setToolTip(QStringLiteral("Автоматический поиск"));
    NSearchOnConnect->setCheckable(true);
    NConnectionSettings = PopupMenuConnection->addAction(QStringLiteral("Настройки соединения вручную"));
    NConnectionSettings->setObjectName(QStringLiteral("NConnectionSettings"));
    CreateReconnect();

    BalloonHintInd = new TBalloonHint(this);
    BalloonHintInd->HideAfter = 2000;

    TimerCheckTimeOut = new QTimer(this);
    TimerCheckTimeOut->setInterval(CheckTimeOutIntervalMs);
    TimerSearchTimeOut = new QTimer(this);
    TimerSearchTimeOut->setInterval(SearchTimeOutMs);

    connect(sButtonConnect, &QToolButton::clicked, this,
            [this] { TKvApplication::RunGuarded([this] { sButtonConnectClick(); }); });
    connect(sButtonConnect, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &p) { PopupMenuConnection->popup(sButtonConnect->mapToGlobal(p)); });
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
    FreeRetiredKvProtocols();
}

// ---- Port object ------------------------------------------------------------------------

TSyncMethod TFrameDeviceLinkComMorva::WantedSyncMethod() const {
    return (FProtocolInThread || ReciveAsync) ? smNone : smThreadSync;
}

void TFrameDeviceLinkComMorva::CreateComPort(const TComPort *settings) {
    auto p = std::make_unique<TComPort>();
    if (settings) {
        p->SetCustomBaudRate(settings->CustomBaudRate());
        p->SetPort(settings->Port());
        p->SetParityBits(settings->ParityBits());
        p->SetDataBits(settings->DataBits());
        p->SetStopBits(settings->StopBits());
    }
    p->Events = evRxChar;
    p->OnAfterOpen = [this](TComPort *s) { ComPortAfterOpen(s); };
    p->OnAfterClose = [this](TComPort *s) { ComPortAfterClose(s); };
    p->OnRxChar = [this](TComPort *s, int count) { ComPortRxChar(s, count); };
    p->OnLineLost = [this](TComPort *s) { TKvApplication::RunGuarded([&] { ComPortLineLost(s); }); };
    // A line that takes no byte for as long as the keep-alive tolerates silence is gone too.
    p->OutputStallMs = int(LossSilenceMs);
    p->FlowControl.ControlDTR = dtrEnable;
    p->SetSyncMethod(WantedSyncMethod());
    ComPort = std::move(p);
}

// ---- IDeviceLink --------------------------------------------------------------------

bool TFrameDeviceLinkComMorva::Connect() {
    if (IsConnected()) return false;
    if (ReCreateComPort) {
        std::unique_ptr<TComPort> old = std::move(ComPort);
        CreateComPort(old.get());
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

void TFrameDeviceLinkComMorva::Transmit(const QByteArray &bytes) {
    if (Disconnecting) return;
    LogMessage(QStringLiteral("COM Transmit: "), bytes);
    if (!IsConnected()) return;
    std::unique_lock<std::recursive_timed_mutex> lock(CritSectTransmit, std::defer_lock);
    if (!lock.try_lock_for(std::chrono::milliseconds(TransmitLockWaitMs)))
        return; // dropped: another thread holds the line for too long
    ++FTransmitDepth;
    try {
        if (TransmitAsync) {
            // Never waits for the line: a write still under way keeps its place and this one
            // queues behind it. A line that takes nothing more is reported by the port.
            if (AsyncPtr) TComPort::TryFinishAsync(AsyncPtr);
            ComPort->WriteStrAsync(bytes, AsyncPtr);
        } else {
            ComPort->WriteStr(bytes);
        }
        BytesTransmitted += quint32(bytes.size());
    } catch (const std::exception &e) {
        LogMessage(QStringLiteral("Async Transmit Exception: ") + ClassName(e) + QStringLiteral("; ") +
                   QString::fromUtf8(e.what()));
        AsyncPtr.reset();
        TKvApplication::RunGuarded([this] { CheckTimeOut(); });
    }
    --FTransmitDepth;
}

void TFrameDeviceLinkComMorva::SetOnReceived(TOutputData aOnReceived) {
    std::lock_guard lock(FOnReceivedLock);
    OnReceived = std::move(aOnReceived);
}

TOutputData TFrameDeviceLinkComMorva::GetTransmitProcedure() {
    return [this](const QByteArray &bytes) { Transmit(bytes); };
}

void TFrameDeviceLinkComMorva::SetOnDeviceLinkStartStop(TOnDeviceLinkStartStop aOnDeviceLinkStartStop,
                                                        TBeforeDisconnect aBeforeDisconnect,
                                                        bool aAutoStartStop) {
    OnDeviceLinkStartStop = std::move(aOnDeviceLinkStartStop);
    BeforeDisconnect = std::move(aBeforeDisconnect);
    AutoStartStop = aAutoStartStop;
}

void TFrameDeviceLinkComMorva::SetOnCreateProtocolRef(TOnCreateProtocolRef aOnCreateProtocolRef) {
    OnCreateProtocolRef = std::move(aOnCreateProtocolRef);
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

void TFrameDeviceLinkComMorva::SetKvProtocol(TKvProtocol *aKvProtocol) {
    if (FKvProtocol.get() == aKvProtocol) return;
    FreeKvProtocol();
    FKvProtocol.reset(aKvProtocol);
    FEngine = aKvProtocol;
}

void TFrameDeviceLinkComMorva::SetKeepConnection(bool aKeepConnection) {
    KeepConnection = aKeepConnection;
    LastReceiveTime = KvPlatform::TickCount();
    if (IsConnected() && KeepConnection)
        TimerCheckTimeOut->start();
    else
        TimerCheckTimeOut->stop();
}

bool TFrameDeviceLinkComMorva::GetCounters(double &speedReceive, double &speedTransmit, double &loadRatio) {
    const qint32 t = qRound(QTime::currentTime().msecsSinceStartOfDay() / 1000.0);
    const qint32 d = t - LastGetCountersTime;
    if (d <= 0 || !IsConnected()) return false;
    speedReceive = double(quint32(BytesReceived - PrevBytesReceived)) / d;
    speedTransmit = double(quint32(BytesTransmitted - PrevBytesTransmitted)) / d;
    PrevBytesReceived = BytesReceived;
    PrevBytesTransmitted = BytesTransmitted;
    // The share of the line's capacity at ten bits per byte; a rate under 10 baud has none.
    const int bytesPerSecond = ComPort->CustomBaudRate() / 10;
    loadRatio = bytesPerSecond > 0 ? qMax(speedReceive, speedTransmit) / bytesPerSecond : 0.0;
    LastGetCountersTime = t;
    return true;
}

bool TFrameDeviceLinkComMorva::GetProtocolInThread() {
    return FProtocolInThread;
}

void TFrameDeviceLinkComMorva::SetProtocolInThread(bool value) {
    // The port refuses a change while it is open: the flag, which the port's thread reads,
    // changes only once the port has taken the new way of delivering.
    ComPort->SetSyncMethod((value || ReciveAsync) ? smNone : smThreadSync);
    FProtocolInThread = value;
    if (FKvProtocol) FKvProtocol->SyncWithGui = value;
}

// ---- Open, receive, close -------------------------------------------------------------

void TFrameDeviceLinkComMorva::ComPortAfterOpen(TComPort *) {
    ++FConnectionSerial;
    {
        std::lock_guard lock(CritSectTransmit);
        AsyncPtr.reset(); // a record of the previous connection is simply forgotten
    }
    ConnectionLost = false;
    FExpectRenamed = false; // a new connection: its tester is who it says it is
    if (OnCreateProtocolRef) OnCreateProtocolRef(this);
    LogMessage(QStringLiteral(" ---KeepConnection = ") +
               (KeepConnection ? QStringLiteral("True") : QStringLiteral("False")));
    BytesReceived = BytesTransmitted = PrevBytesReceived = PrevBytesTransmitted = 0;
    if (AutoStartStop) {
        if (TKvProtocol *p = KvProtocol()) {
            SetStartRegister(p, 1);
            p->WriteRegister(
                TamrelReg::regStartStop, 0,
                [this](TKvProtocol *s, quint8 r, TKvPError a) { OnStartWriteTimeOut(s, r, a); },
                [this](TKvProtocol *s, quint8 r) { OnStartWriteAck(s, r); });
        }
    }
    LastTransmitTime = 0;
    LastReceiveTime = KvPlatform::TickCount();
    if (KeepConnection) TimerCheckTimeOut->start();
    if (!AutoStartStop) IndicateConnectionStatus(this, false);
    if (OnDeviceLinkStartStop) OnDeviceLinkStartStop(this, OnStart, false);
}

// With the protocol in the port's thread the engine calls these on that thread (an
// acknowledgement, or one that carries an error code): the button and the engine's owner
// live on the GUI thread, so the work goes there.
void TFrameDeviceLinkComMorva::OnStartWriteAck(TKvProtocol *, quint8) {
    RunOnGuiThread([this] { IndicateConnectionStatus(this, false); });
}

void TFrameDeviceLinkComMorva::OnStartWriteTimeOut(TKvProtocol *, quint8, quint8) {
    RunOnGuiThread([this] {
        if (TKvProtocol *p = KvProtocol()) {
            SetStartRegister(p, 1);
            p->WriteRegister(TamrelReg::regStartStop, 0, {},
                             [this](TKvProtocol *s, quint8 r) { OnStartWriteAck(s, r); });
        }
    });
}

void TFrameDeviceLinkComMorva::RunOnGuiThread(std::function<void()> body) {
    if (OnGuiThread()) {
        TKvApplication::RunGuarded(body);
        return;
    }
    const quint64 serial = FConnectionSerial;
    KvThread::Post(this, [this, serial, body] {
        if (serial == FConnectionSerial) TKvApplication::RunGuarded(body);
    });
}

void TFrameDeviceLinkComMorva::ComPortRxChar(TComPort *Sender, int count) {
    if (Disconnecting || count == 0) return;
    TKvApplication::RunGuarded([&] {
        Sender->ReadStr(ReseivedStr, count);
        BytesReceived += quint32(count);
        LastReceiveTime = KvPlatform::TickCount();
        if (FProtocolInThread || !ReciveAsync || OnGuiThread()) {
            Deliver(ReseivedStr);
        } else {
            // The event thread waits for the GUI thread, but gives up once a close has begun or
            // a line setting waits for the event thread: the GUI thread then waits for this
            // handler. A delivery that still comes after a close belongs to a connection that
            // is gone and is dropped; after a setting it runs as posted, in order.
            const QByteArray chunk = ReseivedStr;
            const quint64 serial = FConnectionSerial;
            auto done = std::make_shared<QSemaphore>(0);
            KvThread::Post(this, [this, chunk, serial, done] {
                if (serial == FConnectionSerial && !Disconnecting && IsConnected())
                    TKvApplication::RunGuarded([&] { Deliver(chunk); });
                done->release();
            });
            while (!done->tryAcquire(1, 20))
                if (Sender->Closing() || Sender->EventThreadAwaited()) break;
        }
    });
}

// The device was unplugged or takes no more bytes: nothing more will pass this line, so the
// connection is lost now, whether or not keep-alive watches it.
void TFrameDeviceLinkComMorva::ComPortLineLost(TComPort *sender) {
    if (sender != ComPort.get() || !IsConnected()) return;
    LoseConnection();
}

void TFrameDeviceLinkComMorva::LoseConnection() {
    TimerCheckTimeOut->stop();
    ConnectionLost = true;
    ComPort->SetConnected(false);
}

void TFrameDeviceLinkComMorva::Deliver(const QByteArray &bytes) {
    LogMessage(QStringLiteral("COM Received: "), bytes);
    TOutputData onReceived;
    {
        std::lock_guard lock(FOnReceivedLock);
        onReceived = OnReceived;
    }
    if (onReceived) onReceived(bytes);
}

void TFrameDeviceLinkComMorva::ComPortAfterClose(TComPort *) {
    ++FConnectionSerial;
    TimerCheckTimeOut->stop();
    // A loss the technician did not ask for: wait for the same tester to come back.
    if (ConnectionLost && !Disconnecting && ReconnectAutomatically()) {
        if (FExpectRenamed)
            StartWaitingForReconnect(FRenamedLoaderIdent, ComPort->Port());
        else
            StartWaitingForReconnect(ConnectedIdent());
    }
    FreeKvProtocol();
    IndicateConnectionStatus(this, false);
    if (OnDeviceLinkStartStop) OnDeviceLinkStartStop(this, OnStop, ConnectionLost);
}

void TFrameDeviceLinkComMorva::FreeKvProtocol() {
    std::unique_ptr<TKvProtocol> p = std::move(FKvProtocol);
    FEngine = nullptr;
    if (!p) return;
    if (FTransmitDepth == 0) {
        p.reset();
        return;
    }
    // Closed from inside a transmission: the engine that called Transmit is still on the
    // stack, so it goes once the stack has unwound (or with the link, whichever is first).
    {
        std::lock_guard lock(FRetiredLock);
        FRetiredKvProtocols.push_back(std::move(p));
    }
    KvThread::Post(this, [this] {
        if (FTransmitDepth == 0) FreeRetiredKvProtocols();
    });
}

void TFrameDeviceLinkComMorva::FreeRetiredKvProtocols() {
    std::vector<std::unique_ptr<TKvProtocol>> retired;
    {
        std::lock_guard lock(FRetiredLock);
        retired.swap(FRetiredKvProtocols);
    }
    // Freed outside the lock: an engine's destructor may call back into the link.
}

// ---- Keep-alive and loss --------------------------------------------------------------

void TFrameDeviceLinkComMorva::TimerCheckTimeOutTimer() {
    CheckTimeOut();
}

void TFrameDeviceLinkComMorva::CheckTimeOut() {
    if (!KeepConnection) return;
    if (!OnGuiThread()) {
        // A failed transmit on the port's thread: the check belongs to the GUI thread.
        KvThread::Post(this, [this] { TKvApplication::RunGuarded([this] { CheckTimeOut(); }); });
        return;
    }
    const quint32 now = KvPlatform::TickCount();
    if (quint32(now - LastReceiveTime) > LossSilenceMs && LastTransmitTime != 0) {
        LoseConnection();
        return;
    }
    if (quint32(now - LastTransmitTime) > KeepAlivePeriodMs) {
        LastTransmitTime = now != 0 ? now : 1; // 0 means "none sent since the open"
        SomeTransmit();
    }
}

void TFrameDeviceLinkComMorva::SomeTransmit() {
    if (!IsConnected() || !KeepConnection) return;
    if (TKvProtocol *p = KvProtocol())
        p->RequestRegister(KeepConnectionRegister, 0, [this](TKvProtocol *s, quint8 r, TKvPError a) {
            OnKeepConnectionTimeOut(s, r, a);
        });
}

void TFrameDeviceLinkComMorva::OnKeepConnectionTimeOut(TKvProtocol *, quint8, quint8) {
    RunOnGuiThread([this] { SomeTransmit(); });
}

// ---- Button, balloon, texts -----------------------------------------------------------

void TFrameDeviceLinkComMorva::IndicateConnectionStatus(IDeviceLink *, bool deviceNotFound) {
    sButtonConnect->setChecked(IsConnected());
    if (FWaitingForReconnect && !IsConnected()) {
        SetImageIndex(3);
        sButtonConnect->setToolTip(WaitingHint());
        if (ConnectionLost) {
            ShowBalloon(LinkTexts[3]);
            KvPlatform::SystemSound().PlayAsync(QStringLiteral("SystemHand"));
        }
    } else if (ConnectionLost) {
        SetImageIndex(2);
        ShowBalloon(LinkTexts[3]);
        KvPlatform::SystemSound().PlayAsync(QStringLiteral("SystemHand"));
    } else if (sButtonConnect->isChecked()) {
        SetImageIndex(1);
        sButtonConnect->setToolTip(LinkTexts[0]);
    } else {
        SetImageIndex(0);
        sButtonConnect->setToolTip(LinkTexts[1]);
        if (deviceNotFound) ShowBalloon(LinkTexts[2], SearchExplanation);
    }
}

void TFrameDeviceLinkComMorva::ShowBalloon(const QString &title, const QStringList &lines) {
    BalloonHintInd->SetTitle(title);
    BalloonHintInd->SetText(lines.join(QLatin1Char('\n')));
    // Time to read what the search saw: a few seconds more per line.
    BalloonHintInd->HideAfter = 2000 + 2500 * int(lines.size());
    BalloonHintInd->ShowHint(
        sButtonConnect->mapToGlobal(QPoint(sButtonConnect->width() / 2, sButtonConnect->height())));
}

void TFrameDeviceLinkComMorva::SetImageIndex(int index) {
    FImageIndex = index;
    sButtonConnect->setIcon(index >= 0 && index < FImages.size() ? FImages[index] : QIcon());
}

void TFrameDeviceLinkComMorva::SetImageList(const QVector<QIcon> &images) {
    FImages = images;
    SetImageIndex(FImageIndex);
}

QVector<QIcon> TFrameDeviceLinkComMorva::DefaultImageList() {
    Q_INIT_RESOURCE(tamrel_link);
    return {QIcon(QStringLiteral(":/link/link_disconnected.svg")),
            QIcon(QStringLiteral(":/link/link_connected.svg")), QIcon(QStringLiteral(":/link/link_lost.svg")),
            QIcon(QStringLiteral(":/link/link_waiting.svg"))};
}

void TFrameDeviceLinkComMorva::LogMessage(const QString &caption, const QByteArray &bytes) {
    TKvProtocol *p = FEngine; // also called on the port's thread
    if (p && p->LogEnabled()) p->LogMessage(caption + DumpData(bytes));
}

void TFrameDeviceLinkComMorva::DoEnglish() {
    NConnectionSettings->setText(QStringLiteral("Manual Connection Settings"));
    NSearchOnConnect->setText(QStringLiteral("Automatic search"));
    NSearchOnConnect->setToolTip(QStringLiteral("Automatic search"));
    LinkTexts = EnglishLinkTexts();
    NReconnectAutomatically->setText(LinkTexts[5]);
    UseEnglish = true;
}

void TFrameDeviceLinkComMorva::DoRus() {
    NConnectionSettings->setText(QStringLiteral("Настройки соединения вручную"));
    NSearchOnConnect->setText(QStringLiteral("Автоматический поиск"));
    NSearchOnConnect->setToolTip(QStringLiteral("Автоматический поиск"));
    LinkTexts = RussianLinkTexts();
    NReconnectAutomatically->setText(LinkTexts[5]);
    UseEnglish = false;
    // The settings window's DoEnglish changed this shared text; it has no way back itself.
    DeviceNotFoundText = QStringLiteral("Устройство не найдено");
}

void TFrameDeviceLinkComMorva::RefreshHint() {
    if (FWaitingForReconnect && !IsConnected())
        sButtonConnect->setToolTip(WaitingHint());
    else
        sButtonConnect->setToolTip(LinkTexts[IsConnected() ? 0 : 1]);
}

void TFrameDeviceLinkComMorva::PopupMenuConnectionPopup() {
    NReconnectAutomatically->setText(LinkTexts[5]);
    NSearchOnConnect->setText(NSearchOnConnect->toolTip() + QLatin1Char(' ') + LinkTexts[4] +
                              QStringLiteral(" \"") + DeviceIdentStr + QLatin1Char('"'));
}

bool TFrameDeviceLinkComMorva::SearchOnConnect() const {
    return NSearchOnConnect->isChecked();
}
void TFrameDeviceLinkComMorva::SetSearchOnConnect(bool value) {
    NSearchOnConnect->setChecked(value);
}
int TFrameDeviceLinkComMorva::BaudRate() const {
    return ComPort->CustomBaudRate();
}
void TFrameDeviceLinkComMorva::SetBaudRate(int value) {
    ComPort->SetCustomBaudRate(value);
}

// ---- Connect button and search --------------------------------------------------------

void TFrameDeviceLinkComMorva::sButtonConnectClick() {
    if (IsConnected()) {
        Disconnect();
        return;
    }
    if (FWaitingForReconnect) {
        // A press while waiting ends the wait and nothing more.
        StopWaitingForReconnect();
        ConnectionLost = false;
        IndicateConnectionStatus(this, false);
        return;
    }
    if (NSearchOnConnect->isChecked()) {
        if (!TimerSearchTimeOut->isActive()) TimerSearchTimeOut->start();
        StartSearch(
            {ComPort->CustomBaudRate(), ComPort->DataBits(), ComPort->ParityBits(), ComPort->StopBits()},
            FilterOnlyUSB,
            [this](const QString &ident, const QString &port, int baud) {
                SearchFinished(ident, port, baud);
            },
            this,
            [](std::exception_ptr e) { TKvApplication::ShowError(TKvApplication::ExceptionMessage(e)); });
        SearchStarted = true;
        return;
    }
    if (ComPort->Port().isEmpty())
        ShowConnectionSettings([this] { return ComPort.get(); }, DeviceIdentStr, false);
    if (!ComPort->Port().isEmpty())
        Connect();
    else
        IndicateConnectionStatus(this, false);
}

void TFrameDeviceLinkComMorva::SearchFinished(const QString &foundIdentStr, const QString &foundComPort,
                                              int foundComBoud) {
    if (!TamrelTester::IdentMatches(foundIdentStr, DeviceIdentStr)) return;
    TimerSearchTimeOut->stop();
    if (IsConnected()) return;
    // The search's own outcome decides what the button shows, not a loss before the press.
    ConnectionLost = false;
    // The search has ended: the button must not stay down over a port that did not open.
    ConnectToFound(foundIdentStr, foundComPort, foundComBoud,
                   [this] { IndicateConnectionStatus(this, false); });
}

void TFrameDeviceLinkComMorva::ConnectToFound(const QString &ident, const QString &port, int baud,
                                              const std::function<void()> &onFailure) {
    ComPort->SetPort(port);
    ComPort->SetCustomBaudRate(baud);
    FFoundIdent = ident;
    try {
        Connect();
    } catch (...) {
        onFailure();
        throw;
    }
}

void TFrameDeviceLinkComMorva::TimerSearchTimeOutTimer() {
    TimerSearchTimeOut->stop();
    // A press whose search never started (settings no port takes) explains nothing: what the
    // current search engine holds was seen by an earlier search.
    SearchExplanation =
        SearchStarted && SearchEngine ? ExplainSearch(SearchEngine->Outcomes, UseEnglish) : QStringList();
    SearchStarted = false;
    for (const QString &line : SearchExplanation)
        AddSearchLog(line);
    // The search's own outcome decides the balloon: a loss before the press is history now.
    ConnectionLost = false;
    IndicateConnectionStatus(this, true);
}

void TFrameDeviceLinkComMorva::NConnectionSettingsClick() {
    // The window asks for the port at every use: a search report that connects while it is
    // open gives the link a new port object.
    ShowConnectionSettings([this] { return ComPort.get(); }, DeviceIdentStr, false);
}

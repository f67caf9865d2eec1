#pragma once
// The device link panel: one large toggle button with a pop-up menu and a balloon hint. It
// opens the serial port (found by a port search or chosen by hand), has a protocol engine
// created for every opened connection, passes bytes between port and engine, writes the
// device's start/stop register, keeps the connection alive and notices when it is lost.
#include "uComPort.h"
#include "uKvDeviceLink.h"
#include "uTamrelRegisterMap.h"

#include <QByteArray>
#include <QFrame>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QAction;
class QMenu;
class QTimer;
class QToolButton;
class TBalloonHint;
class TKvProtocol;

// Threads. In the program's configuration (ProtocolInThread and ReciveAsync off) everything of
// the link runs on the GUI thread: the port's event thread hands received bytes over and the
// handler runs on the GUI thread. Otherwise the port's OnRxChar runs on its event thread:
//   - ReciveAsync alone: the bytes are read there and delivered on the GUI thread while the
//     event thread waits; it stops waiting when the port closes or a line setting waits for the
//     event thread (the GUI thread would otherwise wait for it in turn).
//   - ProtocolInThread: delivery, parsing and what the engine sends on stay on the event thread;
//     the engine's acknowledgement and error callbacks of the start write and the keep-alive
//     move their work to the GUI thread (RunOnGuiThread), so widgets, timers and the port's
//     open and close are only touched there.
// Transmit runs on either thread; open and close handlers, timers and the button on the GUI
// thread only.
// Locks and shared fields:
//   - CritSectTransmit (recursive, 3000 ms limit): a transmission and AsyncPtr.
//   - FOnReceivedLock: OnReceived, set by the factory on the GUI thread, called on either.
//   - FEngine: the engine pointer for the event thread (atomic); FKvProtocol itself is the GUI
//     thread's. The engine is freed on the GUI thread only after the port's close has waited
//     for a handler under way on the event thread.
//   - Disconnecting, LastReceiveTime and the byte counters the event thread writes are atomic,
//     and so are ReciveAsync and FProtocolInThread, which it reads.

// Texts shared by all links; Russian at start, DoEnglish switches them.
// 0 connected hint, 1 not connected hint, 2 not found balloon, 3 lost balloon, 4 "device",
// 5 the reconnect menu item, 6 the waiting hint (%1: the tester's identification), 7 the
// waiting hint after an update (%1 the port, %2 the boot loader's identification, %3 the kind).
extern std::array<QString, 8> LinkTexts;

class TFrameDeviceLinkComMorva : public QFrame, public IDeviceLink {
    Q_OBJECT
public:
    explicit TFrameDeviceLinkComMorva(QWidget *owner = nullptr);
    ~TFrameDeviceLinkComMorva() override;

    // ---- IDeviceLink
    bool Connect() override;
    void Disconnect() override;
    bool IsConnected() override;
    void Transmit(const QByteArray &bytes) override;
    void SetOnReceived(TOutputData aOnReceived) override;
    TOutputData GetTransmitProcedure() override;
    void SetOnDeviceLinkStartStop(TOnDeviceLinkStartStop aOnDeviceLinkStartStop,
                                  TBeforeDisconnect aBeforeDisconnect, bool aAutoStartStop) override;
    void SetOnCreateProtocolRef(TOnCreateProtocolRef aOnCreateProtocolRef) override;
    // The engine of the open connection. With none: raises "Connection Lost (KvProtocol = nil)"
    // the first time in the link's life; every later time closes the port, marks the
    // connection lost and returns null.
    TKvProtocol *KvProtocol() override;
    void SetKvProtocol(TKvProtocol *aKvProtocol) override;
    void SetKeepConnection(bool aKeepConnection) override;
    bool GetCounters(double &speedReceive, double &speedTransmit, double &loadRatio) override;
    bool GetProtocolInThread() override;
    void SetProtocolInThread(bool value) override;

    // ---- The panel
    void SomeTransmit();
    void IndicateConnectionStatus(IDeviceLink *senderDeviceLink, bool deviceNotFound);
    void LogMessage(const QString &caption, const QByteArray &bytes = {});
    void DoEnglish();
    // Back to the Russian texts the panel starts with (and the settings window's, which follow
    // UseEnglish).
    void DoRus();
    // The button's hint in the present language, for the state the button shows.
    void RefreshHint();

    bool SearchOnConnect() const;
    void SetSearchOnConnect(bool value);
    int BaudRate() const;
    void SetBaudRate(int value);
    // The button's images: 0 not connected, 1 connected, 2 connection lost, 3 waiting for the
    // lost tester to come back. The panel starts with DefaultImageList(); the embedding window
    // may set its own.
    void SetImageList(const QVector<QIcon> &images);
    static QVector<QIcon> DefaultImageList();
    int CurrentImageIndex() const { return FImageIndex; }
    TComPort *ComPortObject() const { return ComPort.get(); }
    TBalloonHint *Balloon() const { return BalloonHintInd; }

    // ---- Reconnect automatically
    // With NReconnectAutomatically checked, a lost connection (not one the technician ended)
    // is followed by a search every ReconnectIntervalMs over all ports; the first tester whose
    // identification equals the lost one's is connected, whatever its port. Meanwhile the
    // button shows image 3; a press stops waiting. The choice is kept in SettingsFile.
    // After ExpectRenamedTester the same tester comes back under a new name: then the one on
    // the lost connection's port that reports the boot loader's identification or any
    // identification of the link's kind (DeviceIdentStr) is connected.
    bool ReconnectAutomatically() const;
    void SetReconnectAutomatically(bool value);
    bool WaitingForReconnect() const { return FWaitingForReconnect; }
    QString ReconnectIdent() const { return FReconnectIdent; }
    // The port the tester is waited for on after an update; empty: waited for by its name.
    QString ReconnectPort() const { return FReconnectPort; }
    // The tester of the open connection has just taken new firmware (its boot loader
    // acknowledged the last page): until this connection closes, a loss waits for it under its
    // new name. The boot loader's identification is taken from the engine now.
    void ExpectRenamedTester();
    void StopWaitingForReconnect();
    // The settings file the choice is kept in (INI); empty: not kept. Reads the choice.
    void SetSettingsFile(const QString &path);
    int ReconnectIntervalMs = 2000;

    // ---- Components
    QToolButton *sButtonConnect = nullptr;
    QMenu *PopupMenuConnection = nullptr;
    QAction *NSearchOnConnect = nullptr;
    QAction *NConnectionSettings = nullptr;
    QAction *NReconnectAutomatically = nullptr;
    QTimer *TimerReconnect = nullptr;
    TBalloonHint *BalloonHintInd = nullptr;
    QTimer *TimerCheckTimeOut = nullptr;
    QTimer *TimerSearchTimeOut = nullptr;

    // ---- Fields the owner reads or sets
    QString DeviceIdentStr;
    bool KeepConnection = false;
    quint8 KeepConnectionRegister = TamrelReg::regStartStop;
    bool AutoStartStop = false;
    bool ReCreateComPort = true;
    bool TransmitAsync = true;
    std::atomic<bool> ReciveAsync{false}; // read on the port's thread
    bool FilterOnlyUSB = false;

    // ---- State, readable for diagnostics and tests
    // Those written on the port's thread too (see the threads above) are atomic.
    bool KvProtocolNil = false;
    quint32 LastTransmitTime = 0;
    std::atomic<quint32> LastReceiveTime{0};
    bool ConnectionLost = false;
    std::atomic<bool> Disconnecting{false};
    QByteArray ReseivedStr;
    PAsync AsyncPtr;
    qint32 LastGetCountersTime = 0;
    std::atomic<quint32> BytesReceived{0};
    std::atomic<quint32> BytesTransmitted{0};
    quint32 PrevBytesReceived = 0;
    quint32 PrevBytesTransmitted = 0;

    TOnCreateProtocolRef OnCreateProtocolRef;
    TOutputData OnReceived;
    TOnDeviceLinkStartStop OnDeviceLinkStartStop;
    TBeforeDisconnect BeforeDisconnect;

    // Handlers, public so that a test can drive them as the widgets would.
    void sButtonConnectClick();
    void SearchFinished(const QString &foundIdentStr, const QString &foundComPort, int foundComBoud);
    void TimerCheckTimeOutTimer();
    void TimerSearchTimeOutTimer();
    // What the last search that found no tester saw, one line per port (shown under "Device
    // Not Found" and written to the search log).
    QStringList SearchExplanation;
    // A search of this link started (its settings were accepted): only then are the current
    // search's outcomes this press's own, not an earlier search's.
    bool SearchStarted = false;
    void NConnectionSettingsClick();
    void PopupMenuConnectionPopup();

private:
    void CreateComPort(const TComPort *settings);
    TSyncMethod WantedSyncMethod() const;
    void ComPortAfterOpen(TComPort *sender);
    void ComPortAfterClose(TComPort *sender);
    void ComPortRxChar(TComPort *sender, int count);
    void ComPortLineLost(TComPort *sender);
    void LoseConnection();
    void Deliver(const QByteArray &bytes);
    void CheckTimeOut();
    void OnStartWriteAck(TKvProtocol *senderKvProtocol, quint8 regNum);
    void OnStartWriteTimeOut(TKvProtocol *senderKvProtocol, quint8 regNum, quint8 ack);
    void OnKeepConnectionTimeOut(TKvProtocol *senderKvProtocol, quint8 regNum, quint8 ack);
    void FreeKvProtocol();
    // Runs Body on the GUI thread: at once when called there, else posted to it; a posted
    // body whose connection has closed meanwhile is dropped.
    void RunOnGuiThread(std::function<void()> body);
    void ShowBalloon(const QString &title, const QStringList &lines = {});
    void SetImageIndex(int index);
    void CreateReconnect();
    // Waits for the tester Ident; with RenamedOnPort, for the tester on that port that reports
    // Ident (the boot loader's) or any identification of the link's kind.
    void StartWaitingForReconnect(const QString &ident, const QString &renamedOnPort = {});
    bool IsTheLostTester(const QString &foundIdentStr, const QString &foundComPort) const;
    // The button's hint while waiting.
    QString WaitingHint() const;
    void TimerReconnectTimer();
    void ReconnectFound(const QString &foundIdentStr, const QString &foundComPort, int foundComBoud);
    // Connects to what a search found; when the port does not open, OnFailure runs before the
    // error goes on.
    void ConnectToFound(const QString &ident, const QString &port, int baud,
                        const std::function<void()> &onFailure);
    // The identification of the open connection: what the search found, else what the
    // tester's register 0 said.
    QString ConnectedIdent() const;

    bool FWaitingForReconnect = false;
    QString FReconnectIdent;
    QString FReconnectPort;
    bool FExpectRenamed = false; // ExpectRenamedTester was called on the open connection
    QString FRenamedLoaderIdent;
    QString FFoundIdent; // the identification the search connected to
    QString FSettingsFile;

    std::unique_ptr<TKvProtocol> FKvProtocol;
    std::atomic<TKvProtocol *> FEngine{nullptr}; // FKvProtocol, for the port's thread
    std::mutex FOnReceivedLock;                  // OnReceived, set on the GUI thread, called on either
    std::atomic<bool> FProtocolInThread{false};  // read on the port's thread
    std::recursive_timed_mutex CritSectTransmit;
    std::unique_ptr<TComPort> ComPort;
    QVector<QIcon> FImages;
    int FImageIndex = 0;
    std::atomic<quint64> FConnectionSerial{0}; // changes at every open and close
    std::atomic<int> FTransmitDepth{0};        // Transmit calls on the stack: the engine is then freed later
    // Engines closed while their own Transmit was on the stack. The link owns them until the
    // stack has unwound, or until the link itself goes: a program that ends before the event
    // loop turns again still frees them. Under FRetiredLock (a close may come on either thread).
    std::mutex FRetiredLock;
    std::vector<std::unique_ptr<TKvProtocol>> FRetiredKvProtocols;
    void FreeRetiredKvProtocols();
};

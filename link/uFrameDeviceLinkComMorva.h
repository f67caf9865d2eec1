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
#include <QRecursiveMutex>
#include <QString>
#include <QVector>

#include <array>
#include <atomic>
#include <memory>

class QAction;
class QMenu;
class QTimer;
class QToolButton;
class TBalloonHint;
class TKvProtocol;

// Texts shared by all links; Russian at start, DoEnglish switches them.
// 0 connected hint, 1 not connected hint, 2 not found balloon, 3 lost balloon, 4 "device".
extern std::array<QString, 5> LinkTexts;

class TFrameDeviceLinkComMorva : public QFrame, public IDeviceLink {
    Q_OBJECT
public:
    explicit TFrameDeviceLinkComMorva(QWidget *Owner = nullptr);
    ~TFrameDeviceLinkComMorva() override;

    // ---- IDeviceLink
    bool Connect() override;
    void Disconnect() override;
    bool IsConnected() override;
    void Transmit(const QByteArray &Data) override;
    void SetOnReceived(TOutputData AOnReceived) override;
    TOutputData GetTransmitProcedure() override;
    void SetOnDeviceLinkStartStop(TOnDeviceLinkStartStop AOnDeviceLinkStartStop,
                                  TBeforeDisconnect ABeforeDisconnect, bool AAutoStartStop) override;
    void SetOnCreateProtocolRef(TOnCreateProtocolRef AOnCreateProtocolRef) override;
    // The engine of the open connection. With none: raises "Connection Lost (KvProtocol = nil)"
    // the first time in the link's life; every later time closes the port, marks the
    // connection lost and returns null.
    TKvProtocol *KvProtocol() override;
    void SetKvProtocol(TKvProtocol *AKvProtocol) override;
    void SetKeepConnection(bool AKeepConnection) override;
    bool GetCounters(double &SpeedReceive, double &SpeedTransmit, double &LoadRatio) override;
    bool GetProtocolInThread() override;
    void SetProtocolInThread(bool Value) override;

    // ---- The panel
    void SomeTransmit();
    void IndicateConnectionStatus(IDeviceLink *SenderDeviceLink, bool DeviceNotFound);
    void LogMessage(const QString &Caption, const QByteArray &Data = {});
    void DoEnglish();

    bool SearchOnConnect() const;
    void SetSearchOnConnect(bool Value);
    int BaudRate() const;
    void SetBaudRate(int Value);
    // The button's three images: 0 not connected, 1 connected, 2 connection lost. The panel
    // starts with DefaultImageList(); the embedding window may set its own.
    void SetImageList(const QVector<QIcon> &Images);
    static QVector<QIcon> DefaultImageList();
    int CurrentImageIndex() const { return FImageIndex; }
    TComPort *ComPortObject() const { return ComPort.get(); }
    TBalloonHint *Balloon() const { return BalloonHintInd; }

    // ---- Components
    QToolButton *sButtonConnect = nullptr;
    QMenu *PopupMenuConnection = nullptr;
    QAction *NSearchOnConnect = nullptr;
    QAction *NConnectionSettings = nullptr;
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
    bool ReciveAsync = false;
    bool FilterOnlyUSB = false;

    // ---- State, readable for diagnostics and tests
    bool KvProtocolNil = false;
    quint32 LastTransmitTime = 0;
    quint32 LastReceiveTime = 0;
    bool ConnectionLost = false;
    bool Disconnecting = false;
    QByteArray ReseivedStr;
    PAsync AsyncPtr;
    qint32 LastGetCountersTime = 0;
    quint32 BytesReceived = 0;
    quint32 BytesTransmitted = 0;
    quint32 PrevBytesReceived = 0;
    quint32 PrevBytesTransmitted = 0;

    TOnCreateProtocolRef OnCreateProtocolRef;
    TOutputData OnReceived;
    TOnDeviceLinkStartStop OnDeviceLinkStartStop;
    TBeforeDisconnect BeforeDisconnect;

    // Handlers, public so that a test can drive them as the widgets would.
    void sButtonConnectClick();
    void SearchFinished(const QString &FoundIdentStr, const QString &FoundComPort, int FoundComBoud);
    void TimerCheckTimeOutTimer();
    void TimerSearchTimeOutTimer();
    void NConnectionSettingsClick();
    void PopupMenuConnectionPopup();

private:
    void CreateComPort(const TComPort *Settings);
    TSyncMethod WantedSyncMethod() const;
    void ComPortAfterOpen(TComPort *Sender);
    void ComPortAfterClose(TComPort *Sender);
    void ComPortRxChar(TComPort *Sender, int Count);
    void ComPortLineLost(TComPort *Sender);
    void LoseConnection();
    void Deliver(const QByteArray &Data);
    void CheckTimeOut();
    void OnStartWriteAck(TKvProtocol *SenderKvProtocol, quint8 RegNum);
    void OnStartWriteTimeOut(TKvProtocol *SenderKvProtocol, quint8 RegNum, quint8 Ack);
    void OnKeepConnectionTimeOut(TKvProtocol *SenderKvProtocol, quint8 RegNum, quint8 Ack);
    void FreeKvProtocol();
    void ShowBalloon(const QString &Title);
    void SetImageIndex(int Index);

    std::unique_ptr<TKvProtocol> FKvProtocol;
    bool FProtocolInThread = false;
    QRecursiveMutex CritSectTransmit;
    std::unique_ptr<TComPort> ComPort;
    QVector<QIcon> FImages;
    int FImageIndex = 0;
    std::atomic<quint64> FConnectionSerial{0}; // changes at every open and close
    std::atomic<int> FTransmitDepth{0};        // Transmit calls on the stack: the engine is then freed later
};

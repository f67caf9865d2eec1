#pragma once
// The device link contract: what the main window, the protocol factory and the firmware
// window know of a connection to the device. A reference to an IDeviceLink owns nothing;
// the link's life belongs to the window that embeds it.
#include <QByteArray>
#include <functional>

class TKvProtocol;
class IDeviceLink;

using TOutputData = std::function<void(const QByteArray &PacketToSend)>;

enum TDeviceLinkEvent : quint8 { OnStart = 0, OnStop = 1 };

using TOnDeviceLinkStartStop =
    std::function<void(IDeviceLink *SenderDeviceLink, TDeviceLinkEvent DeviceLinkEvent, bool ConnectionLost)>;
using TBeforeDisconnect = std::function<void(IDeviceLink *SenderDeviceLink)>;
// The protocol factory: creates and installs the protocol object of a newly opened connection.
using TOnCreateProtocolRef = std::function<void(IDeviceLink *SenderDeviceLink)>;

class IDeviceLink {
public:
    virtual bool Connect() = 0;
    virtual void Disconnect() = 0;
    virtual bool IsConnected() = 0;
    virtual void Transmit(const QByteArray &Data) = 0;
    virtual void SetOnReceived(TOutputData AOnReceived) = 0;
    virtual TOutputData GetTransmitProcedure() = 0;
    virtual void SetOnDeviceLinkStartStop(TOnDeviceLinkStartStop AOnDeviceLinkStartStop,
                                          TBeforeDisconnect ABeforeDisconnect, bool AAutoStartStop) = 0;
    virtual void SetOnCreateProtocolRef(TOnCreateProtocolRef AOnCreateProtocolRef) = 0;
    virtual TKvProtocol *KvProtocol() = 0;
    virtual void SetKvProtocol(TKvProtocol *AKvProtocol) = 0; // the link owns it from then on
    virtual void SetKeepConnection(bool AKeepConnection) = 0;
    virtual bool GetCounters(double &SpeedReceive, double &SpeedTransmit, double &LoadRatio) = 0;
    virtual bool GetProtocolInThread() = 0;
    virtual void SetProtocolInThread(bool Value) = 0;

protected:
    ~IDeviceLink() = default; // never deleted through the interface
};

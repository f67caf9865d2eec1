#pragma once
// The device link contract: what the main window, the protocol factory and the firmware
// window know of a connection to the device. A reference to an IDeviceLink owns nothing;
// the link's life belongs to the window that embeds it.
#include <QByteArray>
#include <functional>

class TKvProtocol;
class IDeviceLink;

using TOutputData = std::function<void(const QByteArray &packetToSend)>;

enum TDeviceLinkEvent : quint8 { OnStart = 0, OnStop = 1 };

using TOnDeviceLinkStartStop =
    std::function<void(IDeviceLink *senderDeviceLink, TDeviceLinkEvent deviceLinkEvent, bool connectionLost)>;
using TBeforeDisconnect = std::function<void(IDeviceLink *senderDeviceLink)>;
// The protocol factory: creates and installs the protocol object of a newly opened connection.
using TOnCreateProtocolRef = std::function<void(IDeviceLink *senderDeviceLink)>;

// Which thread calls what: the serial link (uFrameDeviceLinkComMorva.h) calls OnReceived on the
// GUI thread, or with GetProtocolInThread on the port's event thread; the start/stop and
// before-disconnect handlers and the protocol factory always on the GUI thread.
class IDeviceLink {
public:
    virtual bool Connect() = 0;
    virtual void Disconnect() = 0;
    virtual bool IsConnected() = 0;
    virtual void Transmit(const QByteArray &data) = 0;
    virtual void SetOnReceived(TOutputData aOnReceived) = 0;
    virtual TOutputData GetTransmitProcedure() = 0;
    virtual void SetOnDeviceLinkStartStop(TOnDeviceLinkStartStop aOnDeviceLinkStartStop,
                                          TBeforeDisconnect aBeforeDisconnect, bool aAutoStartStop) = 0;
    virtual void SetOnCreateProtocolRef(TOnCreateProtocolRef aOnCreateProtocolRef) = 0;
    virtual TKvProtocol *KvProtocol() = 0;
    virtual void SetKvProtocol(TKvProtocol *aKvProtocol) = 0; // the link owns it from then on
    virtual void SetKeepConnection(bool aKeepConnection) = 0;
    virtual bool GetCounters(double &speedReceive, double &speedTransmit, double &loadRatio) = 0;
    virtual bool GetProtocolInThread() = 0;
    virtual void SetProtocolInThread(bool value) = 0;

protected:
    ~IDeviceLink() = default; // never deleted through the interface
};

#pragma once
// The register protocol engine. One TKvProtocol serves one connection: it frames payloads
// in checksum or CRC-16 mode, mirrors the device's 256 registers, sends register reads and
// writes directly or through an operation queue, matches answers and acknowledgements to the
// requests that wait for them, times out the rest, speaks the block and boot-loader commands
// and keeps an optional trace log. QtCore only: no widget ever appears here.
#include "uKvDeviceLink.h"
#include "uKvFrameCodec.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QQueue>
#include <QRecursiveMutex>
#include <QString>
#include <QVariant>
#include <QVector>

#include <array>
#include <atomic>
#include <bitset>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

class QFile;
class QTimer;
class TKvProtocol;
class ITrazerServer; // the shared-memory register server; created elsewhere

// ---- Register model -------------------------------------------------------------------
// Register types, their sizes and the error codes are wire constants of uKvFrameCodec.h.

struct TKvRegister {
    quint8 RegAdr = 0;
    TKvRegisterType RegType = rtBinary;
    QByteArray RawData;
    quint8 DevAddress = 0;
    bool RegReadOnly = false;
    bool Known = false;
    quint16 UpdateCounter = 0;
};
using TKvRegistersDynArray = QVector<TKvRegister>;
using SetOfByte = std::bitset<256>;

// Errors the engine raises (never for protocol failures, which are TKvPError codes).
class EKvProtocol : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EKvInOutError : public EKvProtocol { // trace log file cannot be created or written
public:
    using EKvProtocol::EKvProtocol;
};
class EKvConvertError : public EKvProtocol { // a value that does not fit a register's type
public:
    using EKvProtocol::EKvProtocol;
};

// Register contents as a variant: empty RawData gives an empty QByteArray; types 0, 1, 10 a
// QByteArray; integer types a QVariant of that exact width and signedness; rtFloat and
// rtDouble a double. For a type above 10 Value is left as it was.
void RegisterToVariant(const TKvRegister &reg, QVariant &value);
QVariant RegisterToVariant(const TKvRegister &reg);
// Stores Value into Reg.RawData by Reg.RegType; throws EKvConvertError for a value that cannot
// be converted (RawData then already has the type's size).
void VariantToRegister(TKvRegister &reg, const QVariant &value);
QString ErrorText(TKvPError error);
QString CommandName(quint8 command);
// "(" + length + "): " and the bytes: runs of 5 or more of the characters 40..122 as text,
// every other byte as [XX].
QString DumpData(const QByteArray &data);

// ---- Callbacks ------------------------------------------------------------------------

using TOnRegisterNotify = std::function<void(TKvProtocol *senderKvProtocol, quint8 regNum)>;
using TOnRegTimeoutOrError = std::function<void(TKvProtocol *senderKvProtocol, quint8 regNum, TKvPError ack)>;
using TOnAck = std::function<void(quint8 command, quint8 regNum, TKvPError error)>;
using TProcOfObject = std::function<void()>;
using TOnFirmwareStartAck = std::function<void(quint16 deviceId, quint16 flashSize, quint16 flashPageSize,
                                               const QByteArray &receivedLoaderIdentStr)>;
using TOnProgress = std::function<void(quint8 error, quint32 currentPos, quint32 size)>;
using TOnReadBlock = std::function<void(quint8 dataRegion, quint16 address, const QByteArray &packetToSend)>;
using TOnWriteBlock = std::function<void(quint8 dataRegion, quint16 address, quint16 count)>;

// ---- Pending answers and queued operations -----------------------------------------------

struct TRegAnswerTimeout {
    quint8 RegNum = 0;
    quint32 TimeOfTimeOut = 0; // tick count at which the wait ends
    quint8 Command = 0;        // KvCodec::CmdWriteReg or KvCodec::CmdReadReg
    TOnRegTimeoutOrError OnTimeOut;
};

struct TRegAck {
    quint8 RegNum = 0;
    TOnRegisterNotify OnAckReg;
};

struct TProcessRegisterAsync {
    quint8 DevAddr = 0;
    quint8 RegNum = 0;
    QVariant Value;
    quint8 Command = 0; // KvCodec::CmdWriteReg or KvCodec::CmdReadReg
    TOnRegTimeoutOrError OnTimeOut;
    TOnRegisterNotify OnAckReg;
    bool TryCrc16 = false;
};

// ---- The engine -----------------------------------------------------------------------
//
// Threads. Without SyncWithGui every call and callback runs on the GUI thread. With SyncWithGui
// (the link runs the protocol in the port's thread):
//   - InputData and all it calls run on the port's event thread: the register mirror is
//     written there, and OnReceivedRegisterTrazer, OnReceivedRegisterAuto, OnAckAll,
//     OnUnknownCommand, a request's time-out handler called for an acknowledgement with an
//     error code, a write's acknowledgement handler and the block and boot-loader callbacks are
//     called there; so is OutputData for what a received frame sends on (the queue moving on).
//   - OnReceivedRegister runs on the GUI thread: one posted call per value, through RegNumQueue.
//   - The time-out timer, and with it every time-out handler for a missing answer, runs on the
//     GUI thread (the thread that created the engine); so do the application's requests.
// Locks:
//   - FLock (recursive): the pending-answer lists, the operation queue, CurRegisterAsync, the
//     in-flight list, NeedReadRegisters and the transmit state (modes, counters). Never held
//     while a callback runs.
//   - RegistersLock (recursive, public): the register mirror Registers. Held only to copy an
//     entry in or out, never while a callback runs.
//   - RegNumQueueLock: the register numbers waiting for the GUI thread.
//   - FLogLock: the trace log file.
// NewCommands, AnswerError, SyncWithGui and the freed flag are atomic. BufferRx and the frame
// layer's receive state belong to the thread that calls InputData (one at a time).

class TKvProtocol {
public:
    TKvProtocol(TOutputData aOutputData, const TKvRegistersDynArray &aRegisters,
                TOnRegisterNotify aOnReceivedRegister, TOnAck aOnAckAll, TOutputData aOnUnknownCommand,
                bool aLogEnabled, const QString &aLogName, bool aSyncWithGui,
                const QString &trazerServerName = {});
    ~TKvProtocol();
    TKvProtocol(const TKvProtocol &) = delete;
    TKvProtocol &operator=(const TKvProtocol &) = delete;

    void LoadRegistersInfo(const TKvRegistersDynArray &aRegisters);

    // Frame codec
    void InputData(const QByteArray &data);
    void TxFrame(const QByteArray &data);
    void TxAck(quint8 b1, quint8 b2, quint8 b3);
    void TestPacketCounterTransmit();

    // Register commands
    void RequestRegister(quint8 regNum, quint8 devAddr, TOnRegTimeoutOrError aOnTimeOut);
    void WriteRegister(quint8 regNum, quint8 devAddr, TOnRegTimeoutOrError aOnTimeOut,
                       TOnRegisterNotify aOnAckReg);
    void WriteRegisterValue(quint8 regNum, const QVariant &value);
    void OnReceivedRegisterGui();

    // Queued operations and synchronous reads
    void RequestRegisterAsync(quint8 regNum, bool aTryCrc16 = false);
    void WriteRegisterAsync(quint8 regNum, const QVariant &value, TOnRegTimeoutOrError aOnTimeOut = {},
                            TOnRegisterNotify aOnAckReg = {});
    void NextRegisterOperation(quint8 regNum = 0);
    qint32 AsyncRegOperationCount() const;
    bool ReadRegistersSync(const SetOfByte &regNums, double timeoutMs);
    bool ReadRegisterSync(quint8 regNum, double timeoutMs);
    TProcessRegisterAsync CurRegisterAsync() const;

    // Block and boot-loader commands
    void FirmwareStart(TOnFirmwareStartAck aOnFirmwareStartAck, bool command53, quint32 firmwareSize);
    void FirmwareWrite(const QByteArray &aFirmwareData, TOnProgress aOnProgress);
    // Sends the page at CurrentPageIndex again, for a status that did not come: the page
    // statuses still waited for are given up, so the first status that comes answers this
    // page and a second one is dropped.
    void ResendFirmwarePage();
    void ReadBlock(quint8 dataRegion, quint16 address, quint16 count);
    void WriteBlock(quint8 dataRegion, quint16 address, const QByteArray &data);
    void ClearBlock(quint8 dataRegion, quint16 address, quint16 count);
    quint16 DeviceId() const { return FDeviceId; }
    quint16 FlashSize() const { return FFlashSize; }
    quint16 FlashPageSize() const { return FFlashPageSize; }
    // Pages of the image accepted so far; the line carries its low 16 bits as the page index.
    quint32 CurrentPageIndex() const { return PageIndex; }
    QByteArray LoaderIdentStr() const { return ReceivedLoaderIdentStr; }

    // Trace log
    void LogMessage(const QString &message);
    bool LogEnabled() const { return !FLog.isEmpty(); }
    QString LogFileName() const;

    // Test and diagnostics views of the pending lists.
    int PendingTimeoutCount() const;
    int PendingAckCount() const;
    qsizetype BufferedBytes() const { return BufferRx.size() - FRxPos; }
    // Most received bytes kept that form no complete frame; older ones are dropped from the
    // front. Complete frames are always handled, however many arrive at once.
    static constexpr qsizetype MaxBufferRx = 64 * 1024;

    // A copy of one entry of the register mirror, taken under RegistersLock: safe on any thread.
    TKvRegister RegisterCopy(quint8 regNum) const;

    // ---- Public fields the application reads or sets ----
    std::atomic<bool> NewCommands{false};
    SetOfByte NeedReadRegisters;
    // The register mirror. With SyncWithGui the engine writes it on the port's thread while the
    // GUI thread reads and writes it: every access then holds RegistersLock (or uses
    // RegisterCopy). The engine itself takes the lock for each of its own reads and writes.
    std::array<TKvRegister, 256> Registers;
    mutable std::recursive_mutex RegistersLock;
    std::atomic<TKvPError> AnswerError{0};
    quint32 TimeOut = 100;
    TOutputData OutputData;
    TOnRegisterNotify OnReceivedRegister;
    TOnRegisterNotify OnReceivedRegisterAuto;
    TOnAck OnAckAll;
    QString FLog;
    TOutputData OnUnknownCommand;
    TOnReadBlock OnReadBlock;
    TOnWriteBlock OnWriteBlock;
    TOnWriteBlock OnClearBlock;
    bool UseCrc16 = false;
    bool TryCrc16 = false;
    quint16 PacketCounterErrors = 0;
    std::atomic<bool> SyncWithGui{false};
    bool ForbidNewRegCommands = false;
    std::shared_ptr<ITrazerServer> TrazerServerI;
    TOnRegisterNotify OnReceivedRegisterTrazer;
    TProcOfObject Application_ProcessMessages;

    quint8 PrevPacketCounter = 255;
    quint8 PacketCounterTransmit = 0;
    bool FirstPacket = true;
    bool WasTryCrc16 = false;

private:
    // State that outlives the engine while a call of it is still on the stack or posted to
    // the GUI thread: the freed flag and the queue of register numbers for the GUI thread.
    struct TShared {
        std::atomic<bool> InstanceWasFreed{false};
        QMutex RegNumQueueLock;
        QQueue<quint8> RegNumQueue;
    };
    struct TInFlight {
        quint64 Serial;
        quint8 RegNum;
    };

    bool Freed() const { return FShared->InstanceWasFreed.load(std::memory_order_acquire); }
    // Every callback runs from a copy: a handler may destroy the engine, and with it the field
    // it was called through and everything that field's function captured. The arguments must
    // not refer into the engine either. After the call the caller checks the shared freed flag
    // before it touches the engine again.
    template <class TCallback, class... TArgs>
    static void CallCopy(const TCallback &callback, TArgs &&...args) {
        if (!callback) return;
        const TCallback copy = callback;
        copy(std::forward<TArgs>(args)...);
    }
    void SendFrame(const QByteArray &payload, bool forceCrc);
    void HandleBody(const QByteArray &body, const std::shared_ptr<TShared> &alive);
    void DispatchPacket(const QByteArray &packet);
    void DispatchRegisterValue(quint8 command, const QByteArray &payload, quint8 devAddress);
    void DispatchAck(const QByteArray &payload);
    void DispatchFirmware(quint8 command, const QByteArray &payload);
    void RegisterReceived(quint8 regNum);
    void TimerCheckTimeoutTimer();
    void SendRequest(quint8 regNum, quint8 devAddr, TOnRegTimeoutOrError aOnTimeOut, bool forceCrc);
    void StartFirstContact(const TProcessRegisterAsync &requested);
    void AsyncAckReg(quint64 serial, const TProcessRegisterAsync &op, quint8 regNum);
    void AsyncTimeOut(quint64 serial, const TProcessRegisterAsync &op, quint8 regNum, TKvPError ack);
    bool EndInFlight(quint64 serial);
    bool EndInFlightReg(quint8 regNum);
    void SendFirmwarePage();
    void ExpectLoaderAnswer(bool isPage);
    bool TakePageStatus();
    void TakeLoaderInformation();
    void OpenLog();
    void CloseLog();

    std::shared_ptr<TShared> FShared;
    mutable std::recursive_mutex FLock; // pending lists, operation queue, transmit state
    QByteArray BufferRx;
    qsizetype FRxPos = 0; // bytes at the front of BufferRx already taken as frames
    QTimer *TimerCheckTimeout = nullptr;
    bool FInTimerTick = false;
    QList<TRegAnswerTimeout> ListRegTimeouts;
    QList<TRegAck> ListRegAcks;
    QQueue<TProcessRegisterAsync> QueueRegisterOperations;
    TProcessRegisterAsync FCurRegisterAsync;
    QList<TInFlight> FAsyncInFlight; // queued operations sent and not yet ended
    quint64 FAsyncSerial = 0;

    QDateTime TimeStart;
    quint32 FLogStartTick = 0;
    std::unique_ptr<QFile> LogFileAck;
    QMutex FLogLock;

    TOnFirmwareStartAck FOnFirmwareStartAck;
    TOnProgress FOnFirmwareProgress;
    quint16 FDeviceId = 0;
    quint16 FFlashSize = 0;
    quint16 FFlashPageSize = 0;
    QByteArray ReceivedLoaderIdentStr;
    QByteArray FirmwareData;
    quint32 PageIndex = 0; // wider than the line's index: the last of 65,536 pages ends the image
    // Boot-loader requests still waiting for their answers, oldest first. The loader answers
    // in the order it was asked, so each answer belongs to the oldest request of its kind;
    // a page carries the pass it was sent in, and a status for a page of a pass that a
    // restart abandoned sends nothing further.
    struct TLoaderWait {
        bool IsPage = false;
        quint32 Pass = 0;
    };
    QQueue<TLoaderWait> FLoaderWaits;
    quint32 FFirmwarePass = 0;
};

#pragma once
// TComPort: the program's thin serial port. A port that is open has an event thread of its
// own that owns the QSerialPort and watches for received bytes; the bytes are buffered there
// and announced through OnRxChar, on the GUI thread (smThreadSync) or on the event thread
// itself (smNone). Writes go straight to the port's descriptor from the calling thread; what
// the line does not take at once is queued, in order, and finished by the event thread.
// When the line itself goes (the device hangs up, or takes no byte for OutputStallMs) the
// event thread stops using it at once and OnLineLost tells the owner.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>

class QThread;
class TComPortCore;

enum TDataBits : quint8 { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : quint8 { prNone, prOdd, prEven, prMark, prSpace };
enum TStopBits : quint8 { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDTRFlowControl : quint8 { dtrDisable, dtrEnable, dtrHandshake };
enum TSyncMethod : quint8 { smThreadSync, smNone };
enum TComEvent : quint8 { evRxChar = 1 };
using TComEvents = quint8; // a set of TComEvent bits

class TComPort;
using TComPortNotify = std::function<void(TComPort *sender)>;
using TRxCharEvent = std::function<void(TComPort *sender, int count)>;

// Errors of the serial layer.
class EComPort : public std::runtime_error {
public:
    explicit EComPort(const QString &message, int code = 0)
        : std::runtime_error(message.toStdString()), Code(code) {}
    int Code; // the host's error code, 0 when there is none
};

// One asynchronous write. Completed by whichever thread puts its last byte on the line.
struct TAsync;
using PAsync = std::shared_ptr<TAsync>;

struct TComParity {
    TParityBits Bits = prNone;
};
struct TComFlowControl {
    TDTRFlowControl ControlDTR = dtrDisable;
};

class TComPort {
public:
    TComPort();
    ~TComPort(); // closes without raising OnAfterClose
    TComPort(const TComPort &) = delete;
    TComPort &operator=(const TComPort &) = delete;

    // ---- Settings. Changing one of the four line settings of an open port reconfigures it
    // at once (or at EndUpdate); changing Port of an open port reopens it under the new name.
    QString Port() const { return FPort; }
    void SetPort(const QString &value);
    int CustomBaudRate() const { return FBaudRate; }
    void SetCustomBaudRate(int value);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits value);
    TParityBits ParityBits() const { return FParity.Bits; }
    void SetParityBits(TParityBits value);
    TComFlowControl FlowControl;
    TComEvents Events = evRxChar;
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod value); // EComPort while connected
    int Tag = 0;

    void BeginUpdate();
    void EndUpdate();

    // ---- Open and close.
    bool Connected() const;
    void SetConnected(bool value); // open: EComPort "Unable to open com port ..."
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }

    // ---- Transfer.
    // Reads up to Count buffered bytes into Str; returns how many were read.
    int ReadStr(QByteArray &str, int count);
    int InputCount() const;
    // Writes and returns once the line has taken every byte (EComPort "WriteFile function
    // failed" on an error or after 10 000 ms).
    void WriteStr(const QByteArray &str);
    // Starts a write and returns at once; AsyncPtr receives its fresh record.
    void WriteStrAsync(const QByteArray &str, PAsync &asyncPtr);
    // Waits at most 10 000 ms for the write of AsyncPtr, then releases the record and clears
    // the reference. EComPort "WriteFile function failed" when it failed or did not finish.
    void WaitForAsync(PAsync &asyncPtr);
    // Waits at most TimeoutMs; true when the write completed successfully. Keeps the record.
    static bool AsyncDone(const PAsync &asyncPtr, int timeoutMs);
    // Never waits: when the write of AsyncPtr has ended, releases the record, clears the
    // reference and returns true (EComPort "WriteFile function failed" when it failed); while
    // the write is still under way, keeps the record and returns false.
    static bool TryFinishAsync(PAsync &asyncPtr);

    // ---- Events; every one is optional.
    TComPortNotify OnAfterOpen;  // on the opening thread, before SetConnected(true) returns
    TComPortNotify OnAfterClose; // on the closing thread
    TRxCharEvent OnRxChar;
    // The line is gone: the device hung up (unplugged), or output has waited OutputStallMs
    // without the line taking a byte. Raised once, on the GUI thread, after the port has
    // stopped using the line (its pending writes have failed); the port stays Connected until
    // its owner closes it. Only for a port that the GUI thread closes.
    TComPortNotify OnLineLost;
    // Milliseconds that output may wait without the line taking a byte before the line
    // counts as lost; 0 = no limit. Taken at open.
    int OutputStallMs = 0;

    // The thread that runs OnRxChar while open with smNone; null while closed.
    QThread *EventThread() const;
    // True from the moment a close has begun until the next open; safe from any thread. A
    // handler on the event thread that waits for another thread checks it to stop waiting,
    // since the closing thread waits for the handler.
    bool Closing() const { return FClosing.load(std::memory_order_acquire); }
    // True while another thread waits for the event thread to apply a line setting; safe from
    // any thread. A handler that waits for another thread stops waiting then, as for Closing:
    // that thread may be the one waiting here.
    bool EventThreadAwaited() const { return FEventThreadAwaited.load(std::memory_order_acquire) > 0; }
    // Milliseconds a write may take before it counts as failed.
    static constexpr int WriteTimeoutMs = 10000;

private:
    // Sets Field to Value and applies it to an open port; keeps it only when the port took it.
    template <class T> void CommitLineSetting(T &field, T value);
    void ApplyLineSettings();
    void DoOpen();
    void DoClose(bool raiseEvent);

    QString FPort;
    int FBaudRate = 9600;
    TDataBits FDataBits = dbEight;
    TStopBits FStopBits = sbOneStopBit;
    TComParity FParity;
    TSyncMethod FSyncMethod = smThreadSync;
    std::atomic<bool> FClosing{false};
    std::atomic<int> FEventThreadAwaited{0};
    int FUpdateCount = 0;
    bool FLineSettingsChanged = false;
    bool FPortChanged = false;
    std::shared_ptr<TComPortCore> FCore; // state shared with the event thread; null while closed
};

// The operation queue: register reads and writes sent one after the other, each when the one
// before it has ended, and the synchronous read built on it.
//
// Every dequeued operation carries its own serial number into the handlers it passes to the
// direct commands, so its acknowledgement or time-out reaches that operation's handlers even
// when a second chain has taken another operation from the queue meanwhile.
#include "uKvProtocol.h"
#include "uPlatformTick.h"

#include <QMutexLocker>
#include <QThread>

namespace {
// Operations that ended without any signal (an error-free acknowledgement of a read) stay in
// the in-flight list; keep it bounded.
constexpr qsizetype MaxInFlight = 256;
} // namespace

void TKvProtocol::RequestRegisterAsync(quint8 RegNum, bool ATryCrc16) {
    TProcessRegisterAsync op;
    op.RegNum = RegNum;
    op.Command = KvCodec::CmdReadReg;
    op.TryCrc16 = ATryCrc16;
    {
        QMutexLocker lock(&FLock);
        QueueRegisterOperations.enqueue(op);
    }
    if (LogEnabled()) LogMessage(QStringLiteral("RequestRegAsync %1").arg(RegNum));
}

void TKvProtocol::WriteRegisterAsync(quint8 RegNum, const QVariant &Value, TOnRegTimeoutOrError AOnTimeOut,
                                     TOnRegisterNotify AOnAckReg) {
    TProcessRegisterAsync op;
    op.RegNum = RegNum;
    op.Value = Value;
    op.Command = KvCodec::CmdWriteReg;
    op.OnTimeOut = std::move(AOnTimeOut);
    op.OnAckReg = std::move(AOnAckReg);
    {
        QMutexLocker lock(&FLock);
        QueueRegisterOperations.enqueue(std::move(op));
    }
    if (LogEnabled()) LogMessage(QStringLiteral("WriteRegAsync %1").arg(RegNum));
}

qint32 TKvProtocol::AsyncRegOperationCount() const {
    QMutexLocker lock(&FLock);
    return qint32(QueueRegisterOperations.size());
}

TProcessRegisterAsync TKvProtocol::CurRegisterAsync() const {
    QMutexLocker lock(&FLock);
    return FCurRegisterAsync;
}

bool TKvProtocol::EndInFlight(quint64 Serial) {
    QMutexLocker lock(&FLock);
    for (qsizetype i = 0; i < FAsyncInFlight.size(); ++i) {
        if (FAsyncInFlight[i].Serial == Serial) {
            FAsyncInFlight.removeAt(i);
            return true;
        }
    }
    return false;
}

bool TKvProtocol::EndInFlightReg(quint8 RegNum) {
    QMutexLocker lock(&FLock);
    for (qsizetype i = 0; i < FAsyncInFlight.size(); ++i) {
        if (FAsyncInFlight[i].RegNum == RegNum) {
            FAsyncInFlight.removeAt(i);
            return true;
        }
    }
    return false;
}

void TKvProtocol::NextRegisterOperation(quint8 RegNum) {
    Q_UNUSED(RegNum);
    if (Freed()) return;
    TProcessRegisterAsync op;
    quint64 serial;
    {
        QMutexLocker lock(&FLock);
        if (QueueRegisterOperations.isEmpty()) return;
        op = QueueRegisterOperations.dequeue();
        FCurRegisterAsync = op;
        serial = ++FAsyncSerial;
        if (FAsyncInFlight.size() >= MaxInFlight) FAsyncInFlight.removeFirst();
        FAsyncInFlight.append({serial, op.RegNum});
    }
    TOnRegTimeoutOrError onTimeOut = [this, serial, op](TKvProtocol *, quint8 r, TKvPError ack) {
        AsyncTimeOut(serial, op, r, ack);
    };
    if (op.Command == KvCodec::CmdWriteReg) {
        if (LogEnabled()) LogMessage(QStringLiteral("Dequeue Async WriteReg %1").arg(op.RegNum));
        try {
            VariantToRegister(Registers[op.RegNum], op.Value);
        } catch (...) {
            EndInFlight(serial);
            throw;
        }
        TOnRegisterNotify onAck = [this, serial, op](TKvProtocol *, quint8 r) { AsyncAckReg(serial, op, r); };
        WriteRegister(op.RegNum, op.DevAddr, std::move(onTimeOut), std::move(onAck));
    } else {
        if (LogEnabled()) LogMessage(QStringLiteral("Dequeue Async ReadReg %1").arg(op.RegNum));
        SendRequest(op.RegNum, op.DevAddr, std::move(onTimeOut), op.TryCrc16);
    }
}

void TKvProtocol::AsyncAckReg(quint64 Serial, const TProcessRegisterAsync &Op, quint8 RegNum) {
    if (LogEnabled()) LogMessage(QStringLiteral("Async WriteReg %1 OK Ack").arg(RegNum));
    const bool wasInFlight = EndInFlight(Serial);
    const std::shared_ptr<TShared> alive = FShared;
    if (Op.OnAckReg) {
        Op.OnAckReg(this, RegNum);
        if (alive->InstanceWasFreed) return;
    }
    // A late acknowledgement of an operation whose chain already moved on starts no new chain.
    if (wasInFlight) NextRegisterOperation(RegNum);
}

void TKvProtocol::AsyncTimeOut(quint64 Serial, const TProcessRegisterAsync &Op, quint8 RegNum,
                               TKvPError Ack) {
    if (LogEnabled()) LogMessage(QStringLiteral("Async TimeOut Reg %1").arg(RegNum));
    const bool wasInFlight = EndInFlight(Serial);
    const std::shared_ptr<TShared> alive = FShared;
    if (Op.OnTimeOut) {
        Op.OnTimeOut(this, RegNum, Ack);
        if (alive->InstanceWasFreed) return;
    }
    if (wasInFlight) NextRegisterOperation(RegNum);
}

bool TKvProtocol::ReadRegistersSync(const SetOfByte &RegNums, double Timeout_ms) {
    {
        QMutexLocker lock(&FLock);
        NeedReadRegisters |= RegNums;
    }
    for (int r = 0; r < 256; ++r)
        if (RegNums.test(r)) RequestRegisterAsync(quint8(r), false);
    // Taken before the first send: the output handler may already destroy the engine.
    const std::shared_ptr<TShared> alive = FShared;
    NextRegisterOperation(0);
    const quint32 start = KvPlatform::TickCount();
    for (;;) {
        if (alive->InstanceWasFreed) return false;
        {
            QMutexLocker lock(&FLock);
            if ((NeedReadRegisters & RegNums).none()) return true;
        }
        if (double(quint32(KvPlatform::TickCount() - start)) > Timeout_ms) return false;
        CallCopy(Application_ProcessMessages);
        QThread::yieldCurrentThread();
    }
}

bool TKvProtocol::ReadRegisterSync(quint8 RegNum, double Timeout_ms) {
    SetOfByte one;
    one.set(RegNum);
    return ReadRegistersSync(one, Timeout_ms);
}

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

void TKvProtocol::RequestRegisterAsync(quint8 regNum, bool aTryCrc16) {
    TProcessRegisterAsync op;
    op.RegNum = regNum;
    op.Command = KvCodec::CmdReadReg;
    op.TryCrc16 = aTryCrc16;
    {
        std::lock_guard lock(FLock);
        QueueRegisterOperations.enqueue(op);
    }
    if (LogEnabled()) LogMessage(QStringLiteral("RequestRegAsync %1").arg(regNum));
}

void TKvProtocol::WriteRegisterAsync(quint8 regNum, const QVariant &value, TOnRegTimeoutOrError aOnTimeOut,
                                     TOnRegisterNotify aOnAckReg) {
    TProcessRegisterAsync op;
    op.RegNum = regNum;
    op.Value = value;
    op.Command = KvCodec::CmdWriteReg;
    op.OnTimeOut = std::move(aOnTimeOut);
    op.OnAckReg = std::move(aOnAckReg);
    {
        std::lock_guard lock(FLock);
        QueueRegisterOperations.enqueue(std::move(op));
    }
    if (LogEnabled()) LogMessage(QStringLiteral("WriteRegAsync %1").arg(regNum));
}

qint32 TKvProtocol::AsyncRegOperationCount() const {
    std::lock_guard lock(FLock);
    return qint32(QueueRegisterOperations.size());
}

TProcessRegisterAsync TKvProtocol::CurRegisterAsync() const {
    std::lock_guard lock(FLock);
    return FCurRegisterAsync;
}

bool TKvProtocol::EndInFlight(quint64 serial) {
    std::lock_guard lock(FLock);
    for (qsizetype i = 0; i < FAsyncInFlight.size(); ++i) {
        if (FAsyncInFlight[i].Serial == serial) {
            FAsyncInFlight.removeAt(i);
            return true;
        }
    }
    return false;
}

bool TKvProtocol::EndInFlightReg(quint8 regNum) {
    std::lock_guard lock(FLock);
    for (qsizetype i = 0; i < FAsyncInFlight.size(); ++i) {
        if (FAsyncInFlight[i].RegNum == regNum) {
            FAsyncInFlight.removeAt(i);
            return true;
        }
    }
    return false;
}

void TKvProtocol::NextRegisterOperation(quint8 regNum) {
    Q_UNUSED(regNum);
    if (Freed()) return;
    TProcessRegisterAsync op;
    quint64 serial;
    {
        std::lock_guard lock(FLock);
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
            std::lock_guard lock(RegistersLock);
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

void TKvProtocol::AsyncAckReg(quint64 serial, const TProcessRegisterAsync &op, quint8 regNum) {
    if (LogEnabled()) LogMessage(QStringLiteral("Async WriteReg %1 OK Ack").arg(regNum));
    const bool wasInFlight = EndInFlight(serial);
    const std::shared_ptr<TShared> alive = FShared;
    if (op.OnAckReg) {
        op.OnAckReg(this, regNum);
        if (alive->InstanceWasFreed) return;
    }
    // A late acknowledgement of an operation whose chain already moved on starts no new chain.
    if (wasInFlight) NextRegisterOperation(regNum);
}

void TKvProtocol::AsyncTimeOut(quint64 serial, const TProcessRegisterAsync &op, quint8 regNum,
                               TKvPError ack) {
    if (LogEnabled()) LogMessage(QStringLiteral("Async TimeOut Reg %1").arg(regNum));
    const bool wasInFlight = EndInFlight(serial);
    const std::shared_ptr<TShared> alive = FShared;
    if (op.OnTimeOut) {
        op.OnTimeOut(this, regNum, ack);
        if (alive->InstanceWasFreed) return;
    }
    if (wasInFlight) NextRegisterOperation(regNum);
}

bool TKvProtocol::ReadRegistersSync(const SetOfByte &regNums, double timeoutMs) {
    {
        std::lock_guard lock(FLock);
        NeedReadRegisters |= regNums;
    }
    for (int r = 0; r < 256; ++r)
        if (regNums.test(r)) RequestRegisterAsync(quint8(r), false);
    // Taken before the first send: the output handler may already destroy the engine.
    const std::shared_ptr<TShared> alive = FShared;
    NextRegisterOperation(0);
    const quint32 start = KvPlatform::TickCount();
    for (;;) {
        if (alive->InstanceWasFreed) return false;
        {
            std::lock_guard lock(FLock);
            if ((NeedReadRegisters & regNums).none()) return true;
        }
        if (double(quint32(KvPlatform::TickCount() - start)) > timeoutMs) return false;
        CallCopy(Application_ProcessMessages);
        QThread::yieldCurrentThread();
    }
}

bool TKvProtocol::ReadRegisterSync(quint8 regNum, double timeoutMs) {
    SetOfByte one;
    one.set(regNum);
    return ReadRegistersSync(one, timeoutMs);
}

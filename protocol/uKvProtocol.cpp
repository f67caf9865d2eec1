// The engine: construction, the frame layer, the packet interpreter, direct register
// commands, the pending-answer lists and their time-out timer.
#include "uKvProtocol.h"
#include "uKvHopTrace.h"
#include "uKvThreadHandOver.h"
#include "uKvTrazerHook.h"
#include "uPlatformTick.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

TKvProtocol::TKvProtocol(TOutputData aOutputData, const TKvRegistersDynArray &aRegisters,
                         TOnRegisterNotify aOnReceivedRegister, TOnAck aOnAckAll,
                         TOutputData aOnUnknownCommand, bool aLogEnabled, const QString &aLogName,
                         bool aSyncWithGui, const QString &trazerServerName)
    : FShared(std::make_shared<TShared>()) {
    AnswerError = 0;
    TimeOut = 100;
    if (aLogEnabled) FLog = aLogName;
    OutputData = std::move(aOutputData);

    TimerCheckTimeout = new QTimer;
    TimerCheckTimeout->setInterval(20);
    QObject::connect(TimerCheckTimeout, &QTimer::timeout, [this] { TimerCheckTimeoutTimer(); });
    TimerCheckTimeout->start();

    if (!FLog.isEmpty()) {
        try {
            OpenLog();
        } catch (...) {
            delete TimerCheckTimeout;
            throw;
        }
    }
    if (!trazerServerName.isEmpty()) {
        // The server comes from its own library, which installs its factory when linked.
        if (const TTrazerServerFactory makeServer = TrazerServerFactory()) {
            try {
                TrazerServerI = makeServer(this, trazerServerName);
            } catch (...) {
                delete TimerCheckTimeout;
                throw;
            }
        } else {
            LogMessage(
                QStringLiteral("TrazerServer \"%1\" not created: no shared-memory server in this program")
                    .arg(trazerServerName));
        }
    }

    FirstPacket = true;
    PrevPacketCounter = 255;
    OnReceivedRegister = std::move(aOnReceivedRegister);
    OnAckAll = std::move(aOnAckAll);
    OnUnknownCommand = std::move(aOnUnknownCommand);
    LoadRegistersInfo(aRegisters);
    SyncWithGui = aSyncWithGui;
}

TKvProtocol::~TKvProtocol() {
    // Everything still on the stack (InputData, the timer tick, a posted GUI call) checks this
    // flag, which lives in the shared block, before it touches the engine again.
    FShared->InstanceWasFreed.store(true, std::memory_order_release);
    if (TimerCheckTimeout) {
        QObject::disconnect(TimerCheckTimeout, nullptr, nullptr, nullptr);
        if (TimerCheckTimeout->thread() == QThread::currentThread())
            delete TimerCheckTimeout; // also safe from inside its own timeout signal
        else
            TimerCheckTimeout->deleteLater();
        TimerCheckTimeout = nullptr;
    }
    {
        QMutexLocker lock(&FShared->RegNumQueueLock);
        FShared->RegNumQueue.clear();
    }
    CloseLog();
}

void TKvProtocol::LoadRegistersInfo(const TKvRegistersDynArray &aRegisters) {
    std::lock_guard lock(RegistersLock);
    if (TrazerServerI) {
        TKvRegister counter;
        counter.RegAdr = 253;
        counter.RegType = rtU32;
        counter.Known = true;
        Registers[253] = counter;
        TKvRegister stream;
        stream.RegAdr = 254;
        stream.RegType = rtBinStream;
        stream.Known = true;
        Registers[254] = stream;
    }
    for (const TKvRegister &reg : aRegisters) {
        Registers[reg.RegAdr] = reg;
        Registers[reg.RegAdr].Known = true;
    }
}

// ---- Frame layer ----------------------------------------------------------------------

void TKvProtocol::TxFrame(const QByteArray &data) {
    SendFrame(data, false);
}

void TKvProtocol::TxAck(quint8 b1, quint8 b2, quint8 b3) {
    QByteArray payload;
    payload.append(char(b1)).append(char(b2)).append(char(b3));
    SendFrame(payload, false);
}

void TKvProtocol::TestPacketCounterTransmit() {
    std::lock_guard lock(FLock);
    PacketCounterTransmit = quint8(PacketCounterTransmit + 10);
}

void TKvProtocol::SendFrame(const QByteArray &payload, bool forceCrc) {
    if (Freed() || payload.isEmpty()) return;
    QByteArray frame;
    bool probe = false;
    {
        std::lock_guard lock(FLock);
        if (UseCrc16 || TryCrc16 || forceCrc) {
            if (TryCrc16 || forceCrc) {
                TryCrc16 = false;
                WasTryCrc16 = true;
                probe = true;
            }
            frame = KvCodec::FrameCrc16(payload, PacketCounterTransmit);
            PacketCounterTransmit = quint8(PacketCounterTransmit + 1);
        } else {
            frame = KvCodec::FrameCheckSum(payload);
        }
    }
    if (probe) LogMessage(QStringLiteral("TryCrc16"));
    KvHopTrace::Mark(KvHopTrace::hpWrite);
    CallCopy(OutputData, frame);
}

void TKvProtocol::InputData(const QByteArray &data) {
    if (Freed()) return;
    const std::shared_ptr<TShared> alive = FShared;
    BufferRx.append(data);
    // Every complete frame now in the buffer is handled, in order. The read position is the
    // engine's, not this call's: a handler that feeds more bytes from within (a nested event
    // loop) goes on where this call stands, and this call then goes on after it.
    QByteArray body;
    bool skipped = false;
    while (KvCodec::NextFrame(BufferRx, FRxPos, body, skipped)) {
        if (!skipped) HandleBody(body, alive);
        if (alive->InstanceWasFreed.load(std::memory_order_acquire))
            return; // a handler destroyed the engine: touch nothing more
    }
    BufferRx.remove(0, FRxPos);
    FRxPos = 0;
    // What is left forms no frame (yet): bytes without a delimiter, or a frame whose closing
    // delimiter has not come. A line that never closes one must not grow the buffer without end.
    if (BufferRx.size() > MaxBufferRx) KvCodec::CapBuffer(BufferRx, MaxBufferRx);
}

void TKvProtocol::HandleBody(const QByteArray &escaped, const std::shared_ptr<TShared> &alive) {
    QByteArray body = KvCodec::Unescape(escaped);
    if (body.size() < 2) return;
    bool crcFrame;
    if (UseCrc16) {
        if (KvCodec::BodyPassesCrc16(body)) {
            crcFrame = true;
        } else if (KvCodec::BodyPassesCheckSum(body)) {
            {
                std::lock_guard lock(FLock);
                UseCrc16 = false;
            }
            LogMessage(QStringLiteral("CS mode on"));
            crcFrame = false;
        } else {
            return;
        }
    } else {
        if (KvCodec::BodyPassesCheckSum(body)) {
            crcFrame = false;
        } else if (KvCodec::BodyPassesCrc16(body)) {
            {
                std::lock_guard lock(FLock);
                UseCrc16 = true;
                PacketCounterErrors = 0;
                // After our own probe the device continues our counter; otherwise start over.
                if (WasTryCrc16)
                    WasTryCrc16 = false;
                else
                    PacketCounterTransmit = 0;
                PrevPacketCounter = 255;
            }
            LogMessage(QStringLiteral("Crc16 mode on"));
            crcFrame = true;
        } else {
            return;
        }
    }
    if (crcFrame) {
        if (body.size() < 4) return;
        const quint8 counter = quint8(body[body.size() - 3]);
        const quint8 gap = quint8(counter - PrevPacketCounter - 1);
        if (gap != 0) {
            PacketCounterErrors = quint16(PacketCounterErrors + gap);
            if (LogEnabled())
                LogMessage(QStringLiteral("PacketCounterErrors ; Prev: %1; Cur: %2; Errors: %3")
                               .arg(PrevPacketCounter)
                               .arg(counter)
                               .arg(gap));
        }
        PrevPacketCounter = counter;
        body.chop(3);
    } else {
        body.chop(1);
    }
    if (!body.isEmpty() && !alive->InstanceWasFreed.load(std::memory_order_acquire)) DispatchPacket(body);
}

// ---- Packet interpreter -------------------------------------------------------------

void TKvProtocol::DispatchPacket(const QByteArray &packet) {
    AnswerError = KvErrOk;
    quint8 devAddress = 0;
    QByteArray payload = packet;
    if (quint8(payload[0]) == KvCodec::AddressMarker) {
        // An address prefix with nothing behind it carries no command: drop it unread.
        if (payload.size() < 3) {
            AnswerError = KvErrParameter;
            return;
        }
        devAddress = quint8(payload[1]);
        payload.remove(0, 2);
    }
    quint8 command = quint8(payload[0]);
    if ((command == KvCodec::CmdWriteReg2 || command == KvCodec::CmdAck2) && !ForbidNewRegCommands)
        NewCommands = true;
    if (NewCommands) {
        if (command == KvCodec::CmdWriteReg2)
            command = KvCodec::CmdWriteReg;
        else if (command == KvCodec::CmdReadReg2)
            command = KvCodec::CmdReadReg;
    }
    switch (command) {
    case KvCodec::CmdWriteReg:
    case KvCodec::CmdAutoSend:
        DispatchRegisterValue(command, payload, devAddress);
        break;
    case KvCodec::CmdReadReg:
        break;
    case KvCodec::CmdReadBlock:
    case KvCodec::CmdWriteBlock:
    case KvCodec::CmdClearBlock:
    case KvCodec::CmdFirmwarePage:
    case KvCodec::CmdLoaderInfo:
        DispatchFirmware(command, payload);
        break;
    case KvCodec::CmdAck:
    case KvCodec::CmdAck2:
        DispatchAck(payload);
        break;
    default:
        AnswerError = KvErrCommand;
        CallCopy(OnUnknownCommand, payload);
        break;
    }
}

void TKvProtocol::DispatchRegisterValue(quint8 command, const QByteArray &payload, quint8 devAddress) {
    if (payload.size() < 3) {
        AnswerError = KvErrParameter;
        LogMessage(QStringLiteral("  Packet Paramter Error"));
        return;
    }
    const quint8 regNum = quint8(payload[1]);
    const quint8 type = quint8(payload[2]);
    if (type > KvRegisterTypeMax) {
        AnswerError = KvErrDataType;
        LogMessage(QStringLiteral("  Packet Type Error"));
        return;
    }
    const qsizetype valueSize = payload.size() - 3;
    if (KvRegisterTypeSize[type] != KvAnySize && valueSize != KvRegisterTypeSize[type]) {
        AnswerError = KvErrDataType;
        LogMessage(QStringLiteral("  Packet Type Size Error"));
        return;
    }
    {
        std::lock_guard lock(RegistersLock);
        TKvRegister &reg = Registers[regNum];
        reg.RegType = TKvRegisterType(type);
        reg.DevAddress = devAddress;
        reg.RawData = payload.mid(3);
        reg.Known = true;
        reg.UpdateCounter = quint16(reg.UpdateCounter + 1);
    }
    {
        std::lock_guard lock(FLock);
        for (qsizetype i = 0; i < ListRegTimeouts.size(); ++i) {
            if (ListRegTimeouts[i].RegNum == regNum) {
                ListRegTimeouts.removeAt(i);
                break;
            }
        }
    }
    if (LogEnabled()) LogMessage(QStringLiteral("  Received Reg %1").arg(regNum));
    AnswerError = KvErrOk; // before the handlers, which may destroy the engine
    if (command == KvCodec::CmdAutoSend) {
        CallCopy(OnReceivedRegisterAuto, this, regNum);
    } else {
        RegisterReceived(regNum);
    }
}

void TKvProtocol::DispatchAck(const QByteArray &payload) {
    if (payload.size() != 4) {
        AnswerError = KvErrGeneral;
        return;
    }
    const quint8 command = quint8(payload[1]);
    const quint8 regNum = quint8(payload[2]);
    const TKvPError error = quint8(payload[3]);
    const quint8 normalised = command == KvCodec::CmdWriteReg2  ? KvCodec::CmdWriteReg
                              : command == KvCodec::CmdReadReg2 ? KvCodec::CmdReadReg
                                                                : command;
    if (LogEnabled())
        LogMessage(
            QStringLiteral(" Ack: %1 reg %2 %3").arg(CommandName(command)).arg(regNum).arg(ErrorText(error)));

    TOnRegTimeoutOrError onTimeOut;
    TOnRegisterNotify onAck;
    {
        std::lock_guard lock(FLock);
        for (qsizetype i = 0; i < ListRegTimeouts.size(); ++i) {
            if (ListRegTimeouts[i].RegNum == regNum && ListRegTimeouts[i].Command == normalised) {
                if (error != KvErrOk) onTimeOut = ListRegTimeouts[i].OnTimeOut;
                ListRegTimeouts.removeAt(i);
                break;
            }
        }
        if (normalised == KvCodec::CmdWriteReg) {
            for (qsizetype i = 0; i < ListRegAcks.size(); ++i) {
                if (ListRegAcks[i].RegNum == regNum) {
                    if (error == KvErrOk) onAck = ListRegAcks[i].OnAckReg;
                    ListRegAcks.removeAt(i);
                    break;
                }
            }
        }
    }
    const std::shared_ptr<TShared> alive = FShared;
    if (onTimeOut) {
        onTimeOut(this, regNum, error);
        if (alive->InstanceWasFreed) return;
    }
    if (onAck) {
        onAck(this, regNum);
        if (alive->InstanceWasFreed) return;
    }
    CallCopy(OnAckAll, command, regNum, error);
}

void TKvProtocol::RegisterReceived(quint8 regNum) {
    KvHopTrace::Mark(KvHopTrace::hpDispatch);
    const std::shared_ptr<TShared> alive = FShared;
    // The queue moves on after the notification, also when a handler throws.
    const auto advance = [&] {
        if (!alive->InstanceWasFreed && EndInFlightReg(regNum)) NextRegisterOperation(regNum);
    };
    try {
        if (OnReceivedRegisterTrazer) {
            CallCopy(OnReceivedRegisterTrazer, this, regNum);
            if (alive->InstanceWasFreed) return;
        }
        {
            std::lock_guard lock(FLock);
            NeedReadRegisters.reset(regNum);
        }
        if (SyncWithGui) {
            {
                QMutexLocker lock(&alive->RegNumQueueLock);
                alive->RegNumQueue.enqueue(regNum);
            }
            QCoreApplication *app = QCoreApplication::instance();
            if (!app || QThread::currentThread() == app->thread()) {
                OnReceivedRegisterGui();
            } else {
                // One posted call per value; a call that arrives after the engine is gone does nothing.
                KvThread::Post(app, [alive, this] {
                    if (!alive->InstanceWasFreed) OnReceivedRegisterGui();
                });
            }
        } else {
            CallCopy(OnReceivedRegister, this, regNum);
        }
    } catch (...) {
        advance();
        throw;
    }
    advance();
}

void TKvProtocol::OnReceivedRegisterGui() {
    if (Freed()) return;
    quint8 regNum;
    {
        QMutexLocker lock(&FShared->RegNumQueueLock);
        if (FShared->RegNumQueue.isEmpty()) return;
        regNum = FShared->RegNumQueue.dequeue();
    }
    CallCopy(OnReceivedRegister, this, regNum);
}

// ---- Time-outs ----------------------------------------------------------------------

void TKvProtocol::TimerCheckTimeoutTimer() {
    if (Freed()) return;
    const quint32 now = KvPlatform::TickCount();
    TRegAnswerTimeout expired;
    {
        std::lock_guard lock(FLock);
        qsizetype i = 0;
        // Wrap-safe: an entry has expired when now lies after its deadline.
        while (i < ListRegTimeouts.size() && !KvPlatform::TickPassed(now, ListRegTimeouts[i].TimeOfTimeOut))
            ++i;
        if (i == ListRegTimeouts.size()) return;
        expired = ListRegTimeouts.takeAt(i);
    }
    if (LogEnabled()) LogMessage(QStringLiteral("TimeOut %1").arg(expired.RegNum));
    if (expired.OnTimeOut) expired.OnTimeOut(this, expired.RegNum, KvErrTimeOut);
}

int TKvProtocol::PendingTimeoutCount() const {
    std::lock_guard lock(FLock);
    return int(ListRegTimeouts.size());
}

int TKvProtocol::PendingAckCount() const {
    std::lock_guard lock(FLock);
    return int(ListRegAcks.size());
}

// ---- Register commands --------------------------------------------------------------

void TKvProtocol::RequestRegister(quint8 regNum, quint8 devAddr, TOnRegTimeoutOrError aOnTimeOut) {
    SendRequest(regNum, devAddr, std::move(aOnTimeOut), false);
}

void TKvProtocol::SendRequest(quint8 regNum, quint8 devAddr, TOnRegTimeoutOrError aOnTimeOut, bool forceCrc) {
    if (Freed()) return;
    bool firstContact = false;
    {
        std::lock_guard lock(FLock);
        if (FirstPacket && regNum != 0) {
            FirstPacket = false;
            firstContact = true;
        }
    }
    if (firstContact) {
        // The first real request goes behind a read of register 1 sent in CRC format: a device
        // that answers it switches both sides to CRC mode.
        RequestRegisterAsync(1, true);
        RequestRegisterAsync(regNum, false);
        NextRegisterOperation(0);
        return;
    }
    QByteArray payload;
    if (devAddr != 0) payload.append(char(KvCodec::AddressMarker)).append(char(devAddr));
    payload.append(char(NewCommands ? KvCodec::CmdReadReg2 : KvCodec::CmdReadReg)).append(char(regNum));
    if (aOnTimeOut) {
        std::lock_guard lock(FLock);
        ListRegTimeouts.append(
            {regNum, KvPlatform::TickCount() + TimeOut, KvCodec::CmdReadReg, std::move(aOnTimeOut)});
    }
    if (LogEnabled()) LogMessage(QStringLiteral("ReadReg  %1").arg(regNum));
    SendFrame(payload, forceCrc);
}

void TKvProtocol::WriteRegister(quint8 regNum, quint8 devAddr, TOnRegTimeoutOrError aOnTimeOut,
                                TOnRegisterNotify aOnAckReg) {
    if (Freed()) return;
    bool firstContact = false;
    {
        std::lock_guard lock(FLock);
        if (FirstPacket) {
            FirstPacket = false;
            firstContact = true;
        }
    }
    if (firstContact) {
        RequestRegisterAsync(1, true);
        WriteRegisterAsync(regNum, RegisterToVariant(RegisterCopy(regNum)), std::move(aOnTimeOut),
                           std::move(aOnAckReg));
        NextRegisterOperation(0);
        return;
    }
    const TKvRegister reg = RegisterCopy(regNum);
    QByteArray payload;
    if (devAddr != 0) payload.append(char(KvCodec::AddressMarker)).append(char(devAddr));
    payload.append(char(NewCommands ? KvCodec::CmdWriteReg2 : KvCodec::CmdWriteReg))
        .append(char(regNum))
        .append(char(reg.RegType))
        .append(reg.RawData);
    {
        // In the lists before the frame leaves: an answer during OutputData finds them.
        std::lock_guard lock(FLock);
        if (aOnTimeOut)
            ListRegTimeouts.append(
                {regNum, KvPlatform::TickCount() + TimeOut, KvCodec::CmdWriteReg, std::move(aOnTimeOut)});
        if (aOnAckReg) ListRegAcks.append({regNum, std::move(aOnAckReg)});
    }
    if (LogEnabled()) LogMessage(QStringLiteral("WriteReg %1").arg(regNum));
    SendFrame(payload, false);
}

void TKvProtocol::WriteRegisterValue(quint8 regNum, const QVariant &value) {
    {
        std::lock_guard lock(RegistersLock);
        VariantToRegister(Registers[regNum], value);
    }
    WriteRegister(regNum, 0, {}, {});
}

TKvRegister TKvProtocol::RegisterCopy(quint8 regNum) const {
    std::lock_guard lock(RegistersLock);
    return Registers[regNum];
}

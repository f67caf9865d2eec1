// The shared-memory register server: the block, the stream of register 254, the write request
// and the read handshake.
#include "uTrazerServerKv.h"
#include "uKvProtocol.h"
#include "uTrazerSpinLock.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

namespace {

constexpr std::size_t OffsetCommandWriteRegNum = offsetof(TTrazerSharedRecord, CommandWriteRegNum);
constexpr std::size_t OffsetCommandParams = offsetof(TTrazerSharedRecord, CommandParams);
constexpr std::size_t OffsetInputBufferCount = offsetof(TTrazerSharedRecord, InputBufferCount);
constexpr std::size_t OffsetExtBlockType = offsetof(TTrazerSharedRecordExt, ExtBlockType);
constexpr std::size_t OffsetExtBlockSize = offsetof(TTrazerSharedRecordExt, ExtBlockSize);
constexpr std::size_t OffsetCommand = offsetof(TTrazerSharedRecordExt, Command);
constexpr std::size_t OffsetStatus = offsetof(TTrazerSharedRecordExt, Status);
constexpr std::size_t OffsetParameter1RegNum = offsetof(TTrazerSharedRecordExt, Parameter1RegNum);
constexpr std::size_t OffsetParameter2RegType = offsetof(TTrazerSharedRecordExt, Parameter2RegType);
constexpr std::size_t OffsetParameter4Size = offsetof(TTrazerSharedRecordExt, Parameter4Size);
constexpr std::size_t OffsetParameter4Buffer = offsetof(TTrazerSharedRecordExt, Parameter4Buffer);

// The command record's Command and Status bytes: the companion writes them at any time.
std::atomic_ref<quint8> ExtByte(TTrazerSharedRecordExt *ext, std::size_t offset) {
    return std::atomic_ref<quint8>(reinterpret_cast<quint8 *>(ext)[offset]);
}

bool StoresRawBytes(TKvRegisterType type) {
    return type == rtBinary || type == rtString || type == rtBinStream;
}

std::shared_ptr<ITrazerServer> MakeTrazerServer(TKvProtocol *aKvProtocol, const QString &trazerServerName) {
    return std::make_shared<TTrazerServer>(aKvProtocol, trazerServerName);
}

// Linking this library is what gives engines constructed with a server name their server.
struct TTrazerFactoryInstaller {
    TTrazerFactoryInstaller() { SetTrazerServerFactory(&MakeTrazerServer); }
} const TrazerFactoryInstaller;

} // namespace

QString TTrazerServer::RegisterServerNameFor(const QString &trazerServerName) {
    QString name = trazerServerName.isEmpty() ? QStringLiteral("TKvProtocol") : trazerServerName;
    const QLatin1String terminal("Terminal");
    const qsizetype at = name.indexOf(terminal, 0, Qt::CaseInsensitive);
    if (at >= 0) name.remove(at, terminal.size());
    if (name.size() >= 2 && name[0] == QLatin1Char('T') && name[1].isUpper()) name.remove(0, 1);
    return name;
}

namespace {

QString RefusalLine(const QString &publishedName, const QString &why) {
    return QStringLiteral("Scope bridge \"%1\" is off: %2").arg(publishedName, why);
}

} // namespace

QString TTrazerServer::NameProblem(const QString &trazerServerName) {
    const QString name = RegisterServerNameFor(trazerServerName);
    const QString problem = TrazerNameProblem(name);
    return problem.isEmpty() ? QString() : RefusalLine(name, problem);
}

TTrazerServer::TTrazerServer(TKvProtocol *aKvProtocol, const QString &trazerServerName)
    : FKvProtocol(aKvProtocol) {
    RegisterServerName = RegisterServerNameFor(trazerServerName);
    InputBufferSizeActual = TrazerInputBufferSize;
    const TTrazerNamedObjects objects =
        TrazerOpenNamedObjects(RegisterServerName, TrazerBlockSize(InputBufferSizeActual));
    if (!objects.Address) {
        FRefusal = RefusalLine(RegisterServerName, objects.Refusal);
        FKvProtocol->LogMessage(FRefusal);
        std::fprintf(stderr, "%s\n", FRefusal.toLocal8Bit().constData());
        return;
    }
    HFileMapping = objects.Mapping;
    HMutexProtocolLive = objects.LiveMutex;
    PSharedBuffer = static_cast<TTrazerSharedRecord *>(objects.Address);
    uchar *block = static_cast<uchar *>(objects.Address);

    TrazerStore<qint32>(PSharedBuffer, OffsetInputBufferCount, 0);
    std::atomic_ref<std::int32_t>(*SpinlockWord()).store(0, std::memory_order_release);
    TrazerStore<quint8>(PSharedBuffer, OffsetCommandWriteRegNum, 0);
    PInputBuffer = block + sizeof(TTrazerSharedRecord);
    PSharedBufferExt = reinterpret_cast<TTrazerSharedRecordExt *>(PInputBuffer + InputBufferSizeActual);
    // Marked full: nothing is recorded until the companion sets the count to 0.
    TrazerStore<qint32>(PSharedBuffer, OffsetInputBufferCount, InputBufferSizeActual);
    TrazerStore<quint8>(PSharedBufferExt, OffsetExtBlockType, 1);
    TrazerStore<quint32>(PSharedBufferExt, OffsetExtBlockSize, quint32(sizeof(TTrazerSharedRecordExt)));

    TrazerWriteRegistryValue(RegisterServerName);
    FAnnounced = true;
    FKvProtocol->OnReceivedRegisterTrazer = [this](TKvProtocol *sender, quint8 regNum) {
        OnReceivedRegister(sender, regNum);
    };
}

TTrazerServer::~TTrazerServer() {
    TTrazerNamedObjects objects;
    objects.Mapping = HFileMapping;
    objects.Address = PSharedBuffer;
    objects.LiveMutex = HMutexProtocolLive;
    TrazerCloseNamedObjects(objects, RegisterServerName, TrazerBlockSize(InputBufferSizeActual));
    HFileMapping = 0;
    HMutexProtocolLive = 0;
    PSharedBuffer = nullptr;
    PSharedBufferExt = nullptr;
    PInputBuffer = nullptr;
    // Only the value this server wrote: an inert server must not take away the announcement
    // of a live one of the same name.
    if (FAnnounced) TrazerDeleteRegistryValue(RegisterServerName);
}

std::int32_t *TTrazerServer::SpinlockWord() const {
    return reinterpret_cast<std::int32_t *>(PSharedBuffer); // offset 0, page-aligned
}

bool TTrazerServer::TakeSpinLock() {
    TTrazerSpinLock lock(SpinlockWord());
    const bool taken = FSpinLockStalled ? lock.TryLock() : lock.Lock(SpinLockMaxWaitMs);
    FSpinLockStalled = !taken;
    return taken;
}

void TTrazerServer::ReleaseSpinLock() {
    TTrazerSpinLock(SpinlockWord()).Unlock();
}

void TTrazerServer::OnReceivedRegister(TKvProtocol *senderKvProtocol, quint8 regNum) {
    Q_UNUSED(senderKvProtocol);
    // With the protocol in the port's thread this runs there while the GUI thread uses the
    // register mirror: every access to it goes through the engine's register lock.
    if (PSharedBuffer && regNum == 254) {
        const TKvRegister stream = FKvProtocol->RegisterCopy(254);
        if (stream.RegType == rtBinStream) {
            // A buffer marked full records nothing and serves no command for this value.
            if (TrazerLoad<qint32>(PSharedBuffer, OffsetInputBufferCount) == InputBufferSizeActual) return;
            if (AppendRecord(stream.RawData) == TAppend::BufferFull) return;
        }
    }
    OnRegisterUpdate(regNum);
}

TTrazerServer::TAppend TTrazerServer::AppendRecord(const QByteArray &value) {
    const qint64 length = value.size();
    // A value that could never fit is not recorded, and what the companion has not read stays.
    if (length > qint64(InputBufferSizeActual) - TrazerRecordHeaderSize) return TAppend::Skipped;
    if (!TakeSpinLock()) return TAppend::Skipped;
    qint64 count = TrazerLoad<qint32>(PSharedBuffer, OffsetInputBufferCount);
    if (count == InputBufferSizeActual) {
        ReleaseSpinLock();
        return TAppend::BufferFull;
    }
    // The companion writes the count at any time: one outside the buffer is treated as a
    // record that does not fit, so nothing is ever written outside the input buffer.
    if (count < 0 || count + TrazerRecordHeaderSize + length > InputBufferSizeActual) count = 0;
    uchar *record = PInputBuffer + count;
    record[0] = TrazerRecordMarker;
    TrazerStore<quint32>(record, 1, quint32(length));
    if (length > 0) std::memcpy(record + TrazerRecordHeaderSize, value.constData(), std::size_t(length));
    TrazerStore<qint32>(PSharedBuffer, OffsetInputBufferCount,
                        qint32(count + TrazerRecordHeaderSize + length));
    ReleaseSpinLock();
    return TAppend::Written;
}

void TTrazerServer::OnRegisterUpdate(quint8 regNum) {
    if (!PSharedBuffer) return;
    ServeWriteRequest();
    ServeReadRequest(regNum);
}

void TTrazerServer::ServeWriteRequest() {
    if (!TakeSpinLock()) return; // the request stays for the next value
    const quint8 regNum = TrazerLoad<quint8>(PSharedBuffer, OffsetCommandWriteRegNum);
    const quint32 param = TrazerLoad<quint32>(PSharedBuffer, OffsetCommandParams);
    // Taken and cleared under the lock in one go: a request the companion places while this
    // one is being sent waits for the next value instead of being wiped by a late clear.
    if (regNum != 0) TrazerStore<quint8>(PSharedBuffer, OffsetCommandWriteRegNum, 0);
    ReleaseSpinLock();
    if (regNum == 0) return;

    // The value goes into the mirror under the register lock, which is let go before the
    // write is sent (no lock is held while the engine sends or calls back).
    std::optional<QString> dropped;
    {
        std::lock_guard lock(FKvProtocol->RegistersLock);
        TKvRegister &reg = FKvProtocol->Registers[regNum];
        if (StoresRawBytes(reg.RegType)) {
            QByteArray raw(4, '\0');
            qToLittleEndian<quint32>(param, raw.data());
            reg.RawData = raw;
        } else {
            // A value the register's type cannot take is dropped: it must not raise an error in
            // the engine's receive path (which would keep the value from the application).
            const QByteArray before = reg.RawData;
            try {
                VariantToRegister(reg, QVariant::fromValue<quint32>(param));
            } catch (const EKvConvertError &error) {
                reg.RawData = before;
                dropped = QString::fromUtf8(error.what());
            }
        }
    }
    if (dropped) {
        FKvProtocol->LogMessage(QStringLiteral("TrazerServer: write of reg %1 := %2 dropped: %3")
                                    .arg(regNum)
                                    .arg(param)
                                    .arg(*dropped));
        return;
    }
    FKvProtocol->WriteRegister(regNum, 0, {}, {});
}

void TTrazerServer::ServeReadRequest(quint8 regNum) {
    if (ExtByte(PSharedBufferExt, OffsetCommand).load(std::memory_order_acquire) != tzcReadReg) return;
    std::atomic_ref<quint8> status = ExtByte(PSharedBufferExt, OffsetStatus);
    if (status.load(std::memory_order_acquire) == tzsAsyncStarted &&
        TrazerLoad<quint32>(PSharedBufferExt, OffsetParameter1RegNum) == regNum) {
        const TKvRegister reg = FKvProtocol->RegisterCopy(regNum);
        const QVariant value = RegisterToVariant(reg);
        bool numeric = false;
        const double number = value.typeId() == QMetaType::QByteArray ? 0.0 : value.toDouble(&numeric);
        if (numeric) {
            quint64 bits;
            std::memcpy(&bits, &number, sizeof bits);
            TrazerStore<quint64>(PSharedBufferExt, OffsetParameter4Buffer, bits);
            TrazerStore<quint8>(PSharedBufferExt, OffsetParameter4Size, 8);
        }
        TrazerStore<quint32>(PSharedBufferExt, OffsetParameter2RegType, quint32(reg.RegType));
        status.store(tzsDone, std::memory_order_release);
    }
    if (status.load(std::memory_order_acquire) == tzsPending) {
        const quint8 target = quint8(TrazerLoad<quint32>(PSharedBufferExt, OffsetParameter1RegNum) & 0xFF);
        // Marked before the read leaves, so an answer delivered while it is being sent finds
        // the request waiting for it.
        status.store(tzsAsyncStarted, std::memory_order_release);
        FKvProtocol->RequestRegister(target, 0, {});
    }
}

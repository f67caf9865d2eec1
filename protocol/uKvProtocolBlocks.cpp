// Block commands and the boot loader: firmware written page by page, each page acknowledged
// before the next one goes.
#include "uKvProtocol.h"

#include <QtEndian>

namespace {
void AppendU16(QByteArray &Out, quint16 v) {
    Out.append(char(v & 0xFF)).append(char(v >> 8));
}
quint16 ReadU16(const QByteArray &In, qsizetype At) {
    return quint16(quint8(In[At]) | (quint16(quint8(In[At + 1])) << 8));
}
// Loader requests remembered at most; a device that never answers cannot grow the list.
constexpr qsizetype MaxLoaderWaits = 64;
} // namespace

void TKvProtocol::ExpectLoaderAnswer(bool IsPage) {
    // Noted before the frame goes out: an answer may arrive before the transmit returns.
    QMutexLocker lock(&FLock);
    FLoaderWaits.enqueue({IsPage, FFirmwarePass});
    while (FLoaderWaits.size() > MaxLoaderWaits)
        FLoaderWaits.dequeue();
}

bool TKvProtocol::TakePageStatus() {
    // A status answers the oldest page still waiting; a start request waiting ahead of it
    // was never answered.
    QMutexLocker lock(&FLock);
    while (!FLoaderWaits.isEmpty()) {
        const TLoaderWait w = FLoaderWaits.dequeue();
        if (w.IsPage) return w.Pass == FFirmwarePass;
    }
    return false; // no page waits for a status
}

void TKvProtocol::TakeLoaderInformation() {
    // Pages sent before the answered start request would have had their statuses by now:
    // theirs were lost on the line and are not waited for any longer.
    QMutexLocker lock(&FLock);
    for (qsizetype i = 0; i < FLoaderWaits.size(); ++i) {
        if (!FLoaderWaits[i].IsPage) {
            FLoaderWaits.remove(0, i + 1);
            return;
        }
    }
}

void TKvProtocol::FirmwareStart(TOnFirmwareStartAck AOnFirmwareStartAck, bool Command53,
                                quint32 FirmwareSize) {
    if (AOnFirmwareStartAck) FOnFirmwareStartAck = std::move(AOnFirmwareStartAck);
    QByteArray payload;
    if (Command53) {
        payload.append(char(KvCodec::CmdLoaderStart));
        quint32 le = qToLittleEndian(FirmwareSize);
        payload.append(reinterpret_cast<const char *>(&le), 4);
    } else {
        payload.append(char(KvCodec::CmdLoaderInfo));
    }
    ExpectLoaderAnswer(false);
    TxFrame(payload);
}

void TKvProtocol::FirmwareWrite(const QByteArray &AFirmwareData, TOnProgress AOnProgress) {
    // The page index is 16 bits wide; a longer image would wrap to page 0 and overwrite the start.
    if (FFlashPageSize != 0 && AFirmwareData.size() > qsizetype(65536) * FFlashPageSize)
        throw EKvProtocol(QStringLiteral("Firmware image of %1 bytes has more than 65536 pages of %2 bytes")
                              .arg(AFirmwareData.size())
                              .arg(FFlashPageSize)
                              .toStdString());
    if (AOnProgress) FOnFirmwareProgress = std::move(AOnProgress);
    FirmwareData = AFirmwareData;
    PageIndex = 0;
    {
        // A new pass: statuses of pages sent before it (a restart while a page was on its
        // way) are taken and dropped, so only this pass goes on.
        QMutexLocker lock(&FLock);
        ++FFirmwarePass;
    }
    SendFirmwarePage();
}

void TKvProtocol::SendFirmwarePage() {
    const qint64 offset = qint64(PageIndex) * FFlashPageSize;
    qint64 n = qint64(FirmwareData.size()) - offset;
    if (n > FFlashPageSize) n = FFlashPageSize;
    if (n <= 0) return; // image complete, or no page size known yet
    QByteArray payload;
    payload.append(char(KvCodec::CmdFirmwarePage));
    AppendU16(payload, quint16(PageIndex)); // below 65,536: FirmwareWrite refuses longer images
    payload.append(FirmwareData.constData() + offset, n);
    ExpectLoaderAnswer(true);
    TxFrame(payload);
}

void TKvProtocol::ReadBlock(quint8 DataRegion, quint16 Address, quint16 Count) {
    QByteArray payload;
    payload.append(char(KvCodec::CmdReadBlock)).append(char(DataRegion));
    AppendU16(payload, Address);
    AppendU16(payload, Count);
    TxFrame(payload);
}

void TKvProtocol::WriteBlock(quint8 DataRegion, quint16 Address, const QByteArray &Data) {
    QByteArray payload;
    payload.append(char(KvCodec::CmdWriteBlock)).append(char(DataRegion));
    AppendU16(payload, Address);
    payload.append(Data);
    TxFrame(payload);
}

void TKvProtocol::ClearBlock(quint8 DataRegion, quint16 Address, quint16 Count) {
    QByteArray payload;
    payload.append(char(KvCodec::CmdClearBlock)).append(char(DataRegion));
    AppendU16(payload, Address);
    AppendU16(payload, Count);
    TxFrame(payload);
}

void TKvProtocol::DispatchFirmware(quint8 Command, const QByteArray &Payload) {
    // Every answer is checked against its fixed fields before they are read.
    switch (Command) {
    case KvCodec::CmdFirmwarePage: {
        if (Payload.size() < 2) {
            AnswerError = KvErrParameter;
            return;
        }
        const quint8 status = quint8(Payload[1]);
        if (!TakePageStatus()) return; // a page of an abandoned pass, or no page at all: nothing goes on
        const std::shared_ptr<TShared> alive = FShared;
        if (status == 0) {
            // The count is wider than the line's index: after the last of 65,536 pages it
            // stands past the image's end instead of wrapping back to page 0.
            ++PageIndex;
            SendFirmwarePage();
            if (alive->InstanceWasFreed) return;
        }
        CallCopy(FOnFirmwareProgress, status, PageIndex * FFlashPageSize, quint32(FirmwareData.size()));
        return;
    }
    case KvCodec::CmdLoaderInfo: {
        TakeLoaderInformation();
        const QByteArray rest = Payload.mid(1);
        if (rest.size() > 6) {
            FDeviceId = ReadU16(rest, 0);
            FFlashSize = ReadU16(rest, 2);
            FFlashPageSize = ReadU16(rest, 4);
        }
        ReceivedLoaderIdentStr = rest.size() > 6 ? rest.mid(6) : QByteArray();
        // The handler gets its own copy of the text: it may destroy the engine and read it after.
        const QByteArray ident = ReceivedLoaderIdentStr;
        CallCopy(FOnFirmwareStartAck, FDeviceId, FFlashSize, FFlashPageSize, ident);
        return;
    }
    case KvCodec::CmdReadBlock:
        if (Payload.size() < 4) {
            AnswerError = KvErrParameter;
            return;
        }
        CallCopy(OnReadBlock, quint8(Payload[1]), ReadU16(Payload, 2), Payload.mid(4));
        return;
    case KvCodec::CmdWriteBlock:
    case KvCodec::CmdClearBlock: {
        if (Payload.size() < 6) {
            AnswerError = KvErrParameter;
            return;
        }
        CallCopy(Command == KvCodec::CmdWriteBlock ? OnWriteBlock : OnClearBlock, quint8(Payload[1]),
                 ReadU16(Payload, 2), ReadU16(Payload, 4));
        return;
    }
    default:
        return;
    }
}

// Block commands and the boot loader: firmware written page by page, each page acknowledged
// before the next one goes.
#include "uKvProtocol.h"

#include <QtEndian>

namespace {
void AppendU16(QByteArray &out, quint16 v) {
    out.append(char(v & 0xFF)).append(char(v >> 8));
}
quint16 ReadU16(const QByteArray &in, qsizetype at) {
    return quint16(quint8(in[at]) | (quint16(quint8(in[at + 1])) << 8));
}
// Loader requests remembered at most; a device that never answers cannot grow the list.
constexpr qsizetype MaxLoaderWaits = 64;
} // namespace

void TKvProtocol::ExpectLoaderAnswer(bool isPage) {
    // Noted before the frame goes out: an answer may arrive before the transmit returns.
    std::lock_guard lock(FLock);
    FLoaderWaits.enqueue({isPage, FFirmwarePass});
    while (FLoaderWaits.size() > MaxLoaderWaits)
        FLoaderWaits.dequeue();
}

bool TKvProtocol::TakePageStatus() {
    // A status answers the oldest page still waiting; a start request waiting ahead of it
    // was never answered.
    std::lock_guard lock(FLock);
    while (!FLoaderWaits.isEmpty()) {
        const TLoaderWait w = FLoaderWaits.dequeue();
        if (w.IsPage) return w.Pass == FFirmwarePass;
    }
    return false; // no page waits for a status
}

void TKvProtocol::TakeLoaderInformation() {
    // Pages sent before the answered start request would have had their statuses by now:
    // theirs were lost on the line and are not waited for any longer.
    std::lock_guard lock(FLock);
    for (qsizetype i = 0; i < FLoaderWaits.size(); ++i) {
        if (!FLoaderWaits[i].IsPage) {
            FLoaderWaits.remove(0, i + 1);
            return;
        }
    }
}

void TKvProtocol::FirmwareStart(TOnFirmwareStartAck aOnFirmwareStartAck, bool command53,
                                quint32 firmwareSize) {
    if (aOnFirmwareStartAck) FOnFirmwareStartAck = std::move(aOnFirmwareStartAck);
    QByteArray payload;
    if (command53) {
        payload.append(char(KvCodec::CmdLoaderStart));
        quint32 le = qToLittleEndian(firmwareSize);
        payload.append(reinterpret_cast<const char *>(&le), 4);
    } else {
        payload.append(char(KvCodec::CmdLoaderInfo));
    }
    ExpectLoaderAnswer(false);
    TxFrame(payload);
}

void TKvProtocol::FirmwareWrite(const QByteArray &aFirmwareData, TOnProgress aOnProgress) {
    // The page index is 16 bits wide; a longer image would wrap to page 0 and overwrite the start.
    if (FFlashPageSize != 0 && aFirmwareData.size() > qsizetype(65536) * FFlashPageSize)
        throw EKvProtocol(QStringLiteral("Firmware image of %1 bytes has more than 65536 pages of %2 bytes")
                              .arg(aFirmwareData.size())
                              .arg(FFlashPageSize)
                              .toStdString());
    if (aOnProgress) FOnFirmwareProgress = std::move(aOnProgress);
    FirmwareData = aFirmwareData;
    PageIndex = 0;
    {
        // A new pass: statuses of pages sent before it (a restart while a page was on its
        // way) are taken and dropped, so only this pass goes on.
        std::lock_guard lock(FLock);
        ++FFirmwarePass;
    }
    SendFirmwarePage();
}

void TKvProtocol::ResendFirmwarePage() {
    {
        std::lock_guard lock(FLock);
        for (qsizetype i = FLoaderWaits.size() - 1; i >= 0; --i)
            if (FLoaderWaits[i].IsPage) FLoaderWaits.remove(i);
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

void TKvProtocol::ReadBlock(quint8 dataRegion, quint16 address, quint16 count) {
    QByteArray payload;
    payload.append(char(KvCodec::CmdReadBlock)).append(char(dataRegion));
    AppendU16(payload, address);
    AppendU16(payload, count);
    TxFrame(payload);
}

void TKvProtocol::WriteBlock(quint8 dataRegion, quint16 address, const QByteArray &data) {
    QByteArray payload;
    payload.append(char(KvCodec::CmdWriteBlock)).append(char(dataRegion));
    AppendU16(payload, address);
    payload.append(data);
    TxFrame(payload);
}

void TKvProtocol::ClearBlock(quint8 dataRegion, quint16 address, quint16 count) {
    QByteArray payload;
    payload.append(char(KvCodec::CmdClearBlock)).append(char(dataRegion));
    AppendU16(payload, address);
    AppendU16(payload, count);
    TxFrame(payload);
}

void TKvProtocol::DispatchFirmware(quint8 command, const QByteArray &payload) {
    // Every answer is checked against its fixed fields before they are read.
    switch (command) {
    case KvCodec::CmdFirmwarePage: {
        if (payload.size() < 2) {
            AnswerError = KvErrParameter;
            return;
        }
        const quint8 status = quint8(payload[1]);
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
        const QByteArray rest = payload.mid(1);
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
        if (payload.size() < 4) {
            AnswerError = KvErrParameter;
            return;
        }
        CallCopy(OnReadBlock, quint8(payload[1]), ReadU16(payload, 2), payload.mid(4));
        return;
    case KvCodec::CmdWriteBlock:
    case KvCodec::CmdClearBlock: {
        if (payload.size() < 6) {
            AnswerError = KvErrParameter;
            return;
        }
        CallCopy(command == KvCodec::CmdWriteBlock ? OnWriteBlock : OnClearBlock, quint8(payload[1]),
                 ReadU16(payload, 2), ReadU16(payload, 4));
        return;
    }
    default:
        return;
    }
}

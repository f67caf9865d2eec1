// What the simulated tester does with each command it receives: register reads and writes
// with their refusals, the boot loader, the block commands.
#include "uSimDeviceImpl.h"

void TSimDevice::TImpl::Dispatch(QByteArray payload, bool Crc, double Now, double arrived) {
    QByteArray prefix;
    if (quint8(payload[0]) == KvCodec::AddressMarker) {
        if (payload.size() < 3) return; // nothing after the address: not a command
        prefix = payload.left(2);
        payload.remove(0, 2);
    }
    const quint8 cmd = quint8(payload[0]);
    const quint8 second = payload.size() > 1 ? quint8(payload[1]) : 0;
    auto ack = [&](quint8 error) {
        QByteArray p;
        p.append(char(AckCommand()));
        p.append(char(cmd));
        p.append(char(second));
        p.append(char(error));
        Answer(prefix, p, Crc, Now, arrived);
    };
    const bool isRead = cmd == KvCodec::CmdReadReg || (Opt.NewCommands && cmd == KvCodec::CmdReadReg2);
    const bool isWrite = cmd == KvCodec::CmdWriteReg || (Opt.NewCommands && cmd == KvCodec::CmdWriteReg2);
    if (isRead) {
        if (payload.size() < 2) return ack(KvErrParameter);
        if (second >= RegisterCount) return ack(KvErrRegAddress);
        AdvanceModel(Now);
        if (second == Opt.TextReadsOf && Opt.TextReadsEveryN > 0 &&
            ++TextReadsSeen % Opt.TextReadsEveryN == 0) {
            QByteArray text;
            text.append(char(ValueCommand()));
            text.append(char(second));
            text.append(char(rtString));
            text.append("n/a");
            Answer(prefix, text, Crc, Now, arrived);
            return;
        }
        Answer(prefix, ValuePayload(ValueCommand(), second), Crc, Now, arrived);
        return;
    }
    if (isWrite) {
        if (payload.size() < 3) return ack(KvErrParameter);
        if (second >= RegisterCount || Regs[second].ReadOnly) return ack(KvErrRegAddress);
        TSimReg &reg = Regs[second];
        const quint8 type = quint8(payload[2]);
        const QByteArray value = payload.mid(3);
        if (type != reg.Type ||
            (KvRegisterTypeSize[type] != KvAnySize && value.size() != KvRegisterTypeSize[type]))
            return ack(KvErrDataType);
        if (type != rtString) {
            const qint64 v = BytesInt(value, TypeSigned(type));
            if (v < reg.Min || v > reg.Max) return ack(KvErrValue);
        }
        AdvanceModel(Now); // the old inputs held until now
        const bool wasRunning = RegInt(regStartStop) == 1;
        reg.Raw = value;
        if (second == regStartStop && !wasRunning && RegInt(regStartStop) == 1)
            NextAutoSend = Now + Opt.AutoSendPeriodMs;
        return ack(KvErrOk);
    }
    switch (cmd) {
    case KvCodec::CmdLoaderInfo:
    case KvCodec::CmdLoaderStart: {
        if (cmd == KvCodec::CmdLoaderStart) {
            if (payload.size() < 5) return ack(KvErrParameter);
            Announced = qint64(qFromLittleEndian<quint32>(payload.constData() + 1));
        }
        if (++StartRequests <= Opt.LoaderIgnoreStarts) return; // still waking up
        // Either form of the start request begins a new image.
        Image.clear();
        Pages = 0;
        QByteArray p;
        p.append(char(KvCodec::CmdLoaderInfo));
        p.append(Le16(Opt.DeviceId));
        p.append(Le16(Opt.FlashSizeKiB));
        p.append(Le16(Opt.PageSize));
        p.append(Opt.LoaderIdent.toLatin1());
        Answer(prefix, p, Crc, Now, arrived, Opt.LoaderAnswerDelayMs);
        return;
    }
    case KvCodec::CmdFirmwarePage:
        Answer(prefix, QByteArray(1, char(KvCodec::CmdFirmwarePage)) + char(TakePage(payload)), Crc, Now,
               arrived);
        if (Opt.SilentAfterPages > 0 && Pages >= Opt.SilentAfterPages) Opt.Silent = true;
        return;
    case KvCodec::CmdReadBlock:
    case KvCodec::CmdClearBlock:
    case KvCodec::CmdWriteBlock: {
        if (payload.size() < (cmd == KvCodec::CmdWriteBlock ? 4 : 6)) return ack(KvErrParameter);
        const quint8 region = quint8(payload[1]);
        const int address = qFromLittleEndian<quint16>(payload.constData() + 2);
        QByteArray &mem = Blocks[region];
        if (mem.isEmpty()) mem = QByteArray(BlockRegionSize, 0);
        QByteArray p = payload.left(4);
        if (cmd == KvCodec::CmdWriteBlock) {
            const QByteArray data = payload.mid(4, BlockRegionSize - address);
            mem.replace(address, data.size(), data);
            p.append(Le16(quint16(data.size())));
        } else {
            const int count =
                std::min<int>(qFromLittleEndian<quint16>(payload.constData() + 4), BlockRegionSize - address);
            if (cmd == KvCodec::CmdReadBlock) {
                p.append(mem.mid(address, std::min(count, MaxBlockBytes)));
            } else {
                mem.replace(address, count, QByteArray(count, 0));
                p.append(payload.mid(4, 2));
            }
        }
        return Answer(prefix, p, Crc, Now, arrived);
    }
    default:
        return ack(KvErrCommand);
    }
}

// Stores one firmware page; returns its status.
quint8 TSimDevice::TImpl::TakePage(const QByteArray &payload) {
    if (payload.size() < 4 || Opt.PageSize == 0) return KvErrParameter;
    const int page = qFromLittleEndian<quint16>(payload.constData() + 1);
    const QByteArray data = payload.mid(3);
    if (page == Opt.FailPageIndex) return Opt.FailPageStatus;
    const qint64 offset = qint64(page) * Opt.PageSize;
    if (data.size() > Opt.PageSize || offset + data.size() > qint64(Opt.FlashSizeKiB) * 1024)
        return KvErrParameter;
    if (Image.size() < offset + data.size())
        Image.append(QByteArray(offset + data.size() - Image.size(), char(0xFF)));
    Image.replace(offset, data.size(), data);
    ++Pages;
    Updated = true;
    if (!Opt.ImageOutPath.isEmpty()) {
        QFile f(Opt.ImageOutPath);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(Image);
    }
    return KvErrOk;
}

// A firmware image names itself in its first bytes: printable text ended by a zero byte.
// The tester reports that name in register 0 once it runs the new firmware.
void TSimDevice::TImpl::StartNewFirmware() {
    if (!Updated) return;
    Updated = false;
    const qsizetype end = Image.indexOf('\0');
    if (end <= 0 || end > 64) return;
    const QByteArray name = Image.left(end);
    for (char c : name)
        if (quint8(c) < 0x20 || quint8(c) > 0x7E) return;
    Regs[regFirmwareName].Raw = name;
}

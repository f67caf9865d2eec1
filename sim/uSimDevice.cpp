#include "uSimDeviceImpl.h"

TSimDevice::TSimDevice(const TSimOptions &options) : d(std::make_unique<TImpl>()) {
    d->Opt = options;
    d->Elapsed.start();
    d->InitRegisters();
    if (!options.FrameLogPath.isEmpty()) {
        d->LogFile = std::make_unique<QFile>(options.FrameLogPath);
        if (!d->LogFile->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) d->LogFile.reset();
    }
    // Start settled in the present settings, as a tester that has been on for a while.
    d->AdvanceModel(5000.0);
}

TSimDevice::~TSimDevice() = default;

TSimOptions TSimDevice::Options() const {
    QMutexLocker l(&d->Lock);
    return d->Opt;
}

void TSimDevice::SetOutput(TSimOutput output) {
    QMutexLocker l(&d->Lock);
    d->Output = std::move(output);
}

void TSimDevice::SetClock(TSimClock clock) {
    QMutexLocker l(&d->Lock);
    d->Clock = std::move(clock);
    d->ManualClock = false;
    d->NeedRebase = true;
}

double TSimDevice::Now() const {
    QMutexLocker l(&d->Lock);
    return d->ClockNow();
}

void TSimDevice::Receive(const QByteArray &bytes) {
    QVector<QByteArray> out;
    TSimOutput output;
    {
        QMutexLocker l(&d->Lock);
        const double now = d->NowLocked();
        d->TickLocked(now);
        if (d->IsDead) return;
        d->ReceiveLocked(bytes, now);
        d->FlushDue(now, out);
        output = d->Output;
    }
    if (output)
        for (const QByteArray &b : out)
            output(b);
}

void TSimDevice::Tick() {
    QVector<QByteArray> out;
    TSimOutput output;
    {
        QMutexLocker l(&d->Lock);
        const double now = d->NowLocked();
        d->TickLocked(now);
        d->FlushDue(now, out);
        output = d->Output;
    }
    if (output)
        for (const QByteArray &b : out)
            output(b);
}

void TSimDevice::Tick(quint32 nowMs) {
    {
        QMutexLocker l(&d->Lock);
        if (!d->ManualClock) {
            d->ManualClock = true;
            d->NeedRebase = true;
        }
        d->ManualNow = nowMs;
    }
    Tick();
}

double TSimDevice::NextDue() const {
    QMutexLocker l(&d->Lock);
    const double now = d->ClockNow();
    double next = now + 20.0;
    if (!d->Queue.isEmpty()) next = std::min(next, d->Queue.first().Due);
    if (d->RegInt(regStartStop) == 1 && d->Opt.AutoSendPeriodMs > 0) next = std::min(next, d->NextAutoSend);
    if (d->Opt.DieAfterMs > 0 && !d->IsDead) next = std::min(next, d->StartMs + d->Opt.DieAfterMs);
    return std::clamp(next - now, 0.0, 20.0);
}

int TSimDevice::NextDueMs() const {
    return int(std::ceil(NextDue()));
}

void TSimDevice::SetHostPresent(bool present) {
    QMutexLocker l(&d->Lock);
    if (present == d->Host) return;
    d->Host = present;
    if (!present) {
        d->Queue.clear();
        d->RxBuffer.clear();
        d->PrevHostCounter = -1;
        d->SetRegInt(regStartStop, 0);
        d->StartNewFirmware();
    }
    d->LineFreeAt = d->RxLineFreeAt = d->NowLocked();
}

bool TSimDevice::HostPresent() const {
    QMutexLocker l(&d->Lock);
    return d->Host;
}

bool TSimDevice::Dead() const {
    QMutexLocker l(&d->Lock);
    return d->IsDead;
}

bool TSimDevice::Deaf() const {
    QMutexLocker l(&d->Lock);
    return d->Opt.DeafAfterMs > 0 && d->NowLocked() - d->StartMs >= d->Opt.DeafAfterMs;
}

void TSimDevice::SetSilent(bool silent) {
    QMutexLocker l(&d->Lock);
    d->Opt.Silent = silent;
}

QByteArray TSimDevice::Register(quint8 regNum) const {
    QMutexLocker l(&d->Lock);
    return regNum < RegisterCount ? d->Regs[regNum].Raw : QByteArray();
}

quint8 TSimDevice::RegisterType(quint8 regNum) const {
    QMutexLocker l(&d->Lock);
    return regNum < RegisterCount ? d->Regs[regNum].Type : 0;
}

qint64 TSimDevice::RegisterInt(quint8 regNum) const {
    QMutexLocker l(&d->Lock);
    return regNum < RegisterCount ? d->RegInt(regNum) : 0;
}

void TSimDevice::SetRegister(quint8 regNum, const QByteArray &raw) {
    QMutexLocker l(&d->Lock);
    if (regNum >= RegisterCount) return;
    d->Regs[regNum].Raw = raw;
    d->Regs[regNum].Pinned = d->Regs[regNum].ReadOnly;
}

void TSimDevice::SetRegisterInt(quint8 regNum, qint64 value) {
    QMutexLocker l(&d->Lock);
    if (regNum >= RegisterCount || d->Regs[regNum].Type == rtString) return;
    d->SetRegInt(regNum, value);
    d->Regs[regNum].Pinned = d->Regs[regNum].ReadOnly;
}

void TSimDevice::ReleaseRegister(quint8 regNum) {
    QMutexLocker l(&d->Lock);
    if (regNum < RegisterCount) d->Regs[regNum].Pinned = false;
}

void TSimDevice::SendRegister(quint8 regNum) {
    QVector<QByteArray> out;
    TSimOutput output;
    {
        QMutexLocker l(&d->Lock);
        if (regNum >= RegisterCount) return;
        const double now = d->NowLocked();
        d->AdvanceModel(now);
        d->Send(d->ValuePayload(d->ValueCommand(), regNum), d->LastCrc, now, now);
        d->FlushDue(now, out);
        output = d->Output;
    }
    if (output)
        for (const QByteArray &b : out)
            output(b);
}

void TSimDevice::SetIdent(const QString &ident) {
    QMutexLocker l(&d->Lock);
    d->Opt.Ident = ident;
    d->Regs[regFirmwareName].Raw = ident.toLatin1();
}

QByteArray TSimDevice::ReceivedImage() const {
    QMutexLocker l(&d->Lock);
    return d->Image;
}

int TSimDevice::PagesReceived() const {
    QMutexLocker l(&d->Lock);
    return d->Pages;
}

qint64 TSimDevice::AnnouncedImageSize() const {
    QMutexLocker l(&d->Lock);
    return d->Announced;
}

QVector<TSimFrameRecord> TSimDevice::FrameLog() const {
    // A copy of its own, not one sharing the log's storage: the device thread appends to the
    // log, and a storage still shared with the reader's copy would be moved (after a relaxed
    // look at its count) while the reader reads it.
    QMutexLocker l(&d->Lock);
    QVector<TSimFrameRecord> copy;
    copy.reserve(d->Log.size());
    for (const TSimFrameRecord &record : d->Log)
        copy.append(record);
    return copy;
}

void TSimDevice::ClearFrameLog() {
    QMutexLocker l(&d->Lock);
    d->Log.clear();
}

int TSimDevice::HostCounterGaps() const {
    QMutexLocker l(&d->Lock);
    return d->HostGaps;
}

quint8 TSimDevice::PacketCounter() const {
    QMutexLocker l(&d->Lock);
    return d->TxCounter;
}

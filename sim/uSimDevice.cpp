#include "uSimDeviceImpl.h"

TSimDevice::TSimDevice(const TSimOptions &Options) : d(std::make_unique<TImpl>()) {
    d->Opt = Options;
    d->Elapsed.start();
    d->InitRegisters();
    if (!Options.FrameLogPath.isEmpty()) {
        d->LogFile = std::make_unique<QFile>(Options.FrameLogPath);
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

void TSimDevice::SetOutput(TSimOutput Output) {
    QMutexLocker l(&d->Lock);
    d->Output = std::move(Output);
}

void TSimDevice::SetClock(TSimClock Clock) {
    QMutexLocker l(&d->Lock);
    d->Clock = std::move(Clock);
    d->ManualClock = false;
    d->NeedRebase = true;
}

double TSimDevice::Now() const {
    QMutexLocker l(&d->Lock);
    return d->ClockNow();
}

void TSimDevice::Receive(const QByteArray &Bytes) {
    QVector<QByteArray> out;
    TSimOutput output;
    {
        QMutexLocker l(&d->Lock);
        const double now = d->NowLocked();
        d->TickLocked(now);
        if (d->IsDead) return;
        d->ReceiveLocked(Bytes, now);
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

void TSimDevice::Tick(quint32 NowMs) {
    {
        QMutexLocker l(&d->Lock);
        if (!d->ManualClock) {
            d->ManualClock = true;
            d->NeedRebase = true;
        }
        d->ManualNow = NowMs;
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

void TSimDevice::SetHostPresent(bool Present) {
    QMutexLocker l(&d->Lock);
    if (Present == d->Host) return;
    d->Host = Present;
    if (!Present) {
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

void TSimDevice::SetSilent(bool Silent) {
    QMutexLocker l(&d->Lock);
    d->Opt.Silent = Silent;
}

QByteArray TSimDevice::Register(quint8 RegNum) const {
    QMutexLocker l(&d->Lock);
    return RegNum < RegisterCount ? d->Regs[RegNum].Raw : QByteArray();
}

quint8 TSimDevice::RegisterType(quint8 RegNum) const {
    QMutexLocker l(&d->Lock);
    return RegNum < RegisterCount ? d->Regs[RegNum].Type : 0;
}

qint64 TSimDevice::RegisterInt(quint8 RegNum) const {
    QMutexLocker l(&d->Lock);
    return RegNum < RegisterCount ? d->RegInt(RegNum) : 0;
}

void TSimDevice::SetRegister(quint8 RegNum, const QByteArray &Raw) {
    QMutexLocker l(&d->Lock);
    if (RegNum >= RegisterCount) return;
    d->Regs[RegNum].Raw = Raw;
    d->Regs[RegNum].Pinned = d->Regs[RegNum].ReadOnly;
}

void TSimDevice::SetRegisterInt(quint8 RegNum, qint64 Value) {
    QMutexLocker l(&d->Lock);
    if (RegNum >= RegisterCount || d->Regs[RegNum].Type == rtString) return;
    d->SetRegInt(RegNum, Value);
    d->Regs[RegNum].Pinned = d->Regs[RegNum].ReadOnly;
}

void TSimDevice::ReleaseRegister(quint8 RegNum) {
    QMutexLocker l(&d->Lock);
    if (RegNum < RegisterCount) d->Regs[RegNum].Pinned = false;
}

void TSimDevice::SendRegister(quint8 RegNum) {
    QVector<QByteArray> out;
    TSimOutput output;
    {
        QMutexLocker l(&d->Lock);
        if (RegNum >= RegisterCount) return;
        const double now = d->NowLocked();
        d->AdvanceModel(now);
        d->Send(d->ValuePayload(d->ValueCommand(), RegNum), d->LastCrc, now, now);
        d->FlushDue(now, out);
        output = d->Output;
    }
    if (output)
        for (const QByteArray &b : out)
            output(b);
}

void TSimDevice::SetIdent(const QString &Ident) {
    QMutexLocker l(&d->Lock);
    d->Opt.Ident = Ident;
    d->Regs[regFirmwareName].Raw = Ident.toLatin1();
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
    QMutexLocker l(&d->Lock);
    return d->Log;
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

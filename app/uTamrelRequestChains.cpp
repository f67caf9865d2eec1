#include "uTamrelRequestChains.h"

TRequestChains::TRequestChains(std::initializer_list<quint8> charted, quint8 fenceRegister,
                               quint32 resyncEveryMs)
    : FFence(fenceRegister), FResyncEveryMs(resyncEveryMs) {
    for (quint8 r : charted)
        FChains.append({r, false, 0});
}

void TRequestChains::Reset(quint32 now) {
    for (TChain &c : FChains)
        c.Waiting = false;
    FFenceWaiting = false;
    FNeedFence = false;
    FLastFence = now;
}

bool TRequestChains::IsCharted(quint8 regNum) const {
    for (const TChain &c : FChains)
        if (c.RegNum == regNum) return true;
    return false;
}

QVector<quint8> TRequestChains::RestartAll(quint32 now) {
    QVector<quint8> reads;
    for (TChain &c : FChains) {
        c.Waiting = true;
        c.SentAt = now;
        reads << c.RegNum;
    }
    return reads;
}

QVector<quint8> TRequestChains::Received(quint8 regNum, quint32 now) {
    if (regNum == FFence) {
        if (!FFenceWaiting) return {};
        // Everything read before the fence has been answered: one read per chain again.
        FFenceWaiting = false;
        FLastFence = now;
        return RestartAll(now);
    }
    for (TChain &c : FChains) {
        if (c.RegNum != regNum) continue;
        c.Waiting = false;            // answered, or an unasked value stands in for the answer
        if (FFenceWaiting) return {}; // paused until the fence is answered
        // Unsigned difference: the tick count wraps.
        if (FNeedFence || quint32(now - FLastFence) >= FResyncEveryMs) {
            FNeedFence = false;
            FFenceWaiting = true;
            FFenceSentAt = now;
            return {FFence};
        }
        c.Waiting = true;
        c.SentAt = now;
        return {regNum};
    }
    return {};
}

void TRequestChains::MayHaveUnasked() {
    // Values that arrive while a fence waits ask for nothing, so they need no fence of their own.
    if (!FFenceWaiting) FNeedFence = true;
}

QVector<quint8> TRequestChains::Expire(quint32 now, quint32 timeOutMs) {
    if (FFenceWaiting) {
        if (quint32(now - FFenceSentAt) <= timeOutMs) return {};
        FFenceWaiting = false;
        FLastFence = now;
        return RestartAll(now);
    }
    QVector<quint8> reads;
    for (TChain &c : FChains) {
        if (!c.Waiting || quint32(now - c.SentAt) <= timeOutMs) continue;
        c.SentAt = now;
        reads << c.RegNum;
    }
    return reads;
}

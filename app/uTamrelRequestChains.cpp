#include "uTamrelRequestChains.h"

TRequestChains::TRequestChains(std::initializer_list<quint8> Charted, quint8 FenceRegister,
                               quint32 ResyncEveryMs)
    : FFence(FenceRegister), FResyncEveryMs(ResyncEveryMs) {
    for (quint8 R : Charted)
        FChains.append({R, false, 0});
}

void TRequestChains::Reset(quint32 Now) {
    for (TChain &C : FChains)
        C.Waiting = false;
    FFenceWaiting = false;
    FNeedFence = false;
    FLastFence = Now;
}

bool TRequestChains::IsCharted(quint8 RegNum) const {
    for (const TChain &C : FChains)
        if (C.RegNum == RegNum) return true;
    return false;
}

QVector<quint8> TRequestChains::RestartAll(quint32 Now) {
    QVector<quint8> Reads;
    for (TChain &C : FChains) {
        C.Waiting = true;
        C.SentAt = Now;
        Reads << C.RegNum;
    }
    return Reads;
}

QVector<quint8> TRequestChains::Received(quint8 RegNum, quint32 Now) {
    if (RegNum == FFence) {
        if (!FFenceWaiting) return {};
        // Everything read before the fence has been answered: one read per chain again.
        FFenceWaiting = false;
        FLastFence = Now;
        return RestartAll(Now);
    }
    for (TChain &C : FChains) {
        if (C.RegNum != RegNum) continue;
        C.Waiting = false;            // answered, or an unasked value stands in for the answer
        if (FFenceWaiting) return {}; // paused until the fence is answered
        // Unsigned difference: the tick count wraps.
        if (FNeedFence || quint32(Now - FLastFence) >= FResyncEveryMs) {
            FNeedFence = false;
            FFenceWaiting = true;
            FFenceSentAt = Now;
            return {FFence};
        }
        C.Waiting = true;
        C.SentAt = Now;
        return {RegNum};
    }
    return {};
}

void TRequestChains::MayHaveUnasked() {
    // Values that arrive while a fence waits ask for nothing, so they need no fence of their own.
    if (!FFenceWaiting) FNeedFence = true;
}

QVector<quint8> TRequestChains::Expire(quint32 Now, quint32 TimeOutMs) {
    if (FFenceWaiting) {
        if (quint32(Now - FFenceSentAt) <= TimeOutMs) return {};
        FFenceWaiting = false;
        FLastFence = Now;
        return RestartAll(Now);
    }
    QVector<quint8> Reads;
    for (TChain &C : FChains) {
        if (!C.Waiting || quint32(Now - C.SentAt) <= TimeOutMs) continue;
        C.SentAt = Now;
        Reads << C.RegNum;
    }
    return Reads;
}

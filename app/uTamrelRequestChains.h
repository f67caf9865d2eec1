#pragma once
// The request chains of "Draw often": every value of a charted register asks for that
// register's next reading at once, so each register has one read on the line at a time.
//
// The tester also sends its measured values by itself, and on the line such an unasked value
// looks exactly like an answer. Taken for the answer it asks for a reading although the
// chain's read is still waiting: one read more on the line for every unasked value, for good.
// No value tells which it is, but the order does: the tester answers reads in the order it
// got them. So once values may have come unasked (a register that nothing here asks for
// arrived, the sweep asked for a reading of its own, or a second has passed), the next
// charted value asks for a fence instead: a read of a register the tester never sends by
// itself. The chains pause meanwhile; when the fence's answer arrives, every read sent
// before it has been answered, and the chains start again with exactly one read each.
//
// A read (or the fence) not answered within the protocol's time-out is given up and sent
// again. Pure logic: the caller sends the reads it is handed and supplies the tick count.
#include <QVector>
#include <QtGlobal>

#include <initializer_list>

class TRequestChains {
public:
    TRequestChains(std::initializer_list<quint8> charted, quint8 fenceRegister, quint32 resyncEveryMs);

    // Every chain idle and no fence waiting: the next value of a charted register starts its
    // chain again.
    void Reset(quint32 now);
    // A value of RegNum arrived at tick Now. Returns the registers to read now: the value's
    // own register, the fence register, or, once the fence is answered, every charted one.
    QVector<quint8> Received(quint8 regNum, quint32 now);
    // Values of the charted registers may have come unasked since the last fence.
    void MayHaveUnasked();
    // Gives up reads (and a fence) that have waited longer than TimeOutMs at Now and returns
    // the registers to read again.
    QVector<quint8> Expire(quint32 now, quint32 timeOutMs);

    quint8 FenceRegister() const { return FFence; }
    bool FenceWaiting() const { return FFenceWaiting; }
    bool IsCharted(quint8 regNum) const;

private:
    struct TChain {
        quint8 RegNum;
        bool Waiting;   // its read is on the line
        quint32 SentAt; // tick of that read
    };
    QVector<quint8> RestartAll(quint32 now);

    QVector<TChain> FChains;
    quint8 FFence;
    quint32 FResyncEveryMs;
    bool FFenceWaiting = false;
    quint32 FFenceSentAt = 0;
    bool FNeedFence = false;
    quint32 FLastFence = 0;
};

#pragma once
// Reading the simulated tester's frame log for firmware tests: the pages the tester received
// and the page statuses it sent, in the order they were on the line.
#include "uKvFrameCodec.h"
#include "uSimDevice.h"

#include <QString>
#include <QVector>

namespace SimFrames {

constexpr int CmdPage = 26;
constexpr int CmdLoaderInfo = 82;

// The payload of a logged frame, without delimiters, escapes and check bytes.
inline QByteArray Payload(const TSimFrameRecord &F) {
    const QByteArray Body = KvCodec::Unescape(F.Raw.mid(1, F.Raw.size() - 2));
    return F.Mode == QLatin1String("crc") ? Body.chopped(3) : Body.chopped(1);
}

// One firmware event on the line: a page the tester received (its index) or a status it sent.
struct TPageEvent {
    bool Received = false;
    int Page = -1; // received pages only
};

inline QVector<TPageEvent> PageEvents(const QVector<TSimFrameRecord> &Log) {
    QVector<TPageEvent> Events;
    for (const TSimFrameRecord &F : Log) {
        if (F.Command != CmdPage) continue;
        const QByteArray P = Payload(F);
        if (F.Received && P.size() >= 3)
            Events.append({true, quint8(P[1]) | (quint8(P[2]) << 8)});
        else if (!F.Received)
            Events.append({false, -1});
    }
    return Events;
}

inline QVector<int> ReceivedPages(const QVector<TSimFrameRecord> &Log) {
    QVector<int> Pages;
    for (const TPageEvent &E : PageEvents(Log))
        if (E.Received) Pages << E.Page;
    return Pages;
}

inline int Count(const QVector<TSimFrameRecord> &Log, bool Received, int Command) {
    int N = 0;
    for (const TSimFrameRecord &F : Log)
        N += F.Received == Received && F.Command == Command;
    return N;
}

// The last pass over the image, from the last page 0 the tester received: every page once, in
// order, each sent only after the tester had answered the one before (one page stream).
// Returns an empty text when that holds, else what went wrong.
inline QString CheckFinalPass(const QVector<TSimFrameRecord> &Log, int PageCount) {
    const QVector<TPageEvent> Events = PageEvents(Log);
    qsizetype Start = -1;
    for (qsizetype i = 0; i < Events.size(); ++i)
        if (Events[i].Received && Events[i].Page == 0) Start = i;
    if (Start < 0) return QStringLiteral("page 0 never arrived");
    int Expected = 0;
    bool Answered = true;
    for (qsizetype i = Start; i < Events.size(); ++i) {
        if (!Events[i].Received) {
            Answered = true;
            continue;
        }
        if (!Answered)
            return QStringLiteral("page %1 arrived before page %2 was answered")
                .arg(Events[i].Page)
                .arg(Expected - 1);
        if (Events[i].Page != Expected)
            return QStringLiteral("page %1 arrived where page %2 was due").arg(Events[i].Page).arg(Expected);
        ++Expected;
        Answered = false;
    }
    if (Expected != PageCount)
        return QStringLiteral("%1 pages of %2 in the last pass").arg(Expected).arg(PageCount);
    return {};
}

} // namespace SimFrames

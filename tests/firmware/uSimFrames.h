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
inline QByteArray Payload(const TSimFrameRecord &f) {
    const QByteArray body = KvCodec::Unescape(f.Raw.mid(1, f.Raw.size() - 2));
    return f.Mode == QLatin1String("crc") ? body.chopped(3) : body.chopped(1);
}

// One firmware event on the line: a page the tester received (its index) or a status it sent.
struct TPageEvent {
    bool Received = false;
    int Page = -1; // received pages only
};

inline QVector<TPageEvent> PageEvents(const QVector<TSimFrameRecord> &log) {
    QVector<TPageEvent> events;
    for (const TSimFrameRecord &f : log) {
        if (f.Command != CmdPage) continue;
        const QByteArray p = Payload(f);
        if (f.Received && p.size() >= 3)
            events.append({true, quint8(p[1]) | (quint8(p[2]) << 8)});
        else if (!f.Received)
            events.append({false, -1});
    }
    return events;
}

inline QVector<int> ReceivedPages(const QVector<TSimFrameRecord> &log) {
    QVector<int> pages;
    for (const TPageEvent &e : PageEvents(log))
        if (e.Received) pages << e.Page;
    return pages;
}

inline int Count(const QVector<TSimFrameRecord> &log, bool received, int command) {
    int n = 0;
    for (const TSimFrameRecord &f : log)
        n += f.Received == received && f.Command == command;
    return n;
}

// The last pass over the image, from the last page 0 the tester received: every page once, in
// order, each sent only after the tester had answered the one before (one page stream).
// Returns an empty text when that holds, else what went wrong.
inline QString CheckFinalPass(const QVector<TSimFrameRecord> &log, int pageCount) {
    const QVector<TPageEvent> events = PageEvents(log);
    qsizetype start = -1;
    for (qsizetype i = 0; i < events.size(); ++i)
        if (events[i].Received && events[i].Page == 0) start = i;
    if (start < 0) return QStringLiteral("page 0 never arrived");
    int expected = 0;
    bool answered = true;
    for (qsizetype i = start; i < events.size(); ++i) {
        if (!events[i].Received) {
            answered = true;
            continue;
        }
        if (!answered)
            return QStringLiteral("page %1 arrived before page %2 was answered")
                .arg(events[i].Page)
                .arg(expected - 1);
        if (events[i].Page != expected)
            return QStringLiteral("page %1 arrived where page %2 was due").arg(events[i].Page).arg(expected);
        ++expected;
        answered = false;
    }
    if (expected != pageCount)
        return QStringLiteral("%1 pages of %2 in the last pass").arg(expected).arg(pageCount);
    return {};
}

} // namespace SimFrames

#pragma once
// Reading HTTP answers off a raw socket in tests: each answer's status, head and body, taken
// off the front of the bytes received so far once it is complete.
#include <QByteArray>
#include <QList>

struct THttpResponse {
    int Status = 0;
    QByteArray Head;
    QByteArray Body;
};

// Takes every complete answer (each with a Content-Length) off the front of Bytes.
inline QList<THttpResponse> TakeHttpResponses(QByteArray &bytes) {
    QList<THttpResponse> out;
    for (;;) {
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        if (end < 0) return out;
        const QByteArray head = bytes.left(end);
        qint64 length = -1;
        for (const QByteArray &line : head.split('\n'))
            if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toLongLong();
        if (length < 0 || bytes.size() < end + 4 + length) return out;
        THttpResponse r;
        r.Head = head;
        r.Status = head.mid(9, 3).toInt();
        r.Body = bytes.mid(end + 4, length);
        bytes.remove(0, end + 4 + length);
        out << r;
    }
}

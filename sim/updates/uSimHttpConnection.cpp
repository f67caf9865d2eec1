#include "uSimHttpConnection.h"

#include "uKvThreadHandOver.h"

#include <QIODevice>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

constexpr int TickMs = 50;
constexpr qint64 Chunk = 64 * 1024;

bool HasToken(const QByteArray &list, const char *token) {
    for (const QByteArray &part : list.split(','))
        if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0) return true;
    return false;
}

} // namespace

QByteArray TSimUpdateRequest::Header(const QByteArray &name) const {
    for (const auto &h : Headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) return h.second;
    return {};
}

bool TSimUpdateRequest::KeepsConnection() const {
    const QByteArray connection = Header("Connection");
    if (Version == "HTTP/1.0") return HasToken(connection, "keep-alive");
    return !HasToken(connection, "close");
}

QByteArray TSimHttpConnection::ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

TSimHttpConnection::TSimHttpConnection(QTcpSocket *socket, THandler handler)
    : QObject(socket), FSocket(socket), FHandler(std::move(handler)) {
    // Bytes not yet read stay with the system, so that a client that sends far ahead is held
    // back by the connection itself instead of filling this program's memory.
    FSocket->setReadBufferSize(Chunk);
    FThrottle = new QTimer(this);
    FThrottle->setInterval(TickMs);
    connect(FThrottle, &QTimer::timeout, this, &TSimHttpConnection::SendBody);
    connect(FSocket, &QTcpSocket::readyRead, this, &TSimHttpConnection::ServeNext);
    connect(FSocket, &QTcpSocket::bytesWritten, this, [this] {
        if (FBytesPerSecond == 0) SendBody();
    });
    connect(FSocket, &QTcpSocket::disconnected, FSocket, &QObject::deleteLater);
    ServeNext();
}

void TSimHttpConnection::ServeNext() {
    if (FAnswering || FClosing) return;
    for (;;) {
        const qint64 room = 2 * MaxHeadBytes - FIn.size();
        if (room > 0 && FSocket->bytesAvailable() > 0) FIn += FSocket->read(room);
        if (FSkipBytes > 0) {
            const qint64 n = qMin<qint64>(FSkipBytes, FIn.size());
            FIn.remove(0, n);
            FSkipBytes -= n;
            if (FSkipBytes > 0) {
                if (FSocket->bytesAvailable() > 0) continue;
                return;
            }
        }
        // Empty lines between requests are allowed and skipped.
        while (FIn.startsWith("\r\n"))
            FIn.remove(0, 2);
        const qsizetype end = FIn.indexOf("\r\n\r\n");
        if (end < 0) {
            if (FIn.size() > MaxHeadBytes) return Refuse(431);
            if (FSocket->bytesAvailable() > 0 && FIn.size() < 2 * MaxHeadBytes) continue;
            return;
        }
        if (end > MaxHeadBytes) return Refuse(431);
        TSimUpdateRequest request;
        const bool ok = ParseHead(FIn.left(end), request);
        FIn.remove(0, end + 4);
        if (!ok) return Refuse(400);
        // A request body is not used; it is dropped so that the next request is found.
        if (!request.Header("Transfer-Encoding").isEmpty()) return Refuse(400);
        const QByteArray length = request.Header("Content-Length");
        if (!length.isEmpty()) {
            bool isNumber = false;
            FSkipBytes = length.trimmed().toLongLong(&isNumber);
            if (!isNumber || FSkipBytes < 0) return Refuse(400);
        }
        const bool keep = request.KeepsConnection();
        Answer(FHandler(request), keep);
        return; // the next request once this answer is out
    }
}

bool TSimHttpConnection::ParseHead(const QByteArray &head, TSimUpdateRequest &request) const {
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> parts = lines.first().trimmed().split(' ');
    if (parts.size() != 3 || parts[0].isEmpty() || parts[1].isEmpty() || !parts[2].startsWith("HTTP/1."))
        return false;
    request.Method = parts[0];
    request.Target = parts[1];
    request.Version = parts[2];
    const QUrl url = request.Target.startsWith('/') ? QUrl::fromEncoded("http://host" + request.Target)
                                                    : QUrl::fromEncoded(request.Target);
    if (!url.isValid()) return false;
    request.Path =
        url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveQuery | QUrl::RemoveFragment);
    if (request.Path.isEmpty()) request.Path = "/";
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.left(colon).contains(' ')) return false;
        request.Headers.append(qMakePair(line.left(colon), line.mid(colon + 1).trimmed()));
    }
    return true;
}

void TSimHttpConnection::Answer(TSimHttpAnswer answer, bool keepConnection) {
    FAnswering = true;
    if (answer.Never) {
        // The request was read; its answer never comes, and neither does any after it.
        FNeverAnswered = true;
        return;
    }
    FCloseAtEnd = !keepConnection || answer.NoContentLength;
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(answer.Status) + ' ' + ReasonPhrase(answer.Status) + "\r\n";
    for (const auto &h : answer.Headers)
        head += h.first + ": " + h.second + "\r\n";
    if (!answer.NoContentLength)
        head += "Content-Length: " + QByteArray::number(answer.Body ? answer.Body->size() : 0) + "\r\n";
    if (FCloseAtEnd) head += "Connection: close\r\n";
    head += "\r\n";
    FSocket->write(head);
    FBody = std::move(answer.Body);
    FBytesPerSecond = answer.BytesPerSecond;
    FCredit = 0;
    if (FBody && FBytesPerSecond > 0) FThrottle->start();
    SendBody();
}

void TSimHttpConnection::SendBody() {
    if (!FAnswering || FNeverAnswered || FSocket->state() != QAbstractSocket::ConnectedState) return;
    if (FBody && !FBody->atEnd()) {
        if (FBytesPerSecond > 0) {
            FCredit += double(FBytesPerSecond) * TickMs / 1000.0;
            const qint64 want = qint64(FCredit);
            FCredit -= double(want);
            if (want > 0) FSocket->write(FBody->read(want));
        } else {
            // As fast as the socket drains, a few chunks ahead at most.
            while (!FBody->atEnd() && FSocket->bytesToWrite() <= 4 * Chunk) {
                const QByteArray part = FBody->read(Chunk);
                if (part.isEmpty()) break;
                FSocket->write(part);
            }
        }
        if (!FBody->atEnd()) return;
    }
    AnswerDone();
}

void TSimHttpConnection::AnswerDone() {
    FThrottle->stop();
    FBody.reset();
    FAnswering = false;
    if (FCloseAtEnd) {
        FClosing = true;
        FSocket->disconnectFromHost();
        return;
    }
    // Not from inside the socket's signal: a long run of pipelined requests never nests.
    KvThread::Post(this, [this] { ServeNext(); });
}

void TSimHttpConnection::Refuse(int status) {
    FClosing = true;
    const QByteArray body = ReasonPhrase(status) + "\r\n";
    FSocket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + ReasonPhrase(status) +
                   "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
                   "\r\nConnection: close\r\n\r\n" + body);
    FSocket->disconnectFromHost();
}

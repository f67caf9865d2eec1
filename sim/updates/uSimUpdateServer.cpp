#include "uSimUpdateServer.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QMetaEnum>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <memory>

QByteArray TSimUpdateRequest::Header(const QByteArray &name) const {
    for (const auto &h : Headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) return h.second;
    return {};
}

namespace {

QByteArray ReasonPhrase(int status) {
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
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// Sends one response's body from a file or from memory, at the throttled rate or as fast as
// the socket drains, and goes away with the socket or when the body is out.
class TBodySender : public QObject {
public:
    TBodySender(QTcpSocket *socket, std::unique_ptr<QIODevice> body, int bytesPerSecond, bool closeAtEnd)
        : QObject(socket), FSocket(socket), FBody(std::move(body)), FBytesPerSecond(bytesPerSecond),
          FCloseAtEnd(closeAtEnd) {
        if (FBytesPerSecond > 0) {
            connect(&FTimer, &QTimer::timeout, this, &TBodySender::SendSome);
            FTimer.start(TickMs);
        } else {
            connect(socket, &QTcpSocket::bytesWritten, this, &TBodySender::SendSome);
        }
        SendSome();
    }

private:
    static constexpr int TickMs = 50;
    static constexpr qint64 Chunk = 64 * 1024;

    void SendSome() {
        if (!FSocket || FSocket->state() != QAbstractSocket::ConnectedState) return Done();
        qint64 want = Chunk;
        if (FBytesPerSecond > 0) {
            FCredit += double(FBytesPerSecond) * TickMs / 1000.0;
            want = qint64(FCredit);
            FCredit -= double(want);
        } else if (FSocket->bytesToWrite() > 4 * Chunk) {
            return;
        }
        if (want > 0) {
            const QByteArray part = FBody->read(want);
            if (!part.isEmpty()) FSocket->write(part);
        }
        if (FBody->atEnd()) {
            if (FCloseAtEnd) FSocket->disconnectFromHost();
            Done();
        }
    }
    void Done() {
        FTimer.stop();
        deleteLater();
    }

    QPointer<QTcpSocket> FSocket;
    std::unique_ptr<QIODevice> FBody;
    int FBytesPerSecond;
    bool FCloseAtEnd;
    double FCredit = 0;
    QTimer FTimer;
};

void WriteHead(QTcpSocket *socket, int status, const QList<QPair<QByteArray, QByteArray>> &headers) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + ReasonPhrase(status) + "\r\n";
    for (const auto &h : headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "\r\n";
    socket->write(head);
}

// The file or folder that a decoded request path names below Root; empty when the path
// leaves Root or names nothing.
QString MapToRoot(const QString &root, const QString &decodedPath) {
    QStringList parts;
    for (const QString &segment : decodedPath.split(u'/', Qt::SkipEmptyParts)) {
        if (segment == QLatin1String(".") || segment == QLatin1String("..") || segment.contains(QChar(0)))
            return {};
        parts << segment;
    }
    const QString rootPath = QFileInfo(root).canonicalFilePath();
    if (rootPath.isEmpty()) return {};
    const QString target = QFileInfo(rootPath + u'/' + parts.join(u'/')).canonicalFilePath();
    if (target.isEmpty() || (target != rootPath && !target.startsWith(rootPath + u'/'))) return {};
    return target;
}

QByteArray FolderListing(const QString &folder) {
    QFile index(QDir(folder).filePath(QStringLiteral("index.txt")));
    if (index.open(QIODevice::ReadOnly)) return index.readAll();
    QByteArray listing;
    const QStringList names =
        QDir(folder).entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::DirsFirst);
    for (const QString &name : names)
        listing += name.toUtf8() + "\r\n";
    return listing;
}

} // namespace

TSimUpdateServer::TSimUpdateServer(const TSimUpdateServerOptions &aOptions, QObject *parent)
    : QAbstractHttpServer(parent), Options(aOptions) {
}

bool TSimUpdateServer::Start(QString *error) {
    FPort = listen(QHostAddress::LocalHost, Options.Port);
    if (FPort == 0) {
        if (error) *error = QStringLiteral("cannot listen on 127.0.0.1:%1").arg(Options.Port);
        return false;
    }
    return true;
}

QString TSimUpdateServer::BaseAddress() const {
    return QStringLiteral("http://127.0.0.1:%1/firmware_update/KVBL/").arg(FPort);
}

bool TSimUpdateServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *Socket) {
    TSimUpdateRequest seen;
    seen.Method = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(request.method()));
    seen.Method = seen.Method.toUpper();
    seen.Path = request.url().toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveQuery |
                                        QUrl::RemoveFragment);
    seen.Headers = request.headers();
    Requests << seen;
    if (Options.LogRequests) {
        std::printf("%s %s\n", seen.Method.constData(), seen.Path.constData());
        std::fflush(stdout);
    }
    if (Options.Hang) return true;

    const bool closeAtEnd = Options.NoContentLength;
    auto send = [&](int status, std::unique_ptr<QIODevice> body, const QByteArray &type,
                    QList<QPair<QByteArray, QByteArray>> extra = {}) {
        QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", type}};
        if (closeAtEnd)
            headers.append(qMakePair(QByteArray("Connection"), QByteArray("close")));
        else
            headers.append(qMakePair(QByteArray("Content-Length"), QByteArray::number(body->size())));
        headers += extra;
        WriteHead(Socket, status, headers);
        new TBodySender(Socket, std::move(body), Options.ThrottleBytesPerSecond, closeAtEnd);
    };
    auto sendText = [&](int status, const QByteArray &text, QList<QPair<QByteArray, QByteArray>> extra = {}) {
        auto body = std::make_unique<QBuffer>();
        body->setData(text);
        body->open(QIODevice::ReadOnly);
        send(status, std::move(body), "text/plain; charset=utf-8", extra);
    };

    if (request.method() != QHttpServerRequest::Method::Get) {
        sendText(400, "Only GET is served\r\n");
        return true;
    }
    if (Options.FailStatus > 0) {
        sendText(Options.FailStatus, ReasonPhrase(Options.FailStatus) + "\r\n");
        return true;
    }
    const QString decoded = request.url().path(QUrl::FullyDecoded);
    if (!Options.RedirectPrefix.isEmpty() && decoded.startsWith(Options.RedirectPrefix)) {
        const QByteArray prefix = QUrl::toPercentEncoding(Options.RedirectPrefix, "/");
        const QByteArray rest = seen.Path.startsWith(prefix) ? seen.Path.mid(prefix.size()) : seen.Path;
        sendText(302, "Moved\r\n", {{"Location", Options.RedirectTarget.toUtf8() + rest}});
        return true;
    }
    const QString target = MapToRoot(Options.Root, decoded);
    const QFileInfo info(target);
    if (target.isEmpty() || !info.exists()) {
        sendText(404, "Not Found\r\n");
        return true;
    }
    if (info.isDir()) {
        sendText(200, FolderListing(target));
        return true;
    }
    auto file = std::make_unique<QFile>(target);
    if (!file->open(QIODevice::ReadOnly)) {
        sendText(403, "Forbidden\r\n");
        return true;
    }
    send(200, std::move(file), "application/octet-stream");
    return true;
}

void TSimUpdateServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket) {
    WriteHead(socket, 404, {{"Content-Length", "0"}});
}

bool ParseSimUpdateServerOptions(const QStringList &args, TSimUpdateServerOptions &options, QString *Error,
                                 bool *wantsHelp, QString *helpText) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Demo update server: serves DIR over HTTP on 127.0.0.1; the program's update server address is\n"
        "http://127.0.0.1:<port>/firmware_update/KVBL/ with DIR holding firmware_update/KVBL/<device>/.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption updates("updates", "The folder to serve.", "dir");
    const QCommandLineOption port("http-port", "TCP port on 127.0.0.1, 0 = any free one.", "port",
                                  QString::number(options.Port));
    const QCommandLineOption throttle(
        "throttle", "Send bodies at this many bytes per second, 0 = unthrottled.", "bytes", "0");
    const QCommandLineOption fail("fail-status", "Answer every request with this HTTP status.", "status",
                                  "0");
    const QCommandLineOption redirectPrefix("redirect-prefix",
                                            "Redirect requests whose path starts with this.", "path");
    const QCommandLineOption redirectTarget("redirect-target", "... to this prefix (path or full URL).",
                                            "prefix", options.RedirectTarget);
    const QCommandLineOption hang("hang", "Read requests and never answer.");
    const QCommandLineOption noLength("no-content-length", "Bodies without a length, ended by closing.");
    const QCommandLineOption log("log", "Print every request line.");
    parser.addOptions(
        {help, updates, port, throttle, fail, redirectPrefix, redirectTarget, hang, noLength, log});
    if (helpText) *helpText = parser.helpText();
    if (!parser.parse(args)) {
        if (Error) *Error = parser.errorText();
        return false;
    }
    if (parser.isSet(help)) {
        if (wantsHelp) *wantsHelp = true;
        return true;
    }
    auto number = [&](const QCommandLineOption &o, qint64 min, qint64 max, qint64 &out) {
        bool ok = false;
        const qint64 v = parser.value(o).toLongLong(&ok);
        if (!ok || v < min || v > max) {
            if (Error)
                *Error = QStringLiteral("--%1: expected a number from %2 to %3")
                             .arg(o.names().first())
                             .arg(min)
                             .arg(max);
            return false;
        }
        out = v;
        return true;
    };
    qint64 portValue = 0, throttleValue = 0, failValue = 0;
    if (!number(port, 0, 65535, portValue) || !number(throttle, 0, 1 << 30, throttleValue) ||
        !number(fail, 0, 599, failValue))
        return false;
    if (!parser.isSet(updates) || !QFileInfo(parser.value(updates)).isDir()) {
        if (Error) *Error = QStringLiteral("--updates: give the folder to serve");
        return false;
    }
    options.Root = parser.value(updates);
    options.Port = quint16(portValue);
    options.ThrottleBytesPerSecond = int(throttleValue);
    options.FailStatus = int(failValue);
    options.RedirectPrefix = parser.value(redirectPrefix);
    options.RedirectTarget = parser.value(redirectTarget);
    options.Hang = parser.isSet(hang);
    options.NoContentLength = parser.isSet(noLength);
    options.LogRequests = parser.isSet(log);
    return true;
}

#include "uSimUpdateServer.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace {

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

std::unique_ptr<QIODevice> TextBody(const QByteArray &text) {
    auto body = std::make_unique<QBuffer>();
    body->setData(text);
    body->open(QIODevice::ReadOnly);
    return body;
}

} // namespace

TSimUpdateServer::TSimUpdateServer(const TSimUpdateServerOptions &aOptions, QObject *parent)
    : QTcpServer(parent), Options(aOptions) {
    connect(this, &QTcpServer::newConnection, this, &TSimUpdateServer::AcceptConnections);
}

bool TSimUpdateServer::Start(QString *error) {
    if (!listen(QHostAddress::LocalHost, Options.Port)) {
        if (error) *error = QStringLiteral("cannot listen on 127.0.0.1:%1").arg(Options.Port);
        return false;
    }
    FPort = serverPort();
    return true;
}

QString TSimUpdateServer::BaseAddress() const {
    return QStringLiteral("http://127.0.0.1:%1/firmware_update/KVBL/").arg(FPort);
}

void TSimUpdateServer::AcceptConnections() {
    // Each connection goes with its socket (a child of this server).
    while (QTcpSocket *socket = nextPendingConnection())
        new TSimHttpConnection(socket, [this](const TSimUpdateRequest &request) { return Serve(request); });
}

TSimHttpAnswer TSimUpdateServer::Serve(const TSimUpdateRequest &request) {
    ++FRequestCount;
    Requests << request;
    while (Requests.size() > qMax(0, Options.KeptRequests))
        Requests.removeFirst();
    if (Options.LogRequests) {
        std::printf("%s %s\n", request.Method.constData(), request.Path.constData());
        std::fflush(stdout);
    }
    TSimHttpAnswer answer;
    if (Options.Hang) {
        answer.Never = true;
        return answer;
    }
    answer.NoContentLength = Options.NoContentLength;
    answer.BytesPerSecond = Options.ThrottleBytesPerSecond;
    auto text = [&](int status, const QByteArray &body) {
        answer.Status = status;
        answer.Headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("text/plain; charset=utf-8")));
        answer.Body = TextBody(body);
        return std::move(answer);
    };

    if (request.Method != "GET") return text(400, "Only GET is served\r\n");
    if (Options.FailStatus > 0)
        return text(Options.FailStatus, TSimHttpConnection::ReasonPhrase(Options.FailStatus) + "\r\n");
    const QString decoded = QUrl::fromEncoded("http://host" + request.Path).path(QUrl::FullyDecoded);
    if (!Options.RedirectPrefix.isEmpty() && decoded.startsWith(Options.RedirectPrefix)) {
        const QByteArray prefix = QUrl::toPercentEncoding(Options.RedirectPrefix, "/");
        const QByteArray rest =
            request.Path.startsWith(prefix) ? request.Path.mid(prefix.size()) : request.Path;
        answer.Headers.append(qMakePair(QByteArray("Location"), Options.RedirectTarget.toUtf8() + rest));
        return text(302, "Moved\r\n");
    }
    const QString target = MapToRoot(Options.Root, decoded);
    const QFileInfo info(target);
    if (target.isEmpty() || !info.exists()) return text(404, "Not Found\r\n");
    if (info.isDir()) return text(200, FolderListing(target));
    auto file = std::make_unique<QFile>(target);
    if (!file->open(QIODevice::ReadOnly)) return text(403, "Forbidden\r\n");
    answer.Headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/octet-stream")));
    answer.Body = std::move(file);
    return answer;
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

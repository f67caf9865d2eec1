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

QByteArray TSimUpdateRequest::Header(const QByteArray &Name) const {
    for (const auto &H : Headers)
        if (H.first.compare(Name, Qt::CaseInsensitive) == 0) return H.second;
    return {};
}

namespace {

QByteArray ReasonPhrase(int Status) {
    switch (Status) {
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
    TBodySender(QTcpSocket *Socket, std::unique_ptr<QIODevice> Body, int BytesPerSecond, bool CloseAtEnd)
        : QObject(Socket), FSocket(Socket), FBody(std::move(Body)), FBytesPerSecond(BytesPerSecond),
          FCloseAtEnd(CloseAtEnd) {
        if (FBytesPerSecond > 0) {
            connect(&FTimer, &QTimer::timeout, this, &TBodySender::SendSome);
            FTimer.start(TickMs);
        } else {
            connect(Socket, &QTcpSocket::bytesWritten, this, &TBodySender::SendSome);
        }
        SendSome();
    }

private:
    static constexpr int TickMs = 50;
    static constexpr qint64 Chunk = 64 * 1024;

    void SendSome() {
        if (!FSocket || FSocket->state() != QAbstractSocket::ConnectedState) return Done();
        qint64 Want = Chunk;
        if (FBytesPerSecond > 0) {
            FCredit += double(FBytesPerSecond) * TickMs / 1000.0;
            Want = qint64(FCredit);
            FCredit -= double(Want);
        } else if (FSocket->bytesToWrite() > 4 * Chunk) {
            return;
        }
        if (Want > 0) {
            const QByteArray Part = FBody->read(Want);
            if (!Part.isEmpty()) FSocket->write(Part);
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

void WriteHead(QTcpSocket *Socket, int Status, const QList<QPair<QByteArray, QByteArray>> &Headers) {
    QByteArray Head = "HTTP/1.1 " + QByteArray::number(Status) + ' ' + ReasonPhrase(Status) + "\r\n";
    for (const auto &H : Headers)
        Head += H.first + ": " + H.second + "\r\n";
    Head += "\r\n";
    Socket->write(Head);
}

// The file or folder that a decoded request path names below Root; empty when the path
// leaves Root or names nothing.
QString MapToRoot(const QString &Root, const QString &DecodedPath) {
    QStringList Parts;
    for (const QString &Segment : DecodedPath.split(u'/', Qt::SkipEmptyParts)) {
        if (Segment == QLatin1String(".") || Segment == QLatin1String("..") || Segment.contains(QChar(0)))
            return {};
        Parts << Segment;
    }
    const QString RootPath = QFileInfo(Root).canonicalFilePath();
    if (RootPath.isEmpty()) return {};
    const QString Target = QFileInfo(RootPath + u'/' + Parts.join(u'/')).canonicalFilePath();
    if (Target.isEmpty() || (Target != RootPath && !Target.startsWith(RootPath + u'/'))) return {};
    return Target;
}

QByteArray FolderListing(const QString &Folder) {
    QFile Index(QDir(Folder).filePath(QStringLiteral("index.txt")));
    if (Index.open(QIODevice::ReadOnly)) return Index.readAll();
    QByteArray Listing;
    const QStringList Names =
        QDir(Folder).entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::DirsFirst);
    for (const QString &Name : Names)
        Listing += Name.toUtf8() + "\r\n";
    return Listing;
}

} // namespace

TSimUpdateServer::TSimUpdateServer(const TSimUpdateServerOptions &AOptions, QObject *Parent)
    : QAbstractHttpServer(Parent), Options(AOptions) {
}

bool TSimUpdateServer::Start(QString *Error) {
    FPort = listen(QHostAddress::LocalHost, Options.Port);
    if (FPort == 0) {
        if (Error) *Error = QStringLiteral("cannot listen on 127.0.0.1:%1").arg(Options.Port);
        return false;
    }
    return true;
}

QString TSimUpdateServer::BaseAddress() const {
    return QStringLiteral("http://127.0.0.1:%1/firmware_update/KVBL/").arg(FPort);
}

bool TSimUpdateServer::handleRequest(const QHttpServerRequest &Request, QTcpSocket *Socket) {
    TSimUpdateRequest Seen;
    Seen.Method = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(Request.method()));
    Seen.Method = Seen.Method.toUpper();
    Seen.Path = Request.url().toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveQuery |
                                        QUrl::RemoveFragment);
    Seen.Headers = Request.headers();
    Requests << Seen;
    if (Options.LogRequests) {
        std::printf("%s %s\n", Seen.Method.constData(), Seen.Path.constData());
        std::fflush(stdout);
    }
    if (Options.Hang) return true;

    const bool CloseAtEnd = Options.NoContentLength;
    auto Send = [&](int Status, std::unique_ptr<QIODevice> Body, const QByteArray &Type,
                    QList<QPair<QByteArray, QByteArray>> Extra = {}) {
        QList<QPair<QByteArray, QByteArray>> Headers{{"Content-Type", Type}};
        if (CloseAtEnd)
            Headers.append(qMakePair(QByteArray("Connection"), QByteArray("close")));
        else
            Headers.append(qMakePair(QByteArray("Content-Length"), QByteArray::number(Body->size())));
        Headers += Extra;
        WriteHead(Socket, Status, Headers);
        new TBodySender(Socket, std::move(Body), Options.ThrottleBytesPerSecond, CloseAtEnd);
    };
    auto SendText = [&](int Status, const QByteArray &Text, QList<QPair<QByteArray, QByteArray>> Extra = {}) {
        auto Body = std::make_unique<QBuffer>();
        Body->setData(Text);
        Body->open(QIODevice::ReadOnly);
        Send(Status, std::move(Body), "text/plain; charset=utf-8", Extra);
    };

    if (Request.method() != QHttpServerRequest::Method::Get) {
        SendText(400, "Only GET is served\r\n");
        return true;
    }
    if (Options.FailStatus > 0) {
        SendText(Options.FailStatus, ReasonPhrase(Options.FailStatus) + "\r\n");
        return true;
    }
    const QString Decoded = Request.url().path(QUrl::FullyDecoded);
    if (!Options.RedirectPrefix.isEmpty() && Decoded.startsWith(Options.RedirectPrefix)) {
        const QByteArray Prefix = QUrl::toPercentEncoding(Options.RedirectPrefix, "/");
        const QByteArray Rest = Seen.Path.startsWith(Prefix) ? Seen.Path.mid(Prefix.size()) : Seen.Path;
        SendText(302, "Moved\r\n", {{"Location", Options.RedirectTarget.toUtf8() + Rest}});
        return true;
    }
    const QString Target = MapToRoot(Options.Root, Decoded);
    const QFileInfo Info(Target);
    if (Target.isEmpty() || !Info.exists()) {
        SendText(404, "Not Found\r\n");
        return true;
    }
    if (Info.isDir()) {
        SendText(200, FolderListing(Target));
        return true;
    }
    auto File = std::make_unique<QFile>(Target);
    if (!File->open(QIODevice::ReadOnly)) {
        SendText(403, "Forbidden\r\n");
        return true;
    }
    Send(200, std::move(File), "application/octet-stream");
    return true;
}

void TSimUpdateServer::missingHandler(const QHttpServerRequest &, QTcpSocket *Socket) {
    WriteHead(Socket, 404, {{"Content-Length", "0"}});
}

bool ParseSimUpdateServerOptions(const QStringList &Args, TSimUpdateServerOptions &Options, QString *Error,
                                 bool *WantsHelp, QString *HelpText) {
    QCommandLineParser Parser;
    Parser.setApplicationDescription(
        "Demo update server: serves DIR over HTTP on 127.0.0.1; the program's update server address is\n"
        "http://127.0.0.1:<port>/firmware_update/KVBL/ with DIR holding firmware_update/KVBL/<device>/.");
    const QCommandLineOption Help({"h", "help"}, "Show this help.");
    const QCommandLineOption Updates("updates", "The folder to serve.", "dir");
    const QCommandLineOption Port("http-port", "TCP port on 127.0.0.1, 0 = any free one.", "port",
                                  QString::number(Options.Port));
    const QCommandLineOption Throttle(
        "throttle", "Send bodies at this many bytes per second, 0 = unthrottled.", "bytes", "0");
    const QCommandLineOption Fail("fail-status", "Answer every request with this HTTP status.", "status",
                                  "0");
    const QCommandLineOption RedirectPrefix("redirect-prefix",
                                            "Redirect requests whose path starts with this.", "path");
    const QCommandLineOption RedirectTarget("redirect-target", "... to this prefix (path or full URL).",
                                            "prefix", Options.RedirectTarget);
    const QCommandLineOption Hang("hang", "Read requests and never answer.");
    const QCommandLineOption NoLength("no-content-length", "Bodies without a length, ended by closing.");
    const QCommandLineOption Log("log", "Print every request line.");
    Parser.addOptions(
        {Help, Updates, Port, Throttle, Fail, RedirectPrefix, RedirectTarget, Hang, NoLength, Log});
    if (HelpText) *HelpText = Parser.helpText();
    if (!Parser.parse(Args)) {
        if (Error) *Error = Parser.errorText();
        return false;
    }
    if (Parser.isSet(Help)) {
        if (WantsHelp) *WantsHelp = true;
        return true;
    }
    auto Number = [&](const QCommandLineOption &O, qint64 Min, qint64 Max, qint64 &Out) {
        bool Ok = false;
        const qint64 V = Parser.value(O).toLongLong(&Ok);
        if (!Ok || V < Min || V > Max) {
            if (Error)
                *Error = QStringLiteral("--%1: expected a number from %2 to %3")
                             .arg(O.names().first())
                             .arg(Min)
                             .arg(Max);
            return false;
        }
        Out = V;
        return true;
    };
    qint64 PortValue = 0, ThrottleValue = 0, FailValue = 0;
    if (!Number(Port, 0, 65535, PortValue) || !Number(Throttle, 0, 1 << 30, ThrottleValue) ||
        !Number(Fail, 0, 599, FailValue))
        return false;
    if (!Parser.isSet(Updates) || !QFileInfo(Parser.value(Updates)).isDir()) {
        if (Error) *Error = QStringLiteral("--updates: give the folder to serve");
        return false;
    }
    Options.Root = Parser.value(Updates);
    Options.Port = quint16(PortValue);
    Options.ThrottleBytesPerSecond = int(ThrottleValue);
    Options.FailStatus = int(FailValue);
    Options.RedirectPrefix = Parser.value(RedirectPrefix);
    Options.RedirectTarget = Parser.value(RedirectTarget);
    Options.Hang = Parser.isSet(Hang);
    Options.NoContentLength = Parser.isSet(NoLength);
    Options.LogRequests = Parser.isSet(Log);
    return true;
}

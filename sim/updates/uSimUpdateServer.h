#pragma once
// The demo update server: serves a folder tree over HTTP on 127.0.0.1 the way the program's
// update server is laid out (a device list, one folder per device with its file list, the
// files). A request for a folder gets the folder's "index.txt" when there is one (so the
// order of the list is the publisher's), otherwise the names of its entries, one per line.
// Options add the faults the program must survive: a slow line, error statuses, redirects,
// a server that never answers, answers without a length.
#include <QAbstractHttpServer>
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QVector>

struct TSimUpdateServerOptions {
    QString Root;                   // the served folder
    quint16 Port = 18080;           // 0 = any free port
    int ThrottleBytesPerSecond = 0; // bodies sent at this rate; 0 = as fast as the socket takes them
    int FailStatus = 0;             // answer every request with this HTTP status; 0 = serve
    QString RedirectPrefix;         // a path starting with this is redirected (302) ...
    QString RedirectTarget = "/";   // ... to this prefix (a path on this server or a full URL) + the rest
    bool Hang = false;              // read requests, never answer
    bool NoContentLength = false;   // no Content-Length: the body ends when the connection closes
    bool LogRequests = false;       // print every request line to standard output
};

// One request as the server received it.
struct TSimUpdateRequest {
    QByteArray Method;
    QByteArray Path; // percent-encoding as sent
    QList<QPair<QByteArray, QByteArray>> Headers;
    QByteArray Header(const QByteArray &name) const;
};

class TSimUpdateServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    explicit TSimUpdateServer(const TSimUpdateServerOptions &options, QObject *parent = nullptr);

    // Options may change between requests (tests switch faults on and off).
    TSimUpdateServerOptions Options;
    // Every request received, oldest first.
    QVector<TSimUpdateRequest> Requests;

    // Listens on 127.0.0.1. False with a message when the port cannot be had.
    bool Start(QString *error);
    quint16 Port() const { return FPort; }
    // "http://127.0.0.1:<port>/firmware_update/KVBL/"
    QString BaseAddress() const;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    quint16 FPort = 0;
};

// Fills Options from command-line arguments (Args[0] is the program name). False with a
// message in *Error for a bad argument; *WantsHelp set for --help, with the text in *HelpText.
bool ParseSimUpdateServerOptions(const QStringList &args, TSimUpdateServerOptions &options, QString *error,
                                 bool *wantsHelp, QString *helpText);

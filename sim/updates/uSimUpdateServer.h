#pragma once
// The demo update server: serves a folder tree over HTTP on 127.0.0.1 the way the program's
// update server is laid out (a device list, one folder per device with its file list, the
// files). A request for a folder gets the folder's "index.txt" when there is one (so the
// order of the list is the publisher's), otherwise the names of its entries, one per line.
// Options add the faults the program must survive: a slow line, error statuses, redirects,
// a server that never answers, answers without a length.
#include "uSimHttpConnection.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTcpServer>

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
    // How many of the latest requests Requests keeps (a long run keeps no more).
    int KeptRequests = 1000;
};

class TSimUpdateServer : public QTcpServer {
    Q_OBJECT
public:
    explicit TSimUpdateServer(const TSimUpdateServerOptions &options, QObject *parent = nullptr);

    // Options may change between requests (tests switch faults on and off).
    TSimUpdateServerOptions Options;
    // The latest requests received (at most Options.KeptRequests), oldest first.
    QList<TSimUpdateRequest> Requests;
    // Every request received since the start.
    qint64 RequestCount() const { return FRequestCount; }

    // Listens on 127.0.0.1. False with a message when the port cannot be had.
    bool Start(QString *error);
    quint16 Port() const { return FPort; }
    // "http://127.0.0.1:<port>/firmware_update/KVBL/"
    QString BaseAddress() const;

private:
    void AcceptConnections();
    TSimHttpAnswer Serve(const TSimUpdateRequest &request);

    quint16 FPort = 0;
    qint64 FRequestCount = 0;
};
// Fills Options from command-line arguments (Args[0] is the program name). False with a
// message in *Error for a bad argument; *WantsHelp set for --help, with the text in *HelpText.
bool ParseSimUpdateServerOptions(const QStringList &args, TSimUpdateServerOptions &options, QString *error,
                                 bool *wantsHelp, QString *helpText);

#pragma once
// A deliberately misbehaving HTTP server on 127.0.0.1 for the hostile cases of the update
// client: it reads a request head and answers with the bytes it was given, all at once, one
// byte at a time, or as an endless body, then closes or keeps the connection. It runs on a
// thread of its own, as a server on another machine would, so that it sends as fast as the
// connection takes bytes however busy the program's GUI thread is. A request for a folder
// (a path ending in "/") gets ListBody, whole and with its length, when that is set, so that
// a frame can list a file before the file's request meets the script. Set it up before Start.
#include "uKvThreadHandOver.h"

#include <QByteArray>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>

class TScriptedHttpServer {
public:
    QByteArray Head;        // status line and headers, ended by the blank line
    QByteArray Body;        // sent after the head; with Endless, sent again and again
    int TrickleMs = 0;      // one byte of Body every this many ms; 0 = as fast as the socket takes it
    bool Endless = false;   // the body never ends
    bool CloseAtEnd = true; // close the connection once Body is out
    QByteArray ListBody;    // the answer to a folder's request; empty = the script answers it too

    std::atomic<int> Requests{0};
    std::atomic<qint64> BodyBytesSent{0}; // body bytes the connection took, over all requests
    std::atomic<bool> ClientClosed{false};

    ~TScriptedHttpServer() {
        FThread.quit();
        FThread.wait();
        // Everything the server's thread did happens before this object goes (the thread
        // checker cannot see the join inside QThread).
        KvThread::MarkAcquire(&FThread);
    }
    bool Start() {
        bool listening = false;
        FThread.start();
        // The script set before this call is what the server's thread reads from now on.
        KvThread::CallBlocking(FServer, [this, &listening] {
            listening = FServer->listen(QHostAddress::LocalHost);
            FPort = FServer->serverPort();
            QObject::connect(FServer, &QTcpServer::newConnection, FServer, [this] { Accept(); });
        });
        return listening;
    }
    quint16 Port() const { return FPort; }
    QString Url(const QString &path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(FPort).arg(path);
    }

    TScriptedHttpServer() {
        FServer = new QTcpServer;
        FServer->moveToThread(&FThread);
        QObject::connect(
            &FThread, &QThread::finished, &FThread, [this] { KvThread::MarkRelease(&FThread); },
            Qt::DirectConnection);
        QObject::connect(&FThread, &QThread::finished, FServer, &QObject::deleteLater);
    }

private:
    void Accept() {
        while (QTcpSocket *socket = FServer->nextPendingConnection()) {
            auto *in = new QByteArray;
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket, in] {
                ClientClosed = true;
                delete in;
                socket->deleteLater();
            });
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, in] {
                *in += socket->readAll();
                const qsizetype end = in->indexOf("\r\n\r\n");
                if (end < 0) return;
                const QByteArray path = in->left(in->indexOf("\r\n")).split(' ').value(1);
                in->remove(0, end + 4);
                ++Requests;
                if (!ListBody.isEmpty() && path.endsWith('/')) {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: " +
                                  QByteArray::number(ListBody.size()) + "\r\n\r\n" + ListBody);
                    return;
                }
                Answer(socket);
            });
        }
    }
    void Answer(QTcpSocket *socket) {
        socket->write(Head);
        if (TrickleMs > 0) {
            auto *timer = new QTimer(socket);
            auto *at = new qsizetype(0);
            QObject::connect(timer, &QTimer::destroyed, [at] { delete at; });
            QObject::connect(timer, &QTimer::timeout, socket, [this, socket, timer, at] {
                if (*at < Body.size()) {
                    socket->write(Body.mid((*at)++, 1));
                    ++BodyBytesSent;
                }
                if (*at >= Body.size() && !Endless) {
                    timer->stop();
                    if (CloseAtEnd) socket->disconnectFromHost();
                } else if (Endless && *at >= Body.size()) {
                    *at = 0;
                }
            });
            timer->start(TrickleMs);
            return;
        }
        if (!Endless) {
            socket->write(Body);
            BodyBytesSent += Body.size();
            if (CloseAtEnd) socket->disconnectFromHost();
            return;
        }
        // Endless: keep a little queued and top it up as the connection takes it.
        auto topUp = [this, socket] {
            while (socket->state() == QAbstractSocket::ConnectedState &&
                   socket->bytesToWrite() < 4 * Body.size())
                socket->write(Body);
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [this, topUp](qint64 n) {
            BodyBytesSent += n;
            topUp();
        });
        topUp();
    }

    QThread FThread;
    QTcpServer *FServer = nullptr;
    quint16 FPort = 0;
};

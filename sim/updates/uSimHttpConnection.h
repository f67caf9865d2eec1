#pragma once
// One client connection of the demo update server. Requests are read off the socket one at a
// time and answered in the order they came: a client that sends several requests without
// waiting (pipelining) gets each answer whole, head and body, before the next one starts.
// Nothing of a request is kept once its answer is out, and the connection holds at most one
// request head and one read buffer of unread bytes, however much the client sends ahead.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>

#include <functional>
#include <memory>

class QIODevice;
class QTcpSocket;

// One request as the server received it.
struct TSimUpdateRequest {
    QByteArray Method;
    QByteArray Target;  // the request line's target, as sent
    QByteArray Path;    // its path: no query or fragment, percent-encoding as sent
    QByteArray Version; // "HTTP/1.1" or "HTTP/1.0"
    QList<QPair<QByteArray, QByteArray>> Headers;
    QByteArray Header(const QByteArray &name) const;
    // HTTP/1.1 keeps the connection unless the client says "close"; HTTP/1.0 keeps it only
    // when the client asks for keep-alive.
    bool KeepsConnection() const;
};

// The answer to one request: status, headers (the length or "Connection: close" are added
// here), and a body sent at a byte rate or as fast as the socket drains.
struct TSimHttpAnswer {
    int Status = 200;
    QList<QPair<QByteArray, QByteArray>> Headers;
    std::unique_ptr<QIODevice> Body; // open for reading; null = no body
    bool NoContentLength = false;    // the body ends when the connection closes
    int BytesPerSecond = 0;          // 0 = unthrottled
    bool Never = false;              // the request is never answered (the connection stalls)
};

class TSimHttpConnection : public QObject {
    Q_OBJECT
public:
    using THandler = std::function<TSimHttpAnswer(const TSimUpdateRequest &)>;
    // Takes the socket (it becomes the parent of this object) and answers its requests
    // through Handler until the client or an answer closes it.
    TSimHttpConnection(QTcpSocket *socket, THandler handler);

    // A request head longer than this is answered 431 and the connection closed.
    static constexpr int MaxHeadBytes = 16 * 1024;

    static QByteArray ReasonPhrase(int status);

private:
    // Takes the next complete request from the buffered bytes and answers it, while no answer
    // is on its way.
    void ServeNext();
    bool ParseHead(const QByteArray &head, TSimUpdateRequest &request) const;
    void Answer(TSimHttpAnswer answer, bool keepConnection);
    void SendBody();
    void AnswerDone();
    void Refuse(int status);

    QTcpSocket *FSocket;
    THandler FHandler;
    QByteArray FIn;        // bytes read but not yet taken as a request
    qint64 FSkipBytes = 0; // a request body still to be dropped
    bool FAnswering = false;
    bool FClosing = false;
    bool FNeverAnswered = false;
    // The body on its way.
    std::unique_ptr<QIODevice> FBody;
    int FBytesPerSecond = 0;
    bool FCloseAtEnd = false;
    double FCredit = 0;
    class QTimer *FThrottle = nullptr;
};

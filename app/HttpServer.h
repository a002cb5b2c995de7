#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QUrlQuery>
#include <QObject>

#include <functional>
#include <memory>

// One HTTP/1.x request as the remote interface sees it.
struct HttpRequest
{
    QByteArray method; // as sent (methods are case-sensitive)
    QByteArray path;   // without the query
    QUrlQuery query;   // the query's arguments, decoded
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QHostAddress peer;
    qint64 maxBody = 0;   // set by the screen for a route that takes more; 0: the server's limit
    bool trusted = false; // set by the screen for a token holder: never evicted for a stranger
};

struct HttpReply
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QByteArray headers; // further header lines, each ending in CR LF
};

// HTTP served by GNU libmicrohttpd on a thread of its own; every request is
// handed to this object's thread (the GUI) by a queued call, twice when it
// has a body: once on its headers (the screen: token, rate, route; an answer
// there is sent before any body byte is read, and before "100 Continue"), and
// once complete. Meanwhile the connection is suspended, so the server's thread
// never waits for the GUI.
//
// Fair to a token holder whatever strangers do: headers and a stranger's body
// must arrive within one total deadline (not per byte); when the server or
// one address is full, the oldest connection that is not serving a token
// holder makes room for the new one; requests that bend the protocol
// (Content-Length with Transfer-Encoding, differing lengths, unknown codings,
// other versions than 1.0 and 1.1) are answered 400 and closed.
class HttpServer : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        int maxConnections = 32;
        int maxPerAddress = 8;
        qint64 maxBody = 16 * 1024;
        int requestMs = 5000;        // the headers in all (not per byte), a stranger's body after them; an idle kept-alive connection
        qint64 trustedBytesPerSecond = 256 * 1024; // the slowest network a token holder's body is given time for
        qint64 drainBytes = 2 * 1024 * 1024; // of a declared body over the limit, read and dropped before the 413
    };
    // Decides on the headers alone: true with the answer when refused.
    using Screen = std::function<bool(HttpRequest &, HttpReply *)>;
    using Handler = std::function<HttpReply(const HttpRequest &)>;

    HttpServer(Screen screen, Handler handler, QObject *parent = nullptr);
    ~HttpServer() override;

    bool Listen(const QHostAddress &address, quint16 port, const Limits &limits);
    void Close();
    quint16 Port() const;

    struct Impl;

private:
    // On this object's thread: the screen or the handler for a suspended request.
    void Run(quint64 job);

    std::unique_ptr<Impl> d;
};

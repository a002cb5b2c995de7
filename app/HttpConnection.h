#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class QTcpSocket;

// One HTTP/1.1 request as the remote interface sees it.
struct HttpRequest
{
    QByteArray method; // upper case
    QByteArray path;   // without the query
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
    QHostAddress peer;
    qint64 maxBody = 0; // set by the screen for a route that takes more; 0: the connection's limit
};

struct HttpReply
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QByteArray headers; // further header lines, each ending in CR LF
};

// A connection that a stranger may hold: the request line and headers must
// arrive within kRequestMs and fit kMaxHeaderBytes; the body is refused from
// its Content-Length (or stops being read at the limit when chunked) before
// it is buffered, and only after the headers were let through; an idle
// kept-alive connection is closed after kIdleMs.
class HttpConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxHeaderBytes = 8 * 1024;
    static constexpr int kRequestMs = 5000;
    static constexpr int kIdleMs = 5000;
    static constexpr int kDrainBytes = 64 * 1024;
    static constexpr int kDrainMs = 1000;

    // Decides on the headers alone (token, rate, route): an answer here is
    // sent at once and the body never read.
    using Screen = std::function<bool(HttpRequest &, HttpReply *)>;
    using Handler = std::function<HttpReply(const HttpRequest &)>;

    HttpConnection(QTcpSocket *socket, qint64 maxBodyBytes, Screen screen, Handler handler, QObject *parent);
    QHostAddress Peer() const { return m_peer; }
    // Nothing of a request has arrived since the connection opened or its
    // last answer.
    bool WaitingForRequest() const { return !m_haveHeaders && m_buffer.isEmpty() && !m_closing; }

signals:
    void Closed(HttpConnection *connection);

private:
    void OnReadable();
    bool ParseHeaders(); // false: answered and closing
    bool ReadBody();     // true when the body is complete
    void Answer(const HttpReply &reply, bool close);
    void Close();

    QTcpSocket *m_socket;
    QHostAddress m_peer;
    qint64 m_maxBody;
    qint64 m_limit = 0; // the body limit of the request in hand
    Screen m_screen;
    Handler m_handler;
    QTimer m_deadline;
    QByteArray m_buffer;
    HttpRequest m_request;
    bool m_haveHeaders = false;
    bool m_chunked = false;
    qint64 m_contentLength = 0;
    bool m_keepAlive = true;
    bool m_closing = false;
    bool m_closed = false;
    qint64 m_drained = 0;
    std::optional<HttpReply> m_early; // refused on its headers, body read past
};

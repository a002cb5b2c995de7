#include "app/HttpConnection.h"

#include <QTcpSocket>

namespace {

QByteArray ReasonOf(int status)
{
    switch (status) {
    case 200: return "OK";
    case 202: return "Accepted";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 422: return "Unprocessable Entity";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

HttpReply ErrorReply(int status, const char *message)
{
    return {status, QByteArray("{\"error\":\"") + message + "\"}"};
}

} // namespace

HttpConnection::HttpConnection(QTcpSocket *socket, qint64 maxBodyBytes, Screen screen, Handler handler, QObject *parent)
    : QObject(parent), m_socket(socket), m_peer(socket->peerAddress()), m_maxBody(maxBodyBytes),
      m_screen(std::move(screen)), m_handler(std::move(handler))
{
    socket->setParent(this);
    socket->setReadBufferSize(kMaxHeaderBytes); // never more in memory than asked for
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_buffer.isEmpty() && !m_haveHeaders)
            Close(); // an idle kept-alive connection
        else
            Answer(ErrorReply(408, "the request did not arrive in time"), true);
    });
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::OnReadable);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::Close);
    connect(socket, &QTcpSocket::errorOccurred, this, &HttpConnection::Close);
    m_deadline.start(kRequestMs);
}

void HttpConnection::OnReadable()
{
    while (!m_closing) {
        const qint64 room = (m_haveHeaders ? m_limit + 1024 : kMaxHeaderBytes + 1) - m_buffer.size();
        if (room > 0)
            m_buffer += m_socket->read(room);
        if (!m_haveHeaders) {
            if (m_buffer.isEmpty())
                return;
            if (!m_deadline.isActive() || m_deadline.interval() != kRequestMs)
                m_deadline.start(kRequestMs);
            if (!ParseHeaders())
                return;
            if (!m_haveHeaders)
                return; // more to come
            m_socket->setReadBufferSize(m_limit + 1024);
            continue; // the body's room is there now
        }
        if (!ReadBody()) {
            if (m_socket->bytesAvailable() > 0 && m_buffer.size() < m_limit + 1024)
                continue;
            return;
        }
        const HttpReply reply = m_early ? *m_early : m_handler(m_request);
        Answer(reply, !m_keepAlive);
        if (m_closing)
            return;
        m_haveHeaders = false;
        m_request = HttpRequest();
        m_socket->setReadBufferSize(kMaxHeaderBytes);
        if (m_buffer.isEmpty() && m_socket->bytesAvailable() == 0) {
            m_deadline.start(kIdleMs);
            return;
        }
    }
}

bool HttpConnection::ParseHeaders()
{
    const qsizetype end = m_buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_buffer.size() > kMaxHeaderBytes) {
            Answer(ErrorReply(431, "the request headers are too large"), true);
            return false;
        }
        return true;
    }
    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    m_buffer.remove(0, end + 4);
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    if (first.size() != 3 || !first[2].startsWith("HTTP/1.")) {
        Answer(ErrorReply(400, "not an HTTP/1.x request"), true);
        return false;
    }
    m_request.method = first[0].toUpper();
    m_request.path = first[1].left(first[1].indexOf('?') < 0 ? first[1].size() : first[1].indexOf('?'));
    m_request.peer = m_peer;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            Answer(ErrorReply(400, "a malformed header"), true);
            return false;
        }
        m_request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    const QByteArray connection = m_request.headers.value("connection").toLower();
    m_keepAlive = first[2] == "HTTP/1.1" ? connection != "close" : connection == "keep-alive";
    m_chunked = m_request.headers.value("transfer-encoding").toLower().contains("chunked");
    bool ok = true;
    const QByteArray length = m_request.headers.value("content-length", "0");
    m_contentLength = length.toLongLong(&ok);
    if (!ok || m_contentLength < 0) {
        Answer(ErrorReply(400, "a malformed Content-Length"), true);
        return false;
    }
    m_haveHeaders = true;
    m_early.reset();
    m_request.maxBody = 0;
    HttpReply early;
    const bool refused = m_screen(m_request, &early);
    m_limit = m_request.maxBody > 0 ? m_request.maxBody : m_maxBody;
    if (refused) {
        // A refused request's body is never kept: a small one is read past
        // (so the connection can serve the next request), a large one not at all.
        if (m_chunked || m_contentLength > m_maxBody) {
            Answer(early, true);
            return false;
        }
        m_early = early;
        return true;
    }
    if (m_contentLength > m_limit) {
        Answer(ErrorReply(413, "the body is too large"), true);
        return false;
    }
    return true;
}

bool HttpConnection::ReadBody()
{
    if (!m_chunked) {
        if (m_buffer.size() < m_contentLength)
            return false;
        m_request.body = m_buffer.left(m_contentLength);
        m_buffer.remove(0, m_contentLength);
        return true;
    }
    // Chunked: decoded as far as it has come; past the limit it is refused.
    QByteArray body;
    qsizetype at = 0;
    while (true) {
        const qsizetype lineEnd = m_buffer.indexOf("\r\n", at);
        if (lineEnd < 0)
            break;
        bool ok = false;
        const qint64 size = m_buffer.mid(at, lineEnd - at).split(';').value(0).trimmed().toLongLong(&ok, 16);
        if (!ok || size < 0 || body.size() + size > m_limit) {
            Answer(ErrorReply(ok ? 413 : 400, ok ? "the body is too large" : "a malformed chunk"), true);
            return false;
        }
        if (size == 0) {
            const qsizetype trailerEnd = m_buffer.indexOf("\r\n", lineEnd + 2);
            if (trailerEnd < 0)
                break;
            m_request.body = body;
            m_buffer.remove(0, trailerEnd + 2);
            return true;
        }
        if (m_buffer.size() < lineEnd + 2 + size + 2)
            break;
        body += m_buffer.mid(lineEnd + 2, size);
        at = lineEnd + 2 + size + 2;
    }
    if (m_buffer.size() > m_limit + 1024) {
        Answer(ErrorReply(413, "the body is too large"), true);
        return false;
    }
    return false;
}

void HttpConnection::Answer(const HttpReply &reply, bool close)
{
    if (m_closing)
        return;
    const bool head = m_request.method == "HEAD";
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + ReasonOf(reply.status) + "\r\n"
                     "Content-Type: " + reply.contentType + "\r\n"
                     "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n"
                     "Cache-Control: no-store\r\n"
                     "X-Content-Type-Options: nosniff\r\n" + reply.headers;
    out += close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    if (!head)
        out += reply.body; // HEAD: the same headers, no body
    m_socket->write(out);
    if (close) {
        m_closing = true;
        m_deadline.stop();
        // A client still sending a refused body reads the answer only once
        // its body is out: a little of it is read and dropped first.
        m_socket->setReadBufferSize(0);
        m_socket->readAll();
        connect(m_socket, &QTcpSocket::readyRead, this, [this] {
            m_drained += m_socket->readAll().size();
            if (m_drained > kDrainBytes)
                Close();
        });
        QTimer::singleShot(kDrainMs, this, [this] { m_socket->disconnectFromHost(); });
        QTimer::singleShot(kDrainMs + 1000, this, &HttpConnection::Close);
        if (!m_haveHeaders || (!m_chunked && m_contentLength == 0) || m_request.method == "HEAD")
            m_socket->disconnectFromHost(); // nothing more is coming: close after the answer is written
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            Close();
    }
}

void HttpConnection::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_deadline.isActive())
        m_deadline.stop();
    m_closing = true;
    m_socket->abort();
    emit Closed(this);
}

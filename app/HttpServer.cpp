#include "app/HttpServer.h"

#include <QMetaObject>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace {

qint64 NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What a connection is doing, for its deadline and for eviction.
enum class Stage {
    Waiting,  // no request yet (or idle after one): headers due
    Reading,  // a stranger's request: its body or its answer
    Trusted,  // a token holder's request
    Busy,     // suspended while this program decides
};

struct Link
{
    MHD_socket fd = MHD_INVALID_SOCKET;
    QHostAddress peer;
    qint64 since = 0;
    Stage stage = Stage::Waiting;
    qint64 allowMs = 0; // from since
    bool dropped = false;
};

enum class Phase { Screening, Screened, Body, Serving, Answered };

// One request on the server's side. While its connection is suspended only
// the GUI thread touches it.
struct Exchange
{
    HttpRequest request;
    Phase phase = Phase::Screening;
    bool expectBody = false;
    qint64 contentLength = -1; // -1: chunked or none
    qint64 limit = 0;
    bool tooLarge = false;
    qint64 dropped = 0;
    std::optional<HttpReply> reply;
    bool closeAfter = false;
};

QHostAddress PeerOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return {};
    QHostAddress address(info->client_addr);
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok); // an IPv4 client of the dual-stack socket
    return ok ? QHostAddress(v4) : address;
}

Link *LinkOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<Link *>(info->socket_context) : nullptr;
}

struct Headers
{
    QHash<QByteArray, QByteArray> values;
    QList<QByteArray> lengths;
    QList<QByteArray> codings;
    int hosts = 0;
    bool badName = false;
};

MHD_Result CollectArgument(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    static_cast<QUrlQuery *>(cls)->addQueryItem(QString::fromUtf8(key), value ? QString::fromUtf8(value) : QString());
    return MHD_YES;
}

MHD_Result CollectHeader(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    auto *headers = static_cast<Headers *>(cls);
    const QByteArray name = QByteArray(key).toLower();
    // "Content-Length : 5" is no Content-Length to us, but may be to another reader.
    headers->badName |= name.isEmpty() || name.contains(' ') || name.contains('\t');
    const QByteArray text = value ? QByteArray(value) : QByteArray();
    if (name == "content-length")
        for (const QByteArray &part : text.split(','))
            headers->lengths.append(part.trimmed());
    else if (name == "transfer-encoding")
        for (const QByteArray &part : text.split(','))
            headers->codings.append(part.trimmed().toLower());
    else if (name == "host")
        ++headers->hosts;
    headers->values.insert(name, text);
    return MHD_YES;
}

// Why the request is refused on its form alone, or nothing.
const char *Malformed(const Headers &headers, const char *version, qint64 *contentLength)
{
    const QByteArray v(version);
    if (v != "HTTP/1.1" && v != "HTTP/1.0")
        return "only HTTP/1.0 and HTTP/1.1 are spoken here";
    if (headers.badName)
        return "a header name holds white space";
    if ((v == "HTTP/1.1" && headers.hosts == 0) || headers.hosts > 1)
        return "one Host header is needed";
    if (!headers.codings.isEmpty()) {
        if (headers.codings != QList<QByteArray>{"chunked"} || v == "HTTP/1.0")
            return "only the chunked transfer coding is understood";
        if (!headers.lengths.isEmpty())
            return "Content-Length together with Transfer-Encoding";
        *contentLength = -1;
        return nullptr;
    }
    *contentLength = -1;
    for (const QByteArray &length : headers.lengths) {
        const bool digits = !length.isEmpty() && length.size() <= 15
                            && std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits)
            return "a malformed Content-Length";
        if (*contentLength >= 0 && length.toLongLong() != *contentLength)
            return "differing Content-Lengths";
        *contentLength = length.toLongLong();
    }
    return nullptr;
}

HttpReply ErrorReply(int status, const char *message)
{
    return {status, QByteArray("{\"error\":\"") + message + "\"}", "application/json", {}};
}

// A 413 written straight to the socket, for a chunked body that outgrows the
// limit: the server cannot queue an answer while a body is being read.
void SendTooLarge(MHD_socket fd)
{
    static const char kAnswer[] = "HTTP/1.1 413 Payload Too Large\r\n"
                                  "Content-Type: application/json\r\n"
                                  "Content-Length: 35\r\n"
                                  "Connection: close\r\n\r\n"
                                  "{\"error\":\"the body is too large\"}\r\n";
    if (fd != MHD_INVALID_SOCKET)
        (void)::send(fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
}

} // namespace

struct HttpServer::Impl
{
    HttpServer *owner = nullptr;
    Screen screen;
    Handler handler;
    Limits limits;
    MHD_Daemon *daemon = nullptr;
    std::thread thread;
    std::atomic<bool> stopping{false};
    int wake = -1; // an eventfd: a request resumed, or closing

    // The server's thread only.
    std::list<Link *> links;

    // Suspended requests waiting for the GUI thread.
    struct Job
    {
        MHD_Connection *connection;
        Exchange *exchange;
    };
    std::mutex jobsMutex;
    std::unordered_map<quint64, Job> jobs;
    quint64 nextJob = 1;

    static MHD_Result OnRequest(void *cls, MHD_Connection *connection, const char *url, const char *method,
                                const char *version, const char *upload, size_t *uploadSize, void **requestContext);
    static void OnCompleted(void *cls, MHD_Connection *connection, void **requestContext,
                            MHD_RequestTerminationCode code);
    static void OnConnection(void *cls, MHD_Connection *connection, void **socketContext,
                             MHD_ConnectionNotificationCode code);

    MHD_Result Begin(MHD_Connection *connection, Link *link, const char *url, const char *method,
                     const char *version, void **requestContext);
    MHD_Result Queue(MHD_Connection *connection, const HttpReply &reply, bool close);
    bool Hand(MHD_Connection *connection, Exchange *exchange);
    void MakeRoom(Link *incoming);
    int Sweep(); // ms until the next deadline, -1 for none
    void Loop();
    void Wake() const;
};

void HttpServer::Impl::Wake() const
{
    const quint64 one = 1;
    if (wake >= 0)
        (void)::write(wake, &one, sizeof one);
}

MHD_Result HttpServer::Impl::Queue(MHD_Connection *connection, const HttpReply &reply, bool close)
{
    MHD_Response *response = MHD_create_response_from_buffer(size_t(reply.body.size()),
                                                             const_cast<char *>(reply.body.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, "Content-Type", reply.contentType.constData());
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    for (const QByteArray &line : reply.headers.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            MHD_add_response_header(response, line.left(colon).trimmed().constData(),
                                    line.mid(colon + 1).trimmed().constData());
    }
    if (close)
        MHD_add_response_header(response, "Connection", "close");
    const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

// Suspends the connection and hands the request to the GUI thread; false
// when the server is closing.
bool HttpServer::Impl::Hand(MHD_Connection *connection, Exchange *exchange)
{
    quint64 id = 0;
    {
        std::lock_guard<std::mutex> lock(jobsMutex);
        if (stopping)
            return false;
        id = nextJob++;
        jobs.emplace(id, Job{connection, exchange});
        MHD_suspend_connection(connection);
    }
    if (Link *link = LinkOf(connection))
        link->stage = Stage::Busy;
    QMetaObject::invokeMethod(owner, [owner = owner, id] { owner->Run(id); }, Qt::QueuedConnection);
    return true;
}

MHD_Result HttpServer::Impl::Begin(MHD_Connection *connection, Link *link, const char *url, const char *method,
                                   const char *version, void **requestContext)
{
    auto *exchange = new Exchange;
    *requestContext = exchange;
    if (link) { // the headers are in: the body's time starts now
        link->stage = Stage::Reading;
        link->since = NowMs();
    }
    Headers headers;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &CollectHeader, &headers);
    if (const char *fault = Malformed(headers, version, &exchange->contentLength)) {
        exchange->phase = Phase::Answered;
        return Queue(connection, ErrorReply(400, fault), true);
    }
    HttpRequest &request = exchange->request;
    request.method = QByteArray(method);
    request.path = QByteArray(url);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &CollectArgument, &request.query);
    request.headers = headers.values;
    request.peer = link ? link->peer : PeerOf(connection);
    exchange->expectBody = !headers.codings.isEmpty() || exchange->contentLength > 0;
    if (!Hand(connection, exchange)) {
        exchange->phase = Phase::Answered;
        return Queue(connection, ErrorReply(503, "the interface is closing"), true);
    }
    return MHD_YES;
}

MHD_Result HttpServer::Impl::OnRequest(void *cls, MHD_Connection *connection, const char *url, const char *method,
                                       const char *version, const char *upload, size_t *uploadSize,
                                       void **requestContext)
{
    auto *self = static_cast<Impl *>(cls);
    Link *link = LinkOf(connection);
    auto *exchange = static_cast<Exchange *>(*requestContext);
    if (!exchange)
        return self->Begin(connection, link, url, method, version, requestContext);
    switch (exchange->phase) {
    case Phase::Screening:
    case Phase::Serving:
        return MHD_YES; // not resumed yet
    case Phase::Screened:
        if (link) // decided: the deadline runs again while the answer goes out
            link->stage = exchange->request.trusted ? Stage::Trusted : Stage::Reading;
        if (exchange->reply && exchange->closeAfter) // refused: its body is never read
            return self->Queue(connection, *exchange->reply, true);
        if (exchange->reply) { // no body: answered on the request's last call, keeping the connection
            exchange->phase = Phase::Answered;
            return MHD_YES;
        }
        exchange->limit = exchange->request.maxBody > 0 ? exchange->request.maxBody : self->limits.maxBody;
        if (link && exchange->request.trusted) {
            link->stage = Stage::Trusted; // time for a body of its limit on a slow network
            link->allowMs = self->limits.requestMs + exchange->limit * 1000 / self->limits.trustedBytesPerSecond;
        } else if (link) {
            link->stage = Stage::Reading;
        }
        exchange->phase = Phase::Body;
        if (exchange->contentLength > exchange->limit) {
            // A body that is on its way is read and dropped, so the client
            // reads the 413 rather than a reset; one that waits for
            // "100 Continue", or is far too large, is answered at once.
            const bool waits = exchange->request.headers.value("expect").toLower() == "100-continue";
            if (waits || exchange->contentLength > exchange->limit + self->limits.drainBytes) {
                exchange->phase = Phase::Answered;
                return self->Queue(connection, ErrorReply(413, "the body is too large"), true);
            }
            exchange->tooLarge = true;
        }
        return MHD_YES;
    case Phase::Body:
        if (*uploadSize > 0) {
            const qint64 size = qint64(*uploadSize);
            if (!exchange->tooLarge && exchange->request.body.size() + size <= exchange->limit) {
                exchange->request.body.append(upload, size);
            } else if (exchange->contentLength < 0) {
                SendTooLarge(link ? link->fd : MHD_INVALID_SOCKET); // chunked: no end in sight
                return MHD_NO;
            } else {
                exchange->tooLarge = true; // dropped to its end, then answered
                exchange->request.body.clear();
                exchange->dropped += size;
            }
            *uploadSize = 0;
            return MHD_YES;
        }
        if (exchange->tooLarge) {
            exchange->phase = Phase::Answered;
            return self->Queue(connection, ErrorReply(413, "the body is too large"), true);
        }
        exchange->phase = Phase::Serving;
        if (!self->Hand(connection, exchange)) {
            exchange->phase = Phase::Answered;
            return self->Queue(connection, ErrorReply(503, "the interface is closing"), true);
        }
        return MHD_YES;
    case Phase::Answered:
        if (link && link->stage == Stage::Busy)
            link->stage = exchange->request.trusted ? Stage::Trusted : Stage::Reading;
        if (exchange->reply) {
            const HttpReply reply = *exchange->reply;
            exchange->reply.reset();
            return self->Queue(connection, reply, exchange->closeAfter);
        }
        return MHD_YES;
    }
    return MHD_NO;
}

void HttpServer::Impl::OnCompleted(void *cls, MHD_Connection *connection, void **requestContext,
                                   MHD_RequestTerminationCode)
{
    auto *self = static_cast<Impl *>(cls);
    delete static_cast<Exchange *>(*requestContext);
    *requestContext = nullptr;
    if (Link *link = LinkOf(connection)) {
        link->stage = Stage::Waiting;
        link->since = NowMs();
        link->allowMs = self->limits.requestMs;
    }
}

void HttpServer::Impl::OnConnection(void *cls, MHD_Connection *connection, void **socketContext,
                                    MHD_ConnectionNotificationCode code)
{
    auto *self = static_cast<Impl *>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto *link = new Link;
        const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        link->fd = info ? info->connect_fd : MHD_INVALID_SOCKET;
        link->peer = PeerOf(connection);
        link->since = NowMs();
        link->allowMs = self->limits.requestMs;
        *socketContext = link;
        self->links.push_back(link);
        self->MakeRoom(link);
        return;
    }
    auto *link = static_cast<Link *>(*socketContext);
    self->links.remove(link);
    delete link;
    *socketContext = nullptr;
}

namespace {

void Drop(Link *link)
{
    if (link->dropped || link->fd == MHD_INVALID_SOCKET)
        return;
    link->dropped = true;
    ::shutdown(link->fd, SHUT_RDWR); // the server sees the end and closes it
}

bool Evictable(const Link *link)
{
    return !link->dropped && (link->stage == Stage::Waiting || link->stage == Stage::Reading);
}

} // namespace

// Over the server's cap or the address's share, the oldest connection that
// is not serving a token holder goes (it may be the new one itself).
void HttpServer::Impl::MakeRoom(Link *incoming)
{
    auto count = [this](const QHostAddress *peer) {
        return std::count_if(links.begin(), links.end(), [peer](const Link *l) {
            return !l->dropped && (!peer || l->peer.isEqual(*peer));
        });
    };
    auto evictOldest = [this, incoming](const QHostAddress *peer) {
        Link *oldest = nullptr;
        for (Link *l : links)
            if (Evictable(l) && (!peer || l->peer.isEqual(*peer)) && (!oldest || l->since < oldest->since))
                oldest = l;
        Drop(oldest ? oldest : incoming);
    };
    while (!incoming->dropped && count(&incoming->peer) > limits.maxPerAddress)
        evictOldest(&incoming->peer);
    while (!incoming->dropped && count(nullptr) > limits.maxConnections)
        evictOldest(nullptr);
}

int HttpServer::Impl::Sweep()
{
    const qint64 now = NowMs();
    qint64 next = -1; // nothing to time: sleep until something happens
    for (Link *link : links) {
        if (link->dropped || link->stage == Stage::Busy)
            continue;
        const qint64 deadline = link->since + link->allowMs;
        if (now >= deadline)
            Drop(link);
        else
            next = next < 0 ? deadline - now : std::min(next, deadline - now);
    }
    return next < 0 ? -1 : int(std::max<qint64>(next, 1));
}

// The server's own epoll descriptor and our wake-up, polled together: a
// resumed request is answered at once, not on the next timeout.
void HttpServer::Impl::Loop()
{
    const MHD_DaemonInfo *info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD);
    pollfd fds[2] = {{info ? info->epoll_fd : -1, POLLIN, 0}, {wake, POLLIN, 0}};
    int wait = -1;
    while (!stopping) {
        MHD_UNSIGNED_LONG_LONG due = 0;
        if (MHD_get_timeout(daemon, &due) == MHD_YES)
            wait = wait < 0 ? int(std::min<MHD_UNSIGNED_LONG_LONG>(due, 60000))
                            : int(std::min<MHD_UNSIGNED_LONG_LONG>(due, static_cast<MHD_UNSIGNED_LONG_LONG>(wait)));
        ::poll(fds, 2, wait);
        quint64 woken = 0;
        if (fds[1].revents & POLLIN)
            (void)::read(wake, &woken, sizeof woken);
        MHD_run(daemon);
        wait = Sweep();
    }
    MHD_run(daemon); // the requests resumed on closing are answered
}

HttpServer::HttpServer(Screen screen, Handler handler, QObject *parent)
    : QObject(parent), d(std::make_unique<Impl>())
{
    d->owner = this;
    d->screen = std::move(screen);
    d->handler = std::move(handler);
}

HttpServer::~HttpServer()
{
    Close();
}

bool HttpServer::Listen(const QHostAddress &address, quint16 port, const Limits &limits)
{
    Close();
    d->limits = limits;
    d->stopping = false;
    sockaddr_in loopback{};
    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ITC;
    const bool any = address == QHostAddress::Any || address == QHostAddress::AnyIPv6;
    if (any) {
        flags |= MHD_USE_DUAL_STACK;
    } else {
        loopback.sin_family = AF_INET;
        loopback.sin_port = htons(port);
        loopback.sin_addr.s_addr = htonl(address.toIPv4Address());
    }
    // The server's own caps sit above ours: connections we evict close on
    // the server's next turn, and ours choose who goes. The kernel's queue
    // is deep, so a flood of connects never drops the till's (its retry
    // would come a second later).
    constexpr unsigned kBacklog = 1024;
    d->daemon = MHD_start_daemon(
        flags, port, nullptr, nullptr, &Impl::OnRequest, d.get(),                          //
        MHD_OPTION_CONNECTION_LIMIT, unsigned(limits.maxConnections * 4),                  //
        MHD_OPTION_CONNECTION_TIMEOUT, unsigned(limits.requestMs / 1000 * 4),      //
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(32 * 1024),                             //
        MHD_OPTION_LISTEN_BACKLOG_SIZE, unsigned(kBacklog),                                //
        MHD_OPTION_STRICT_FOR_CLIENT, int(0),                                              //
        MHD_OPTION_NOTIFY_COMPLETED, &Impl::OnCompleted, d.get(),                          //
        MHD_OPTION_NOTIFY_CONNECTION, &Impl::OnConnection, d.get(),                        //
        any ? MHD_OPTION_END : MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr *>(&loopback), //
        MHD_OPTION_END);
    if (!d->daemon)
        return false;
    d->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    d->thread = std::thread([impl = d.get()] { impl->Loop(); });
    return true;
}

void HttpServer::Close()
{
    if (!d->daemon)
        return;
    // Requests waiting for this thread are answered at once.
    std::unordered_map<quint64, Impl::Job> waiting;
    {
        std::lock_guard<std::mutex> lock(d->jobsMutex);
        d->stopping = true;
        waiting.swap(d->jobs);
    }
    for (auto &[id, job] : waiting) {
        job.exchange->reply = ErrorReply(503, "the interface is closing");
        job.exchange->closeAfter = true;
        job.exchange->phase = job.exchange->phase == Phase::Screening ? Phase::Screened : Phase::Answered;
        MHD_resume_connection(job.connection);
    }
    const MHD_socket listener = MHD_quiesce_daemon(d->daemon);
    d->Wake();
    d->thread.join();
    MHD_stop_daemon(d->daemon);
    d->daemon = nullptr;
    ::close(d->wake);
    d->wake = -1;
    if (listener != MHD_INVALID_SOCKET)
        ::close(listener);
}

quint16 HttpServer::Port() const
{
    if (!d->daemon)
        return 0;
    const MHD_DaemonInfo *info = MHD_get_daemon_info(d->daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

void HttpServer::Run(quint64 id)
{
    Impl::Job job{};
    {
        std::lock_guard<std::mutex> lock(d->jobsMutex);
        const auto it = d->jobs.find(id);
        if (it == d->jobs.end())
            return; // answered on closing
        job = it->second;
    }
    Exchange *exchange = job.exchange;
    if (exchange->phase == Phase::Screening) {
        HttpReply early;
        if (d->screen(exchange->request, &early)) {
            exchange->reply = early;
            exchange->closeAfter = exchange->expectBody; // its body is never read
        } else if (!exchange->expectBody) {
            exchange->reply = d->handler(exchange->request);
        }
        exchange->phase = Phase::Screened;
    } else {
        exchange->reply = d->handler(exchange->request);
        exchange->phase = Phase::Answered;
    }
    {
        std::lock_guard<std::mutex> lock(d->jobsMutex);
        if (d->jobs.erase(id) == 0)
            return;
    }
    MHD_resume_connection(job.connection);
    d->Wake();
}

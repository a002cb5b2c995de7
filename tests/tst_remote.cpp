#include "app/Parlivo.h"
#include "speech/Announcer.h"
#include "modes/PriceMode.h"
#include "app/RemoteControl.h"
#include "settings/Settings.h"
#include "speech/Speake.h"
#include "core/SettingsValues.h"
#include "DaySimulation.h"
#include "TestEnvironment.h"
#include "core/Log.h"
#include "core/RemoteAccess.h"
#include "modes/SimplePlay.h"
#include "modes/TimerMode.h"
#include "shop/PriceListModel.h"
#include "shop/RemoteTexts.h"
#include "shop/Shop.h"
#include "shop/ShopSettings.h"
#include "shop/TaskListModel.h"
#include "shop/WordListModel.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <future>
#include <memory>
#include <thread>

namespace {

struct Answer
{
    int status = 0;
    QJsonObject body;
};


// What a client does with its request: sends it whole; shuts its sending
// side after it; sends the headers and waits for "100 Continue" before the
// body; or sends the headers and expects the final answer without one.
enum Way { Plain, HalfClose, Continue, NoContinue };

struct Exchange
{
    int status = 0;
    QByteArray bytes;
    bool closed = false; // the server closed the connection after its answer
    qint64 ms = 0;
};

// A blocking socket to the interface from 127.0.0.<from>.
int Connect(quint16 port, int from)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(0x7f000000u | quint32(from));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
        || ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const QByteArray &bytes)
{
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Reads until one final answer is whole (or the connection ends); false at
// the hang guard.
bool ReadAnswer(int fd, QByteArray *got, const QDeadlineTimer &guard, bool *closed, bool head)
{
    while (!guard.hasExpired()) {
        const qsizetype end = got->lastIndexOf("\r\n\r\n");
        if (end >= 0 && !got->startsWith("HTTP/1.1 100")) {
            const QByteArray headers = got->left(end).toLower();
            const qsizetype at = headers.indexOf("content-length: ");
            const qint64 length = at < 0 ? 0 : headers.mid(at + 16, headers.indexOf('\r', at) - at - 16).toLongLong();
            if (head || got->size() >= end + 4 + length) // HEAD: the headers only
                return true;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            *closed = true;
            return true;
        }
        got->append(buffer, n);
    }
    return false;
}

Exchange Talk(quint16 port, const QByteArray &head, const QByteArray &body = {}, Way way = Plain, int from = 1)
{
    Exchange result;
    QElapsedTimer clock;
    clock.start();
    const QDeadlineTimer guard(10000);
    const int fd = Connect(port, from);
    if (fd < 0)
        return result;
    if (way == Continue || way == NoContinue) {
        SendAll(fd, head);
        while (!result.bytes.contains("\r\n\r\n") && !guard.hasExpired() && !result.closed) {
            pollfd p{fd, POLLIN, 0};
            char buffer[4096];
            if (::poll(&p, 1, 50) > 0) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                result.closed = n <= 0;
                if (n > 0)
                    result.bytes.append(buffer, n);
            }
        }
        if (way == Continue && result.bytes.startsWith("HTTP/1.1 100 Continue\r\n\r\n")) {
            result.bytes.clear();
            SendAll(fd, body);
        }
    } else {
        SendAll(fd, head + body);
        if (way == HalfClose)
            ::shutdown(fd, SHUT_WR);
    }
    ReadAnswer(fd, &result.bytes, guard, &result.closed, head.startsWith("HEAD "));
    result.ms = clock.elapsed();
    // Closed after the answer: the end arrives at once.
    pollfd p{fd, POLLIN, 0};
    char buffer[65536];
    while (!result.closed && ::poll(&p, 1, 300) > 0) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        result.closed = n <= 0;
    }
    ::close(fd);
    if (result.bytes.startsWith("HTTP/1."))
        result.status = result.bytes.mid(9, 3).toInt();
    return result;
}

// Runs a blocking client on a thread of its own while this thread, the
// interface's, goes on serving.
template <typename F>
auto OffThread(F f)
{
    auto done = std::async(std::launch::async, std::move(f));
    while (done.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QTest::qWait(2);
    return done.get();
}

enum class Flood { None, SlowHeaders, SlowBodies, Idle, Tokenless };

// Strangers holding the interface from their addresses until destroyed:
// headers or bodies a byte at a time (reconnecting when closed), idle
// connections opened without end, or requests without a token.
class Attack
{
public:
    Attack(Flood kind, quint16 port, int first, int addresses, int perAddress)
    {
        for (int a = 0; a < addresses; ++a)
            m_threads.emplace_back([=] { Run(kind, port, first + a, perAddress); });
    }
    ~Attack()
    {
        m_stop = true;
        for (std::thread &t : m_threads)
            t.join();
    }

private:
    void Run(Flood kind, quint16 port, int from, int count)
    {
        const QByteArray opening = kind == Flood::SlowBodies
                                       ? "POST /api/pair HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\n"
                                       : "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        std::deque<int> fds;
        while (!m_stop) {
            if (kind == Flood::Tokenless) {
                Talk(port, "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", {}, Plain, from);
                continue;
            }
            if (kind == Flood::Idle) {
                for (int i = 0; i < 4 && !m_stop; ++i) {
                    const int fd = Connect(port, from);
                    if (fd >= 0)
                        fds.push_back(fd);
                }
                while (int(fds.size()) > count) {
                    ::close(fds.front());
                    fds.pop_front();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            while (int(fds.size()) < count) {
                const int fd = Connect(port, from);
                if (fd < 0 || !SendAll(fd, opening))
                    break;
                fds.push_back(fd);
            }
            for (auto it = fds.begin(); it != fds.end();) {
                char byte = 'a';
                pollfd p{*it, POLLIN, 0};
                if (::poll(&p, 1, 0) > 0 || ::send(*it, &byte, 1, MSG_NOSIGNAL) != 1) {
                    ::close(*it); // answered or closed: a new one takes its place
                    it = fds.erase(it);
                } else {
                    ++it;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        for (const int fd : fds)
            ::close(fd);
    }

    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

} // namespace

class TestRemote : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Shop> m_shop;
    std::unique_ptr<Parlivo> m_window;
    QNetworkAccessManager m_net;
    QByteArray m_token;
    quint16 m_port = 0;

    Answer Ask(const QByteArray &method, const QString &path, const QByteArray &body = QByteArray(),
               const QByteArray &token = QByteArray("good"))
    {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        if (!token.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + (token == "good" ? m_token : token));
        std::unique_ptr<QNetworkReply> reply(m_net.sendCustomRequest(request, method, body));
        QEventLoop loop;
        connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit); // a hang guard
        loop.exec();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                QJsonDocument::fromJson(reply->readAll()).object()};
    }
    // Keeps the functional checks under the rate limit.
    Answer Paced(const QByteArray &method, const QString &path, const QByteArray &body = QByteArray(),
                 const QByteArray &token = QByteArray("good"))
    {
        QTest::qWait(120);
        return Ask(method, path, body, token);
    }

    // One request on a raw socket; the status of the answer (0 when none
    // came) and whether it came before the body was sent.
    int Raw(const QByteArray &request, QByteArray *answer = nullptr)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (!socket.waitForConnected(5000))
            return 0;
        socket.write(request);
        QByteArray got;
        const QDeadlineTimer hangGuard(15000);
        while (!got.contains("\r\n\r\n") && !hangGuard.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            socket.waitForReadyRead(20);
            got += socket.readAll();
        }
        QTest::qWait(100);
        got += socket.readAll();
        if (answer)
            *answer = got;
        return got.startsWith("HTTP/1.1 ") ? got.mid(9, 3).toInt() : 0;
    }

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        ShopSettings::UseFilePath(IsolateUserDirs().path() + "/settings.xml");
        QVERIFY(QDir::setCurrent(IsolateUserDirs().path()));
        m_shop = std::make_unique<Shop>();
        m_window = std::make_unique<Parlivo>(m_shop.get());
        m_token = RemoteControl::Token();
        QCOMPARE(m_token.size(), 64);
        QCOMPARE(QFileInfo(RemoteControl::TokenFilePath()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
        QVERIFY(m_window->Remote()->Start(0, false, m_token));
        m_port = m_window->Remote()->Port();
        QVERIFY(m_port != 0);
    }
    void cleanupTestCase()
    {
        m_window.reset();
        m_shop.reset();
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<int>("status");
        QByteArray offByOne = "good";
        QTest::newRow("no token") << QByteArray("GET") << "/api/status" << QByteArray() << QByteArray() << 401;
        QTest::newRow("token off by one byte") << QByteArray("GET") << "/api/status" << QByteArray() << QByteArray("?")
                                               << 401;
        QTest::newRow("malformed JSON") << QByteArray("POST") << "/api/say" << QByteArray("{\"text\": ") << offByOne << 400;
        QTest::newRow("no text") << QByteArray("POST") << "/api/say" << QByteArray("{}") << offByOne << 400;
        QTest::newRow("text not a string") << QByteArray("POST") << "/api/say" << QByteArray("{\"text\": 5}") << offByOne
                                           << 400;
        QTest::newRow("body over 16 KiB") << QByteArray("POST") << "/api/say"
                                          << "{\"text\": \"" + QByteArray(17000, 'a') + "\"}" << offByOne << 413;
        QTest::newRow("text over 2,000") << QByteArray("POST") << "/api/say"
                                         << "{\"text\": \"" + QByteArray(2001, 'a') + "\"}" << offByOne << 422;
        QTest::newRow("blank text") << QByteArray("POST") << "/api/say" << QByteArray("{\"text\": \"  \"}") << offByOne
                                    << 422;
        QTest::newRow("unknown path") << QByteArray("GET") << "/api/nothing" << QByteArray() << offByOne << 404;
        QTest::newRow("unknown mode") << QByteArray("POST") << "/api/modes/music/play" << QByteArray() << offByOne << 404;
        QTest::newRow("say by GET") << QByteArray("GET") << "/api/say" << QByteArray() << offByOne << 405;
        QTest::newRow("status by POST") << QByteArray("POST") << "/api/status" << QByteArray() << offByOne << 405;
        // Numbers are checked before anything converts them.
        QTest::newRow("volume past int") << QByteArray("PUT") << "/api/music/volume" << QByteArray(R"({"volume": 2147483648})")
                                         << offByOne << 422;
        QTest::newRow("volume 1e300") << QByteArray("PUT") << "/api/music/volume" << QByteArray(R"({"volume": -1e300})")
                                      << offByOne << 422;
        QTest::newRow("timer after 1e300")
            << QByteArray("PUT") << "/api/lists/timer"
            << QByteArray(R"({"tasks": [{"title": "a", "text": "b", "after": 1e300, "times": 1}]})") << offByOne << 422;
        QTest::newRow("weekday 1e300")
            << QByteArray("PUT") << "/api/lists/timer"
            << QByteArray(R"({"tasks": [{"title": "a", "text": "b", "start": "07:00", "times": 1, "weekdays": [1e300]}]})")
            << offByOne << 422;
        // Counted as spoken: full-width digits and units take long to say.
        QTest::newRow("full-width text over the budget")
            << QByteArray("POST") << "/api/say" << "{\"text\": \"" + QByteArray("５㎡").repeated(1000) + "\"}" << offByOne << 422;
    }
    void refusals()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, token);
        QFETCH(int, status);
        if (token == "?") { // the right token but for its last byte
            token = m_token;
            token[token.size() - 1] = token.back() == 'a' ? 'b' : 'a';
        }
        const int queued = m_shop->Worker()->QueueLength();
        const Answer answer = Paced(method, path, body, token);
        QCOMPARE(answer.status, status);
        QVERIFY(answer.body.contains("error"));
        QCOMPARE(m_shop->Worker()->QueueLength(), queued); // nothing happened
    }

    void sayAndAsk()
    {
        const Answer queued = Paced("POST", "/api/say", "{\"text\": \"请3号收银台支援\"}");
        QCOMPARE(queued.status, 202);
        const int id = queued.body.value("id").toInt();
        QVERIFY(id > 0);
        QCOMPARE(Paced("GET", QStringLiteral("/api/say/%1").arg(id)).status, 200);
        QTRY_VERIFY_WITH_TIMEOUT(Paced("GET", QStringLiteral("/api/say/%1").arg(id)).body.value("spoken").toBool(), 60000);
        QCOMPARE(Paced("GET", "/api/say/99999").status, 404);
    }

    void buttonsAndStatus()
    {
        Answer answer = Paced("POST", "/api/modes/price/play");
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.body.value("state").toString(), QStringLiteral("playing"));
        answer = Paced("POST", "/api/modes/price/pause");
        QCOMPARE(answer.body.value("state").toString(), QStringLiteral("paused"));
        answer = Paced("GET", "/api/status");
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.body.value("modes").toObject().value("price").toString(), QStringLiteral("paused"));
        QCOMPARE(answer.body.value("voice").toString(), g_settings.yusheng.Get());
        QVERIFY(answer.body.contains("queue") && answer.body.contains("music"));
    }

    // The lists over HTTP: a round trip leaves them as they were and the
    // file as the tab saves it; a PUT with one bad row changes nothing and
    // names the row and field.
    void listsRoundTripAndRefusal_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QByteArray>("bad");
        QTest::addColumn<int>("badRow");
        QTest::addColumn<QString>("badField");
        QTest::newRow("word") << "word" << QByteArray(R"({"loop": true, "rows": [{"text": "好"}, {"text": "  "}]})") << 1 << "text";
        QTest::newRow("price") << "price"
                               << QByteArray(R"({"rows": [{"kind": "goods", "name": "西瓜", "price": "1.9.8", "unit": "斤"}]})")
                               << 0 << "price";
        QTest::newRow("timer") << "timer"
                               << QByteArray(R"({"tasks": [{"title": "a", "text": "b", "start": "07:00", "end": "08:00"},
                                               {"price": true, "start": "25:00", "end": "08:00"}]})")
                               << 1 << "start";
    }
    void listsRoundTripAndRefusal()
    {
        QFETCH(QString, list);
        QFETCH(QByteArray, bad);
        QFETCH(int, badRow);
        QFETCH(QString, badField);
        const QString path = "/api/lists/" + list;
        const QString file = list == "word" ? WordListModel::FilePath() : list == "price" ? PriceListModel::FilePath() : TaskListModel::FilePath();
        const Answer before = Paced("GET", path);
        QCOMPARE(before.status, 200);
        const QByteArray json = QJsonDocument(before.body).toJson();
        const Answer put = Paced("PUT", path, json);
        QCOMPARE(put.status, 200);
        QCOMPARE(put.body, before.body);
        QCOMPARE(Paced("GET", path).body, before.body);
        const QByteArray written = ReadFile(file);
        if (list == "word")
            m_window->WordMode()->SaveFile();
        else if (list == "price")
            m_window->PricePage()->SaveFile();
        else
            m_window->TimerPage()->SaveFile();
        QCOMPARE(ReadFile(file), written);

        const Answer refused = Paced("PUT", path, bad);
        QCOMPARE(refused.status, 422);
        QCOMPARE(refused.body.value("row").toInt(), badRow);
        QCOMPARE(refused.body.value("field").toString(), badField);
        QCOMPARE(Paced("GET", path).body, before.body);
        QCOMPARE(ReadFile(file), written);
    }

    // Pairing: a code is good once and for ten minutes; the phone's own
    // token works until the phone is revoked. The page and its files need
    // no token and carry a strict content policy.
    void pairingAndPage()
    {
        const QString code = RemoteAccess::NewPairingCode();
        const Answer paired = Paced("POST", "/api/pair", "{\"code\": \"" + code.toLatin1() + "\", \"name\": \"收银台\"}", "");
        QCOMPARE(paired.status, 201);
        const QByteArray phone = paired.body.value("token").toString().toLatin1();
        QCOMPARE(phone.size(), 64);
        QCOMPARE(Paced("GET", "/api/status", {}, phone).status, 200);
        QCOMPARE(Paced("POST", "/api/pair", "{\"code\": \"" + code.toLatin1() + "\"}", "").status, 403);

        SimulatedClock clock;
        Clock::Set(&clock);
        const QString late = RemoteAccess::NewPairingCode();
        clock.ms += RemoteAccess::kPairingMinutes * 60000 + 1000;
        QCOMPARE(Paced("POST", "/api/pair", "{\"code\": \"" + late.toLatin1() + "\"}", "").status, 403);
        // 2^32 ms (49.7 days) later an unused code is long dead, not new again.
        const QString wrapped = RemoteAccess::NewPairingCode();
        QVERIFY(RemoteAccess::PairingCodeLive());
        clock.ms += qint64(1) << 32;
        QVERIFY(!RemoteAccess::PairingCodeLive());
        QCOMPARE(Paced("POST", "/api/pair", "{\"code\": \"" + wrapped.toLatin1() + "\"}", "").status, 403);
        Clock::Set(nullptr);

        const QList<RemoteAccess::Device> devices = RemoteAccess::Devices(ShopSettings::Folder());
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices[0].name, QStringLiteral("收银台"));
        QVERIFY(!ReadFile(RemoteAccess::DevicesFile(ShopSettings::Folder())).contains(phone));
        QVERIFY(RemoteAccess::Revoke(ShopSettings::Folder(), devices[0].id));
        QCOMPARE(Paced("GET", "/api/status", {}, phone).status, 401);

        QByteArray page;
        QTest::qWait(120);
        QCOMPARE(Raw("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", &page), 200);
        QVERIFY(page.contains("Content-Type: text/html"));
        QVERIFY(page.contains("Content-Security-Policy: default-src 'none'; script-src 'self';"));
        QVERIFY2(page.contains("<script src=\"/phone.js\" defer></script>"), page.constData());
    }

    // A burst: the limit holds, every accepted text is queued once, and
    // the window keeps answering meanwhile.
    void burst()
    {
        QTest::qWait(1100);
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(5);
        std::vector<std::unique_ptr<QNetworkReply>> replies;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 1000; ++i) {
            QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/say").arg(m_port)));
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            request.setRawHeader("Authorization", "Bearer " + m_token);
            replies.emplace_back(m_net.post(request, QByteArray("{\"text\": \"延时\"}")));
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(replies.begin(), replies.end(), [](const auto &r) { return r->isFinished(); }),
                                 60000);
        const double seconds = clock.elapsed() / 1000.0;
        QSet<int> ids;
        int accepted = 0, limited = 0;
        for (const auto &reply : replies) {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (status == 202) {
                ++accepted;
                ids.insert(QJsonDocument::fromJson(reply->readAll()).object().value("id").toInt());
            } else if (status == 429) {
                ++limited;
            }
        }
        QCOMPARE(accepted + limited, 1000);
        QCOMPARE(ids.size(), accepted); // nothing queued twice
        QVERIFY2(accepted <= 10 * (int(seconds) + 2), qPrintable(QStringLiteral("%1 in %2 s").arg(accepted).arg(seconds)));
        QVERIFY(ticks > 0);
    }

    // One table of what a stranger (or a careless client) may do, on
    // loopback from addresses of its own (127.0.0.x): floods held in the
    // background while the till, on 127.0.0.1, must be answered within a
    // second each time (a hang guard, not a speed claim); request shapes
    // that bend HTTP, each refused and closed; bodies over the limit, "100
    // Continue" and a half-closed request, each answered. Strangers'
    // refusals never reach the log one by one.
    void attacks_data()
    {
        QTest::addColumn<int>("flood");
        QTest::addColumn<int>("firstAddress");
        QTest::addColumn<int>("addresses");
        QTest::addColumn<int>("perAddress");
        QTest::addColumn<bool>("shopNetwork");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("way");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("closes");
        auto flood = [](const char *name, Flood kind, int first, int addresses, int per, bool shop = false) {
            QTest::newRow(name) << int(kind) << first << addresses << per << shop << QByteArray() << QByteArray()
                                << int(Plain) << 0 << false;
        };
        flood("slow headers from the till's address", Flood::SlowHeaders, 1, 1, 8);
        flood("slow headers from 8 addresses", Flood::SlowHeaders, 2, 8, 8);
        flood("slow headers from 8 addresses, shop network", Flood::SlowHeaders, 2, 8, 8, true);
        flood("slow bodies from the till's address", Flood::SlowBodies, 1, 1, 8);
        flood("slow bodies from 8 addresses", Flood::SlowBodies, 2, 8, 4);
        flood("idle connections from the till's address", Flood::Idle, 1, 1, 200);
        flood("idle connections from 50 addresses", Flood::Idle, 2, 50, 8, true);
        flood("tokenless requests from the till's address", Flood::Tokenless, 1, 1, 4);
        flood("tokenless requests from 8 addresses", Flood::Tokenless, 2, 8, 1);

        const QByteArray host = "Host: 127.0.0.1\r\n";
        const QByteArray auth = "Authorization: Bearer " + m_token + "\r\n";
        const QByteArray post = "POST /api/say HTTP/1.1\r\n" + host + auth;
        const QByteArray text = R"({"text": "请到收银台"})";
        const QByteArray length = "Content-Length: " + QByteArray::number(text.size()) + "\r\n";
        auto shape = [](const char *name, const QByteArray &head, const QByteArray &body, Way way, int status,
                        bool closes) {
            QTest::newRow(name) << int(Flood::None) << 0 << 0 << 0 << false << head << body << int(way) << status
                                << closes;
        };
        shape("Content-Length with Transfer-Encoding",
              post + "Content-Length: 6\r\nTransfer-Encoding: chunked\r\n\r\n", "0\r\n\r\n", Plain, 400, true);
        shape("two Content-Lengths", post + "Content-Length: 24\r\nContent-Length: 26\r\n\r\n", text, Plain, 400, true);
        shape("a Content-Length list", post + "Content-Length: 24, 26\r\n\r\n", text, Plain, 400, true);
        shape("a signed Content-Length", post + "Content-Length: +24\r\n\r\n", text, Plain, 400, true);
        shape("an unknown coding", post + "Transfer-Encoding: xchunked\r\n\r\n", "0\r\n\r\n", Plain, 400, true);
        shape("chunked twice", post + "Transfer-Encoding: chunked, chunked\r\n\r\n", "0\r\n\r\n", Plain, 400, true);
        shape("chunked in HTTP/1.0", "POST /api/say HTTP/1.0\r\n" + host + auth + "Transfer-Encoding: chunked\r\n\r\n",
              "0\r\n\r\n", Plain, 400, true);
        shape("a chunk size with +", post + "Transfer-Encoding: chunked\r\n\r\n", "+5\r\nabcde\r\n0\r\n\r\n", Plain, 400, true);
        shape("a chunk size with 0x", post + "Transfer-Encoding: chunked\r\n\r\n", "0x5\r\nabcde\r\n0\r\n\r\n", Plain, 400, true);
        shape("a chunk without CRLF", post + "Transfer-Encoding: chunked\r\n\r\n", "5\r\nabcdeXX0\r\n\r\n", Plain, 400, true);
        shape("a chunk size past 64 bits", post + "Transfer-Encoding: chunked\r\n\r\n", "fffffffffffffffff\r\nab\r\n0\r\n\r\n",
              Plain, 413, true);
        shape("HTTP/1.9", "GET /api/status HTTP/1.9\r\n" + host + auth + "\r\n", {}, Plain, 400, true);
        shape("HTTP/2.0", "GET /api/status HTTP/2.0\r\n" + host + auth + "\r\n", {}, Plain, 505, true);
        shape("no Host", "GET /api/status HTTP/1.1\r\n" + auth + "\r\n", {}, Plain, 400, true);
        shape("two Hosts", "GET /api/status HTTP/1.1\r\n" + host + host + auth + "\r\n", {}, Plain, 400, true);
        shape("a space before the colon", post + "Content-Length : 24\r\n\r\n", text, Plain, 400, true);
        shape("a rebound name", "GET / HTTP/1.1\r\nHost: shop.attacker.example:8787\r\n\r\n", {}, Plain, 421, false);
        shape("a token, a huge declared body", post + "Content-Length: 1073741824\r\n\r\n", {}, Plain, 413, true);
        shape("no token, a huge declared body", "POST /api/say HTTP/1.1\r\n" + host + "Content-Length: 1073741824\r\n\r\n",
              {}, Plain, 401, true);
        shape("200 KB sent whole", post + "Content-Length: 204800\r\n\r\n", QByteArray(204800, 'a'), Plain, 413, true);
        shape("1 MB sent whole", post + "Content-Length: 1048576\r\n\r\n", QByteArray(1048576, 'a'), Plain, 413, true);
        shape("chunks past the limit", post + "Transfer-Encoding: chunked\r\n\r\n",
              "4000\r\n" + QByteArray(0x4000, 'a') + "\r\n4000\r\n" + QByteArray(0x4000, 'a') + "\r\n", Plain, 413, true);
        shape("100-continue with a token", post + length + "Expect: 100-continue\r\n\r\n", text, Continue, 202,
              false);
        shape("100-continue without a token",
              "POST /api/say HTTP/1.1\r\n" + host + "Content-Length: 24\r\nExpect: 100-continue\r\n\r\n", text, NoContinue,
              401, true);
        shape("100-continue, too large", post + "Content-Length: 3300000\r\nExpect: 100-continue\r\n\r\n", {}, NoContinue,
              413, true);
        shape("half-closed after the request", post + length + "\r\n", text, HalfClose, 202, true);
        shape("HEAD has the headers only", "HEAD /api/status HTTP/1.1\r\n" + host + auth + "\r\n", {}, Plain, 200, false);
    }
    void attacks()
    {
        QFETCH(int, flood);
        QFETCH(int, firstAddress);
        QFETCH(int, addresses);
        QFETCH(int, perAddress);
        QFETCH(bool, shopNetwork);
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, body);
        QFETCH(int, way);
        QFETCH(int, status);
        QFETCH(bool, closes);
        if (shopNetwork) {
            QVERIFY(m_window->Remote()->Start(0, true, m_token));
            m_port = m_window->Remote()->Port();
        }
        const qint64 logBefore = QFileInfo(QString::fromLocal8Bit(LogFile::Path())).size();
        QTest::qWait(1100); // a fresh second for the rate limits
        if (flood != int(Flood::None)) {
            Attack attack(Flood(flood), m_port, firstAddress, addresses, perAddress);
            QTest::qWait(1500); // the floods at full strength
            for (int i = 0; i < 5; ++i) {
                const Exchange till = OffThread([this] {
                    return Talk(m_port, "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + m_token
                                            + "\r\n\r\n");
                });
                QVERIFY2(till.status == 200 && till.ms < 1000,
                         qPrintable(QStringLiteral("till answered %1 after %2 ms").arg(till.status).arg(till.ms)));
                QTest::qWait(150);
            }
        } else {
            const Exchange answer = OffThread([&] { return Talk(m_port, head, body, Way(way)); });
            QVERIFY2(answer.status == status, answer.bytes.left(300).constData());
            QCOMPARE(answer.closed, closes);
            if (way == NoContinue)
                QVERIFY(!answer.bytes.contains("100 Continue"));
            if (head.startsWith("HEAD"))
                QVERIFY2(answer.bytes.endsWith("\r\n\r\n"), answer.bytes.constData());
            const Exchange till = OffThread([this] {
                return Talk(m_port, "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + m_token
                                        + "\r\n\r\n");
            });
            QCOMPARE(till.status, 200);
        }
        // The log holds what the till did, not the strangers' refusals.
        QFile log(QString::fromLocal8Bit(LogFile::Path()));
        QVERIFY(log.open(QIODevice::ReadOnly));
        log.seek(qMin(logBefore, log.size()));
        const QByteArray added = log.readAll();
        QVERIFY2(!added.contains(": 401") && !added.contains(": 429") && !added.contains(": 421"), added.right(500).constData());
        if (shopNetwork) {
            QVERIFY(m_window->Remote()->Start(0, false, m_token));
            m_port = m_window->Remote()->Port();
        }
    }

    // What may wait to be spoken from here is bounded; texts are counted
    // in characters, not UTF-16 units; a NUL is refused.
    void waitingAndCounting()
    {
        QTest::qWait(1100);
        const QString emoji = QString::fromUtf8("😀");
        QCOMPARE(Paced("POST", "/api/say", "{\"text\": \"" + emoji.repeated(2001).toUtf8() + "\"}").status, 422);
        QCOMPARE(Paced("POST", "/api/say", "{\"text\": \"" + emoji.repeated(2000).toUtf8() + "\"}").status, 202);
        QCOMPARE(Paced("POST", "/api/say", "{\"text\": \"a\\u0000b\"}").status, 400);
        QCOMPARE(Paced("POST", "/api/say", "{\"text\": \"" + QByteArray("W").repeated(2000) + "\"}").status, 422);
        int accepted = 0, refused = 0;
        QTest::qWait(1100);
        // The worker busy with a long wait: what is sent now waits.
        m_shop->Speech()->From(Announcer::Timer)->Request(0, 1, QStringLiteral("8000"), false);
        for (int i = 0; i < RemoteTexts::kMaxWaitingTexts + 3; ++i) {
            const int status = Ask("POST", "/api/say", QStringLiteral("{\"text\": \"请%1号收银台支援\"}").arg(i).toUtf8()).status;
            accepted += status == 202;
            refused += status == 429;
        }
        QVERIFY2(refused >= 1 && accepted <= RemoteTexts::kMaxWaitingTexts + 1,
                 qPrintable(QStringLiteral("%1 accepted, %2 refused").arg(accepted).arg(refused)));
    }

    void offMeansClosed()
    {
        m_window->Remote()->Stop();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(!socket.waitForConnected(3000));
    }
};

QTEST_MAIN(TestRemote)
#include "tst_remote.moc"

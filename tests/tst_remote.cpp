#include "app/Parlivo.h"
#include "speech/Announcer.h"
#include "modes/PriceMode.h"
#include "app/RemoteControl.h"
#include "settings/Settings.h"
#include "speech/Speake.h"
#include "core/SettingsValues.h"
#include "DaySimulation.h"
#include "TestEnvironment.h"
#include "core/RemoteAccess.h"
#include "modes/SimplePlay.h"
#include "modes/TimerMode.h"

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

#include <memory>

namespace {

struct Answer
{
    int status = 0;
    QJsonObject body;
};

} // namespace

class TestRemote : public QObject
{
    Q_OBJECT

private:
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
        Settings::UseFilePath(IsolateUserDirs().path() + "/settings.xml");
        QVERIFY(QDir::setCurrent(IsolateUserDirs().path()));
        m_window = std::make_unique<Parlivo>();
        m_token = RemoteControl::Token();
        QCOMPARE(m_token.size(), 64);
        QCOMPARE(QFileInfo(RemoteControl::TokenFilePath()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
        QVERIFY(m_window->Remote()->Start(0, false, m_token));
        m_port = m_window->Remote()->Port();
        QVERIFY(m_port != 0);
    }
    void cleanupTestCase() { m_window.reset(); }

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
        const int queued = m_window->Worker()->QueueLength();
        const Answer answer = Paced(method, path, body, token);
        QCOMPARE(answer.status, status);
        QVERIFY(answer.body.contains("error"));
        QCOMPARE(m_window->Worker()->QueueLength(), queued); // nothing happened
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
        const QString file = list == "word" ? SimplePlay::FilePath() : list == "price" ? PriceMode::FilePath() : TimerMode::FilePath();
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
        Clock::Set(nullptr);

        const QList<RemoteAccess::Device> devices = RemoteAccess::Devices(Settings::Folder());
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices[0].name, QStringLiteral("收银台"));
        QVERIFY(!ReadFile(RemoteAccess::DevicesFile(Settings::Folder())).contains(phone));
        QVERIFY(RemoteAccess::Revoke(Settings::Folder(), devices[0].id));
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

    // Strangers on the shop's network cannot take the interface from the
    // token holder: idle connections, a huge declared body, a flood
    // without a token.
    void attacks()
    {
        QTest::qWait(1100);
        const QByteArray auth = "Authorization: Bearer " + m_token + "\r\n";
        // Idle connections beyond the cap hold no descriptor of ours; the
        // idle ones are closed after a few seconds and the holder is served.
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < RemoteControl::kMaxConnections + 20; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, m_port);
        }
        QTest::qWait(200);
        QCOMPARE(Raw("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth + "Connection: close\r\n\r\n"), 200);
        idle.clear();
        // A huge body is refused from its declared length, with or without a token.
        QByteArray answer;
        QCOMPARE(Raw("POST /api/say HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 1073741824\r\n\r\n", &answer), 401);
        QCOMPARE(Raw("POST /api/say HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth + "Content-Length: 1073741824\r\n\r\n"), 413);
        QCOMPARE(Raw("POST /api/say HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth
                     + "Transfer-Encoding: chunked\r\n\r\n4000\r\n" + QByteArray(0x4000, 'a') + "\r\n4000\r\n"
                     + QByteArray(0x4000, 'a') + "\r\n"),
                 413);
        // A flood without a token does not use up the holder's allowance.
        QTest::qWait(1100);
        for (int i = 0; i < 30; ++i)
            Raw("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        QCOMPARE(Raw("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth + "Connection: close\r\n\r\n"), 200);
        // HEAD has the headers only.
        QCOMPARE(Raw("HEAD /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth + "Connection: close\r\n\r\n", &answer), 200);
        QVERIFY2(answer.endsWith("\r\n\r\n"), answer.constData());
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
        m_window->Speech()->From(Announcer::Timer)->Request(0, 1, QStringLiteral("8000"), false);
        for (int i = 0; i < RemoteControl::kMaxWaitingTexts + 3; ++i) {
            const int status = Ask("POST", "/api/say", QStringLiteral("{\"text\": \"请%1号收银台支援\"}").arg(i).toUtf8()).status;
            accepted += status == 202;
            refused += status == 429;
        }
        QVERIFY2(refused >= 1 && accepted <= RemoteControl::kMaxWaitingTexts + 1,
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

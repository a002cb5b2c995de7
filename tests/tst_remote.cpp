#include "Parlivo.h"
#include "PriceMode.h"
#include "RemoteControl.h"
#include "Settings.h"
#include "Speake.h"
#include "SettingsValues.h"
#include "TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
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
        m_port = m_window->Remote()->servers().value(0)->serverPort();
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

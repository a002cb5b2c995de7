#include "app/Parlivo.h"
#include "core/AppPaths.h"
#include "app/RemoteControl.h"
#include "core/RemoteAccess.h"
#include "core/SettingsValues.h"
#include "settings/Settings.h"
#include "shop/Shop.h"
#include "shop/ShopSettings.h"
#include "shop/WordListModel.h"
#include "speech/Announcer.h"
#include "speech/SpeechCache.h"
#include "DaySimulation.h"
#include "TestEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QtTest>

#include <memory>

// The phone page in a real browser (Debian's chromium, driven through
// chromedriver's WebDriver interface) against the running interface on
// loopback: pairing with a code, a tapped row spoken, a used or expired
// code refused, a revoked phone refused.
class TestPhone : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Shop> m_shop;
    std::unique_ptr<Parlivo> m_window;
    QNetworkAccessManager m_net;
    QProcess m_driver;
    QString m_driverUrl;
    QString m_session;
    quint16 m_port = 0;
    QTemporaryDir m_profile;

    // One WebDriver command; the "value" of its answer.
    QJsonValue Wd(const QByteArray &method, const QString &path, const QJsonObject &body = {})
    {
        QNetworkRequest request(QUrl(m_driverUrl + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        const QByteArray bytes = method == "GET" || method == "DELETE" ? QByteArray() : QJsonDocument(body).toJson();
        std::unique_ptr<QNetworkReply> reply(m_net.sendCustomRequest(request, method, bytes));
        QEventLoop loop; // the window's interface answers the browser meanwhile
        connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit); // a hang guard
        loop.exec();
        return QJsonDocument::fromJson(reply->readAll()).object().value("value");
    }
    QString Session(const QString &path) const { return "/session/" + m_session + path; }
    void Open(const QString &url)
    {
        Wd("POST", Session("/url"), {{"url", "about:blank"}});
        Wd("POST", Session("/url"), {{"url", url}});
    }
    QJsonValue Run(const QString &script)
    {
        return Wd("POST", Session("/execute/sync"), {{"script", script}, {"args", QJsonArray()}});
    }
    QString Element(const QString &css)
    {
        const QJsonObject found = Wd("POST", Session("/element"), {{"using", "css selector"}, {"value", css}}).toObject();
        return found.isEmpty() ? QString() : found.begin().value().toString();
    }
    void Click(const QString &css) { Wd("POST", Session("/element/" + Element(css) + "/click")); }
    void Type(const QString &css, const QString &text)
    {
        const QString element = Element(css);
        Wd("POST", Session("/element/" + element + "/clear"));
        Wd("POST", Session("/element/" + element + "/value"), {{"text", text}});
    }
    QString Message() { return Run("return document.getElementById('message').textContent;").toString(); }
    QString PageUrl(const QString &code) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(code.isEmpty() ? QString() : "#pair=" + code);
    }

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        ShopSettings::UseFilePath(IsolateUserDirs().path() + "/settings.xml");
        QVERIFY(QDir::setCurrent(IsolateUserDirs().path()));
        QDir().mkpath(AppPaths::DataDir());
        QVERIFY(WriteFile(WordListModel::FilePath(),
                          "<records recycle=\"false\"><record>请3号收银台支援</record><record>延时5秒</record></records>"));
        m_shop = std::make_unique<Shop>();
        m_window = std::make_unique<Parlivo>(m_shop.get());
        QVERIFY(m_window->Remote()->Start(0, false, RemoteControl::Token()));
        m_port = m_window->Remote()->Port();

        const QString driver = QStandardPaths::findExecutable("chromedriver");
        const QString browser = QStandardPaths::findExecutable("chromium");
        QVERIFY2(!driver.isEmpty() && !browser.isEmpty(), "chromium and chromium-driver are needed (tools/setup.sh installs them)");
        QTcpServer probe; // a free port for the driver
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        m_driverUrl = QStringLiteral("http://127.0.0.1:%1").arg(port);
        m_driver.start(driver, {QStringLiteral("--port=%1").arg(port)});
        QVERIFY(m_driver.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(Wd("GET", "/status").toObject().value("ready").toBool(), 30000);
        const QJsonObject chrome{{"binary", browser},
                                 {"args", QJsonArray{"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                                                     "--window-size=412,915", "--user-data-dir=" + m_profile.path()}}};
        const QJsonObject session =
            Wd("POST", "/session", {{"capabilities", QJsonObject{{"alwaysMatch", QJsonObject{{"goog:chromeOptions", chrome}}}}}})
                .toObject();
        m_session = session.value("sessionId").toString();
        QVERIFY2(!m_session.isEmpty(), QJsonDocument(session).toJson().constData());
    }
    void cleanupTestCase()
    {
        if (!m_session.isEmpty())
            Wd("DELETE", Session(QString()));
        m_driver.kill();
        m_driver.waitForFinished(10000);
        m_window.reset();
        m_shop.reset();
    }

    void pairTapAndRevoke()
    {
        // Paired with the code of the QR address; the word list's rows
        // become buttons (a wait is none).
        const QString code = RemoteAccess::NewPairingCode();
        Open(PageUrl(code));
        Type("#pair-name", QStringLiteral("前台手机"));
        Click("#pair-button");
        QTRY_VERIFY_WITH_TIMEOUT(!Run("return document.getElementById('controls').hidden;").toBool(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(Run("return document.querySelectorAll('#rows button').length;").toInt(), 1, 30000);
        const QString folder = ShopSettings::Folder();
        QCOMPARE(RemoteAccess::Devices(folder).value(0).name, QStringLiteral("前台手机"));
        QVERIFY(!Run("return location.hash;").toString().contains(code)); // the used code leaves the address

        // A tap: the row is spoken.
        QSignalSpy spoken(m_shop->Speech()->From(Announcer::Remote), &SpeechSource::Spoken);
        Click("#rows button");
        QTRY_VERIFY_WITH_TIMEOUT(!spoken.isEmpty(), 60000);
        QVERIFY(spoken.first().at(1).toBool());
        QVERIFY(QFile::exists(SpeechCache::PathFor(QStringLiteral("请3号收银台支援"))));

        // The same code again, and a code past its ten minutes: refused.
        Open(PageUrl(code));
        Click("#pair-button");
        QTRY_VERIFY_WITH_TIMEOUT(Message().contains(QStringLiteral("配对码不对")), 30000);
        SimulatedClock clock;
        Clock::Set(&clock);
        const QString late = RemoteAccess::NewPairingCode();
        clock.ms += RemoteAccess::kPairingMinutes * 60000 + 1000;
        Open(PageUrl(late));
        Click("#pair-button");
        QTRY_VERIFY_WITH_TIMEOUT(Message().contains(QStringLiteral("配对码不对")), 30000);
        Clock::Set(nullptr);
        QCOMPARE(RemoteAccess::Devices(folder).size(), 1);

        // Revoked in the settings tab: the phone is refused and asked to pair again.
        QVERIFY(RemoteAccess::Revoke(folder, RemoteAccess::Devices(folder).value(0).id));
        Open(PageUrl(QString()));
        QTRY_VERIFY2_WITH_TIMEOUT(Message().contains(QStringLiteral("撤销")), qPrintable(Message() + " / " + Run("return document.location.href + localStorage.getItem(\"parlivo-token\");").toString()), 30000);
        QVERIFY(!Run("return document.getElementById('pairing').hidden;").toBool());
    }
};

QTEST_MAIN(TestPhone)
#include "tst_phone.moc"

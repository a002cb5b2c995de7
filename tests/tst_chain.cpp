// The chain link against a real Mosquitto broker on loopback, with
// head office played by Mosquitto's own clients.
#include "app/ChainLink.h"
#include "shop/PlayLog.h"
#include "TestBroker.h"
#include "TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include <tinyxml.h>

#include <map>
#include <memory>

namespace {

constexpr int kGuardMs = 30000; // hang guards only

QByteArray Say(const QString &id, const QString &text, const QDateTime &notAfter = QDateTime())
{
    QJsonObject o{{"id", id}, {"text", text}};
    if (notAfter.isValid())
        o.insert("not_after", notAfter.toOffsetFromUtc(8 * 3600).toString(Qt::ISODate));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// A shop as far as the chain sees it: its link, its play log and what it heard.
struct Shop
{
    Shop(const QString &folder, const ChainConfig &config)
        : config(config), log(std::make_unique<PlayLog>(folder + "/" + config.shop + ".sqlite")),
          link(std::make_unique<ChainLink>(log.get()))
    {
        Wire();
    }
    void Wire()
    {
        QObject::connect(link.get(), &ChainLink::SayReceived, link.get(),
                         [this](const QString &id, const QString &) { said << id; });
        QObject::connect(link.get(), &ChainLink::ListReceived, link.get(),
                         [this](const QString &kind, const QByteArray &json) { lists << kind + ":" + json; });
        QObject::connect(link.get(), &ChainLink::LinkRefused, link.get(), [this](const QString &why) { refusals << why; });
    }
    bool WaitOnline() const
    {
        QDeadlineTimer guard(kGuardMs);
        while (link->CurrentState() != ChainLink::State::Online && !guard.hasExpired())
            QTest::qWait(10);
        return link->CurrentState() == ChainLink::State::Online;
    }
    ChainConfig config;
    std::unique_ptr<PlayLog> log;
    std::unique_ptr<ChainLink> link;
    QStringList said;
    QStringList lists;
    QStringList refusals;
};

// Lines "topic payload" a mosquitto_sub has printed, gathered as they come.
struct Reader
{
    explicit Reader(std::unique_ptr<QProcess> process) : process(std::move(process)) {}
    ~Reader()
    {
        process->terminate();
        process->waitForFinished(10000);
    }
    QList<QJsonObject> On(const QString &topicEnd)
    {
        lines += QString::fromUtf8(process->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QList<QJsonObject> found;
        for (const QString &line : lines) {
            const int space = line.indexOf(' ');
            if (line.left(space).endsWith(topicEnd))
                found << QJsonDocument::fromJson(line.mid(space + 1).toUtf8()).object();
        }
        return found;
    }
    std::unique_ptr<QProcess> process;
    QStringList lines;
};

QStringList Ids(const QList<QJsonObject> &objects, const char *key)
{
    QStringList ids;
    for (const QJsonObject &o : objects)
        ids << o.value(key).toVariant().toString();
    return ids;
}

} // namespace

class TestChain : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    TestBroker m_broker;

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        QVERIFY(m_broker.Make());
        QVERIFY(m_broker.Start());
    }

    // settings.xml holds only the chain attributes that are set (none for
    // a shop without a chain); addresses and topic levels are checked; the
    // password stays in an owner-only file.
    void configuration_data()
    {
        QTest::addColumn<QString>("attributes"); // of the settings root
        QTest::addColumn<QString>("problem");    // what Check() names, empty when usable
        QTest::addColumn<QString>("address");    // host:port:tls
        QTest::newRow("no chain") << "" << "broker" << "";
        QTest::newRow("plain") << R"(chainBroker="mqtt://10.0.0.5" chainShop="S001")" << "" << "10.0.0.5:1883:0";
        QTest::newRow("tls, all set")
            << R"(chainBroker="mqtts://hq.example.cn:8884" chainShop="S001" chainUser="S001" chainCaFile="/etc/ca.crt" chainGroups="east,beijing" chainPrefix="acme/parlivo")"
            << "" << "hq.example.cn:8884:1";
        QTest::newRow("tls default port") << R"(chainBroker="mqtts://hq.example.cn" chainShop="S1")" << "" << "hq.example.cn:8883:1";
        QTest::newRow("another scheme") << R"(chainBroker="http://hq.example.cn" chainShop="S1")" << "broker" << "";
        QTest::newRow("a path") << R"(chainBroker="mqtt://hq/x" chainShop="S1")" << "broker" << "";
        QTest::newRow("wildcard shop") << R"(chainBroker="mqtt://hq" chainShop="S#")" << "shop id" << "hq:1883:0";
        QTest::newRow("slash in a group") << R"(chainBroker="mqtt://hq" chainShop="S1" chainGroups="east,a/b")" << "group" << "hq:1883:0";
        QTest::newRow("plus in the prefix") << R"(chainBroker="mqtt://hq" chainShop="S1" chainPrefix="p+")" << "prefix" << "hq:1883:0";
    }
    void configuration()
    {
        QFETCH(QString, attributes);
        QFETCH(QString, problem);
        QFETCH(QString, address);
        const QByteArray xml = "<Settings yusheng=\"xf_xiaoyan\"" + (attributes.isEmpty() ? QByteArray() : " " + attributes.toUtf8()) + " />";
        TiXmlDocument doc;
        doc.Parse(xml.constData());
        ChainConfig config;
        config.ReadXml(*doc.RootElement());
        QString why;
        QCOMPARE(config.Check(&why), problem.isEmpty());
        QVERIFY2(problem.isEmpty() ? why.isEmpty() : why.startsWith(problem), qPrintable(why));
        ChainConfig::Address parsed;
        if (config.ParseBroker(&parsed))
            QCOMPARE(QString("%1:%2:%3").arg(parsed.host).arg(parsed.port).arg(parsed.tls), address);
        TiXmlElement written("Settings");
        written.SetAttribute("yusheng", "xf_xiaoyan");
        config.WriteXml(&written);
        TiXmlPrinter printer;
        written.Accept(&printer);
        QCOMPARE(QByteArray(printer.CStr()).trimmed(), xml);
    }

    void passwordFile()
    {
        const QString folder = m_dir.filePath("settings");
        ChainConfig config;
        QVERIFY(!config.ReadPassword(folder));
        QVERIFY(ChainConfig::WritePassword(folder, "s3cret\n"));
        const QString path = ChainConfig::PasswordPath(folder);
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFile::permissions(path) & (others | QFile::ReadOwner), QFile::ReadOwner);
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadOther));
        QVERIFY(config.ReadPassword(folder));
        QCOMPARE(config.password, QByteArray("s3cret"));
        QCOMPARE(QFile::permissions(path) & others, QFile::Permissions()); // made owner-only again
    }

    // Says to all, to a group and to one shop reach exactly the shops they
    // name, each once although one is published twice; a marker to all
    // published last proves nothing else is still on its way.
    void saysReachTheRightShopsOnce()
    {
        Shop a(m_dir.path(), m_broker.Config("S001", {"east", "beijing"}));
        Shop b(m_dir.path(), m_broker.Config("S002", {"east"}));
        Shop c(m_dir.path(), m_broker.Config("S003", {"west"}));
        for (Shop *shop : {&a, &b, &c}) {
            QVERIFY(shop->link->Start(shop->config));
            QVERIFY(shop->WaitOnline());
        }
        QVERIFY(m_broker.WaitForLog("SUBACK to parlivo-S003"));
        const struct
        {
            const char *topic;
            const char *id;
        } sent[] = {
            {"parlivo/say/all", "all-1"},        {"parlivo/say/group/east", "east-1"},
            {"parlivo/say/group/beijing", "bj-1"}, {"parlivo/say/shop/S003", "s3-1"},
            {"parlivo/say/group/east", "east-1"}, // delivered again: spoken once
            {"parlivo/say/shop/S009", "other-1"}, {"parlivo/say/all", "end"},
        };
        for (const auto &say : sent)
            QVERIFY(m_broker.Publish(say.topic, Say(say.id, "各位顾客，本店今天全场九折。")));
        const std::map<Shop *, QStringList> expected{{&a, {"all-1", "east-1", "bj-1", "end"}},
                                                     {&b, {"all-1", "east-1", "end"}},
                                                     {&c, {"all-1", "s3-1", "end"}}};
        for (const auto &[shop, ids] : expected) {
            QTRY_VERIFY_WITH_TIMEOUT(shop->said.contains("end"), kGuardMs);
            QCOMPARE(shop->said, ids);
        }
    }

    // A shop off while messages are sent, one expiring meanwhile: back on,
    // it takes the live ones once and reports the expired one on its
    // events, unspoken; ids taken stay taken across a restart of the shop.
    void messagesWaitWhileTheShopIsOff()
    {
        Reader events(m_broker.Subscribe("office-events", {"parlivo/shop/S004/events"}));
        QVERIFY(m_broker.WaitForLog("SUBACK to office-events"));
        auto shop = std::make_unique<Shop>(m_dir.path(), m_broker.Config("S004", {"east"}));
        QVERIFY(shop->link->Start(shop->config));
        QVERIFY(shop->WaitOnline());
        QVERIFY(m_broker.WaitForLog("SUBACK to parlivo-S004"));
        shop->link->Stop();
        QVERIFY(m_broker.WaitForLog("Received DISCONNECT from parlivo-S004")); // offline said, no last will

        const QDateTime soon = QDateTime::currentDateTime().addSecs(2);
        QVERIFY(m_broker.Publish("parlivo/say/all", Say("live-1", "十五分钟后闭店。")));
        QVERIFY(m_broker.Publish("parlivo/say/shop/S004", Say("soon-gone", "限时特价。", soon)));
        QVERIFY(m_broker.Publish("parlivo/say/group/east", Say("live-2", "新鲜草莓到货。", soon.addSecs(3600))));
        QVERIFY(m_broker.Publish("parlivo/say/shop/S004", R"({"id":"blank-1","text":" "})"));
        QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTime() > soon, kGuardMs);

        QVERIFY(shop->link->Start(shop->config));
        QTRY_VERIFY_WITH_TIMEOUT(events.On("/events").size() == 2, kGuardMs);
        QTRY_COMPARE_WITH_TIMEOUT(shop->said, QStringList({"live-1", "live-2"}), kGuardMs);
        const QJsonObject expired = events.On("/events")[0], refused = events.On("/events")[1];
        QCOMPARE(expired.value("event").toString(), QString("expired"));
        QCOMPARE(expired.value("id").toString(), QString("soon-gone"));
        QCOMPARE(expired.value("shop").toString(), QString("S004"));
        QCOMPARE(refused.value("event").toString(), QString("refused"));
        QCOMPARE(refused.value("id").toString(), QString("blank-1"));
        QVERIFY(refused.value("reason").toString().contains("blank"));

        // The shop restarts (a new log on the same file); a late second
        // delivery of a taken id is not spoken again.
        const ChainConfig config = shop->config;
        shop.reset();
        shop = std::make_unique<Shop>(m_dir.path(), config);
        QVERIFY(shop->link->Start(config));
        QVERIFY(shop->WaitOnline());
        QVERIFY(m_broker.Publish("parlivo/say/all", Say("live-1", "十五分钟后闭店。")));
        QVERIFY(m_broker.Publish("parlivo/say/all", Say("end-2", "谢谢。")));
        QTRY_COMPARE_WITH_TIMEOUT(shop->said, QStringList({"end-2"}), kGuardMs);
        QCOMPARE(events.On("/events").size(), 2);
    }

    // The broker goes down mid-day: the link comes back by itself and the
    // records made meanwhile reach head office, every one exactly once.
    void playedRecordsSurviveABrokerRestart()
    {
        Reader played(m_broker.Subscribe("office-played", {"parlivo/shop/S005/played"}));
        QVERIFY(m_broker.WaitForLog("SUBACK to office-played"));
        Shop shop(m_dir.path(), m_broker.Config("S005", {}));
        QSignalSpy states(shop.link.get(), &ChainLink::LinkStateChanged);
        QVERIFY(shop.link->Start(shop.config));
        QVERIFY(shop.WaitOnline());
        const QDateTime now = QDateTime::currentDateTime();
        shop.log->Record("", "欢迎光临。", "word", now, now.addSecs(3));
        QTRY_COMPARE_WITH_TIMEOUT(played.On("/played").size(), 1, kGuardMs);

        m_broker.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(shop.link->CurrentState() == ChainLink::State::Offline, kGuardMs);
        shop.log->Record("", "苹果三块五一斤。", "price", now.addSecs(10), now.addSecs(13));
        shop.log->Record("m-7", "十五分钟后闭店。", "chain", now.addSecs(20), now.addSecs(24));
        QVERIFY(m_broker.Start());
        QVERIFY(shop.WaitOnline());
        QTRY_COMPARE_WITH_TIMEOUT(played.On("/played").size(), 3, kGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(shop.log->Unpublished(10).isEmpty(), kGuardMs);
        // One more after the outbox is empty marks the end of the stream.
        shop.log->Record("", "谢谢。", "timer", now.addSecs(30), now.addSecs(31));
        QTRY_COMPARE_WITH_TIMEOUT(played.On("/played").size(), 4, kGuardMs);
        const QList<QJsonObject> records = played.On("/played");
        QCOMPARE(Ids(records, "record"), QStringList({"1", "2", "3", "4"}));
        QCOMPARE(records[2].value("id").toString(), QString("m-7"));
        QCOMPARE(records[2].value("source").toString(), QString("chain"));
        QCOMPARE(QDateTime::fromString(records[1].value("started").toString(), Qt::ISODateWithMs), now.addSecs(10));
        QVERIFY(states.count() >= 4); // connecting, online, offline, online
    }

    // Retained lists for all, a group and one shop: the most specific one
    // is handed on, the others only when it goes; a shop elsewhere keeps
    // the list for all.
    void theMostSpecificListWins()
    {
        Shop a(m_dir.path(), m_broker.Config("S006", {"east", "beijing"}));
        Shop b(m_dir.path(), m_broker.Config("S007", {"west"}));
        for (Shop *shop : {&a, &b}) {
            QVERIFY(shop->link->Start(shop->config));
            QVERIFY(shop->WaitOnline());
        }
        QVERIFY(m_broker.WaitForLog("SUBACK to parlivo-S007"));
        const struct
        {
            const char *scope;
            const char *payload; // empty: the retained list cleared
            const char *a;       // what shop a is handed ("" nothing)
            const char *b;
        } steps[] = {
            {"all", R"({"loop":false,"rows":[{"text":"all"}]})", "all", "all"},
            {"group/east", R"({"loop":false,"rows":[{"text":"east"}]})", "east", ""},
            {"group/beijing", R"({"loop":false,"rows":[{"text":"beijing"}]})", "beijing", ""},
            {"all", R"({"loop":true,"rows":[{"text":"all"}]})", "", "all"},
            {"shop/S006", R"({"loop":false,"rows":[{"text":"S006"}]})", "S006", ""},
            {"shop/S006", "", "beijing", ""},
        };
        auto texts = [](const QStringList &lists) {
            QStringList texts;
            for (const QString &list : lists)
                texts << QJsonDocument::fromJson(list.mid(5).toUtf8()).object()["rows"][0]["text"].toString();
            return texts;
        };
        QStringList wantA, wantB;
        for (const auto &step : steps) {
            QVERIFY(m_broker.Publish(QString("parlivo/lists/word/") + step.scope, step.payload, true));
            if (*step.a)
                wantA << step.a;
            if (*step.b)
                wantB << step.b;
            // Each step is awaited, so one list never hides another; a list
            // handed on wrongly shows in a later step's comparison.
            QTRY_COMPARE_WITH_TIMEOUT(texts(a.lists), wantA, kGuardMs);
            QTRY_COMPARE_WITH_TIMEOUT(texts(b.lists), wantB, kGuardMs);
        }
        QVERIFY(b.lists[1].contains("\"loop\":true"));
        QVERIFY(b.lists[1].startsWith("word:"));
        for (const char *scope : {"all", "group/east", "group/beijing"})
            QVERIFY(m_broker.Publish(QString("parlivo/lists/word/") + scope, "", true));
    }

    // A wrong password and an untrusted certificate: the link keeps trying
    // (the broker sees several attempts) but tells each only once; the
    // right CA connects over TLS.
    void refusalsAreToldOnce_data()
    {
        QTest::addColumn<QString>("shop");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("caFile");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("attempt"); // a broker log line of each attempt
        QTest::addColumn<QString>("told");
        QTest::newRow("wrong password") << "S010" << false << QString() << QByteArray("wrong")
                                        << QByteArray("disconnected, not authorised") << "用户名或密码错误";
        QTest::newRow("untrusted certificate") << "S011" << true << "other.crt" << QByteArray(TestBroker::kShopPassword)
                                               << QByteArray("OpenSSL Error") << "证书不受信任";
        QTest::newRow("trusted certificate") << "S012" << true << "ca.crt" << QByteArray(TestBroker::kShopPassword)
                                             << QByteArray() << QString();
    }

    void refusalsAreToldOnce()
    {
        QFETCH(QString, shop);
        QFETCH(bool, tls);
        QFETCH(QString, caFile);
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, attempt);
        QFETCH(QString, told);
        ChainConfig config = m_broker.Config(shop, {}, tls, tls ? m_broker.Path(caFile) : QString());
        config.password = password;
        Shop s(m_dir.path(), config);
        const int before = m_broker.Log().count(attempt);
        QVERIFY(s.link->Start(config));
        if (told.isEmpty()) {
            QVERIFY(s.WaitOnline());
            QVERIFY(s.refusals.isEmpty());
            return;
        }
        QVERIFY2(m_broker.WaitForLog(attempt, before + 2), m_broker.Log().right(1500).constData());
        QTRY_COMPARE_WITH_TIMEOUT(s.refusals.size(), 1, kGuardMs);
        QVERIFY2(s.refusals[0].contains(told), qPrintable(s.refusals[0]));
        QVERIFY(s.link->CurrentState() != ChainLink::State::Online);
    }

    // Two shops without a window, in different groups, as head office
    // reaches them: a say to a group is heard by that group's shop alone,
    // a say to one shop by that shop alone, a message delivered twice once;
    // what each heard comes back on its played topic with the message id.
    void headlessShopsHearWhatIsTheirs()
    {
        struct Box
        {
            QString root;
            std::unique_ptr<QProcess> process;
        };
        auto start = [this](const QString &shop, const QString &group) {
            Box box{m_dir.filePath(shop), std::make_unique<QProcess>()};
            QDir().mkpath(box.root + "/bin");
            QFile::copy(QCoreApplication::applicationDirPath() + "/parlivo", box.root + "/bin/parlivo");
            QFile::setPermissions(box.root + "/bin/parlivo", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            WriteFile(box.root + "/bin/settings.xml",
                      QStringLiteral("<settings yusheng=\"xf_xiaoyan\" speed=\"6\" volume=\"10\" "
                                     "chainBroker=\"mqtt://127.0.0.1:%1\" chainShop=\"%2\" chainGroups=\"%3\" "
                                     "chainUser=\"shop\"/>")
                          .arg(m_broker.Port())
                          .arg(shop, group)
                          .toUtf8());
            WriteFile(box.root + "/bin/chain-password", TestBroker::kShopPassword);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                env.remove(QString::fromLatin1(name));
            env.insert("XDG_DATA_HOME", box.root + "/data");
            env.insert("XDG_CACHE_HOME", box.root + "/cache");
            env.insert("XDG_CONFIG_HOME", box.root + "/config");
            env.insert("SDL_AUDIODRIVER", "dummy");
            box.process->setProcessEnvironment(env);
            box.process->start(box.root + "/bin/parlivo", {"--headless", "--no-timer"});
            return box;
        };
        auto reader = m_broker.Subscribe("head-played", {"parlivo/shop/+/played", "parlivo/shop/+/status"});
        Box east = start("E1", "east"), west = start("W1", "west");
        QByteArray seen;
        auto wait = [&](const QByteArray &needle) {
            for (int i = 0; i < 600 && !seen.contains(needle); ++i) {
                QTest::qWait(100);
                seen += reader->readAllStandardOutput();
            }
            return seen.contains(needle);
        };
        QVERIFY2(wait("parlivo/shop/E1/status"), seen);
        QVERIFY2(wait("parlivo/shop/W1/status"), seen);
        QVERIFY(m_broker.Publish("parlivo/say/group/east", R"({"id": "m1", "text": "东区门店请注意"})"));
        QVERIFY(m_broker.Publish("parlivo/say/group/east", R"({"id": "m1", "text": "东区门店请注意"})"));
        QVERIFY(m_broker.Publish("parlivo/say/shop/W1", R"({"id": "m2", "text": "西区一号店请注意"})"));
        QVERIFY(m_broker.Publish("parlivo/say/shop/E1", R"({"id": "m3", "text": "东区一号店请注意"})"));
        QVERIFY2(wait("\"id\":\"m3\""), seen);
        QVERIFY2(wait("\"id\":\"m2\""), seen);
        const QList<QByteArray> lines = seen.split('\n');
        auto count = [&lines](const char *shop, const char *id) {
            int n = 0;
            for (const QByteArray &line : lines)
                n += line.startsWith(QByteArray("parlivo/shop/") + shop + "/played")
                     && line.contains(QByteArray("\"id\":\"") + id + "\"");
            return n;
        };
        QCOMPARE(count("E1", "m1"), 1);
        QCOMPARE(count("E1", "m3"), 1);
        QCOMPARE(count("E1", "m2"), 0);
        QCOMPARE(count("W1", "m2"), 1);
        QCOMPARE(count("W1", "m1"), 0);
        QCOMPARE(count("W1", "m3"), 0);
        for (Box *box : {&east, &west}) {
            box->process->terminate();
            QVERIFY(box->process->waitForFinished(20000));
            QCOMPARE(box->process->exitCode(), 0);
        }
        reader->terminate();
        reader->waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestChain)
#include "tst_chain.moc"

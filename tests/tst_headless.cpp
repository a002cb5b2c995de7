#include "TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>

#include <memory>

// parlivo --headless started as a new user would on a box with no screen:
// no display variables, its settings beside a copy of the program, the
// sound captured on SDL's disk driver.
class TestHeadless : public QObject
{
    Q_OBJECT

private:
    QString m_root, m_bin, m_audio;
    QNetworkAccessManager m_net;

    static quint16 FreePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }
    void Prepare(QProcess *process, const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert("HOME", m_root);
        env.insert("XDG_DATA_HOME", m_root + "/data");
        env.insert("XDG_CACHE_HOME", m_root + "/cache");
        env.insert("XDG_CONFIG_HOME", m_root + "/config");
        env.insert("SDL_AUDIODRIVER", "disk");
        env.insert("SDL_DISKAUDIOFILE", m_audio);
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(m_root);
        process->start(m_bin + "/parlivo", arguments);
    }
    QByteArray Ask(const QByteArray &method, quint16 port, const QString &path, const QByteArray &token,
                   const QByteArray &body = {})
    {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)));
        request.setRawHeader("Authorization", "Bearer " + token);
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        std::unique_ptr<QNetworkReply> reply(m_net.sendCustomRequest(request, method, body));
        QSignalSpy done(reply.get(), &QNetworkReply::finished);
        done.wait(10000);
        return reply->readAll();
    }

private slots:
    void initTestCase()
    {
        m_root = IsolateUserDirs().path() + "/box";
        m_bin = m_root + "/bin";
        m_audio = m_root + "/heard.raw";
        QVERIFY(QDir().mkpath(m_bin));
        for (const char *program : {"parlivo", "tcloud_tts"})
            QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/" + program, m_bin + "/" + program));
        QFile::setPermissions(m_bin + "/parlivo", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // --help and --version answer; with the remote interface off the
    // program says so and ends with an error.
    void answersAndRefusals()
    {
        for (const QStringList &arguments : {QStringList{"--help"}, QStringList{"--version"}}) {
            QProcess process;
            Prepare(&process, arguments);
            QVERIFY(process.waitForFinished(10000));
            QCOMPARE(process.exitCode(), 0);
            QVERIFY(process.readAllStandardOutput().contains("parlivo"));
        }
        QVERIFY(WriteFile(m_bin + "/settings.xml", "<settings yusheng=\"xf_xiaoyan\" speed=\"6\" volume=\"10\"/>"));
        QProcess off;
        Prepare(&off, {"--headless"});
        QVERIFY(off.waitForFinished(15000));
        QVERIFY(off.exitCode() != 0);
        QVERIFY(QString::fromLocal8Bit(off.readAllStandardError()).contains(QStringLiteral("远程控制没有开启")));
    }

    // A text sent over HTTP is heard; a list put over HTTP is stored;
    // SIGTERM ends the program cleanly with the lists intact.
    void speaksOverHttpAndEndsCleanly()
    {
        const quint16 port = FreePort();
        QVERIFY(WriteFile(m_bin + "/settings.xml",
                          "<settings yusheng=\"xf_xiaoyan\" speed=\"6\" volume=\"10\" remote=\"1\" remotePort=\"1024\" "
                          "remoteLan=\"0\"/>"));
        QProcess box;
        Prepare(&box, {"--headless", "--port", QString::number(port), "--no-timer"});
        QVERIFY(box.waitForStarted(10000));
        QByteArray printed;
        QTRY_VERIFY_WITH_TIMEOUT((printed += box.readAllStandardOutput()).contains("http://127.0.0.1"), 20000);
        const QByteArray token = ReadFile(m_bin + "/remote-token").trimmed();
        QVERIFY(!token.isEmpty());

        const QByteArray said = Ask("POST", port, "/api/say", token, R"({"text": "请3号收银台支援"})");
        const int id = QJsonDocument::fromJson(said).object().value("id").toInt();
        QVERIFY2(id > 0, said);
        // Asked a few times a second, as a till would (the interface limits the rate).
        QByteArray state;
        for (int tries = 0; tries < 200 && !state.contains("\"spoken\":true"); ++tries) {
            QTest::qWait(300);
            state = Ask("GET", port, QStringLiteral("/api/say/%1").arg(id), token);
        }
        QVERIFY2(state.contains("\"spoken\":true"), state);
        // The shop's proof of play: the text heard, from outside, as JSON and CSV.
        QByteArray played;
        for (int tries = 0; tries < 50 && !played.contains("请3号收银台支援"); ++tries) {
            QTest::qWait(300);
            played = Ask("GET", port, "/api/played?from=" + QDate::currentDate().toString(Qt::ISODate), token);
        }
        QVERIFY2(played.contains("请3号收银台支援") && played.contains("\"source\":\"remote\""), played);
        QNetworkRequest csv(QUrl(QStringLiteral("http://127.0.0.1:%1/api/played?from=%2")
                                     .arg(port)
                                     .arg(QDate::currentDate().toString(Qt::ISODate))));
        csv.setRawHeader("Authorization", "Bearer " + token);
        csv.setRawHeader("Accept", "text/csv");
        std::unique_ptr<QNetworkReply> table(m_net.get(csv));
        QSignalSpy tableDone(table.get(), &QNetworkReply::finished);
        QVERIFY(tableDone.wait(10000));
        QVERIFY(table->header(QNetworkRequest::ContentTypeHeader).toString().startsWith("text/csv"));
        QVERIFY(QString::fromUtf8(table->readAll()).contains(QStringLiteral("请3号收银台支援")));
        const QByteArray put = Ask("PUT", port, "/api/lists/word", token,
                                   R"({"loop": false, "rows": [{"text": "总部的第一行"}, {"text": "延时5秒"}]})");
        QVERIFY2(put.contains("总部的第一行"), put);

        box.terminate(); // SIGTERM
        QVERIFY(box.waitForFinished(20000));
        QCOMPARE(box.exitStatus(), QProcess::NormalExit);
        QCOMPARE(box.exitCode(), 0);
        QVERIFY2(PeakOf(ReadFile(m_audio)) > 3000, "the text was not heard");
        const QByteArray words = ReadFile(m_root + "/data/Parlivo/Parlivo/SimpleMode.xml");
        QVERIFY2(words.contains("<record>总部的第一行</record>") && words.contains("<record>延时5秒</record>"), words);
    }
};

QTEST_MAIN(TestHeadless)
#include "tst_headless.moc"

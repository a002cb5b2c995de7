#pragma once

#include "shop/ChainConfig.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QCoreApplication>

#include <memory>

#include <unistd.h>

// A real Mosquitto broker on loopback for the chain tests and figures, in a
// folder of its own: a plain listener and a TLS one (a CA and a server
// certificate for 127.0.0.1 made with openssl), users from a password file
// made with mosquitto_passwd ("shop" for shops, "head" for head office),
// and persistence, so a restart keeps the sessions and their queues.
class TestBroker
{
public:
    static constexpr char kShopPassword[] = "shop-secret";
    static constexpr char kHeadPassword[] = "head-secret";

    ~TestBroker() { Stop(); }

    // Makes the certificates, the password file and the configuration.
    bool Make()
    {
        if (!m_dir.isValid())
            return false;
        m_port = FreePort();
        m_tlsPort = FreePort();
        const QString ext = Path("server.ext");
        QFile extFile(ext);
        if (!extFile.open(QIODevice::WriteOnly) || extFile.write("subjectAltName=IP:127.0.0.1\n") < 0)
            return false;
        extFile.close();
        const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        const bool made =
            Run("openssl", QStringList{"req", "-x509"} + ec + QStringList{"-keyout", Path("ca.key"), "-out", Path("ca.crt"),
                                                                          "-days", "3", "-subj", "/CN=Parlivo Test CA"})
            && Run("openssl", QStringList{"req", "-x509"} + ec + QStringList{"-keyout", Path("other.key"), "-out", Path("other.crt"),
                                                                             "-days", "3", "-subj", "/CN=Another CA"})
            && Run("openssl", QStringList{"req"} + ec + QStringList{"-keyout", Path("server.key"), "-out", Path("server.csr"),
                                                                    "-subj", "/CN=127.0.0.1"})
            && Run("openssl", {"x509", "-req", "-in", Path("server.csr"), "-CA", Path("ca.crt"), "-CAkey", Path("ca.key"),
                               "-CAcreateserial", "-out", Path("server.crt"), "-days", "3", "-extfile", ext})
            && Run("mosquitto_passwd", {"-b", "-c", Path("passwd"), "shop", kShopPassword})
            && Run("mosquitto_passwd", {"-b", Path("passwd"), "head", kHeadPassword});
        if (!made)
            return false;
        QByteArray conf;
        if (geteuid() == 0) // mosquitto would otherwise drop to a user that cannot read this folder
            conf += "user root\n";
        conf += "persistence true\npersistence_location " + Path("").toUtf8() + "/\n"
                "log_dest file " + Path("broker.log").toUtf8() + "\nlog_type all\n"
                "allow_anonymous false\npassword_file " + Path("passwd").toUtf8() + "\n"
                "set_tcp_nodelay true\nmax_inflight_messages 100\n"
                "listener " + QByteArray::number(m_port) + " 127.0.0.1\n"
                "listener " + QByteArray::number(m_tlsPort) + " 127.0.0.1\n"
                "cafile " + Path("ca.crt").toUtf8() + "\ncertfile " + Path("server.crt").toUtf8()
                + "\nkeyfile " + Path("server.key").toUtf8() + "\n";
        QFile file(Path("mosquitto.conf"));
        return file.open(QIODevice::WriteOnly) && file.write(conf) == conf.size();
    }

    // Starts the broker and waits (a hang guard, not a timing) until it answers.
    bool Start()
    {
        m_broker = std::make_unique<QProcess>();
        m_broker->setStandardOutputFile(QProcess::nullDevice());
        m_broker->setStandardErrorFile(QProcess::nullDevice());
        m_broker->start(QStringLiteral("mosquitto"), {"-c", Path("mosquitto.conf")});
        if (!m_broker->waitForStarted(10000))
            return false;
        const QDeadlineTimer guard(10000);
        while (!guard.hasExpired()) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), m_tlsPort);
            if (probe.waitForConnected(200)) {
                QTcpSocket plain;
                plain.connectToHost(QStringLiteral("127.0.0.1"), m_port);
                if (plain.waitForConnected(200))
                    return true;
            }
            QThread::msleep(20);
        }
        return false;
    }

    // Stops it as a service would (SIGTERM: the sessions are saved).
    void Stop()
    {
        if (!m_broker)
            return;
        m_broker->terminate();
        if (!m_broker->waitForFinished(10000))
            m_broker->kill();
        m_broker.reset();
    }

    quint16 Port() const { return m_port; }
    QString Path(const QString &name) const { return m_dir.filePath(name); }
    QByteArray Log() const
    {
        QFile file(Path("broker.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Waits (a hang guard) until the broker's log holds needle count times.
    bool WaitForLog(const QByteArray &needle, int count = 1, int guardMs = 20000) const
    {
        const QDeadlineTimer guard(guardMs);
        while (Log().count(needle) < count) {
            if (guard.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(10);
        }
        return true;
    }

    // A shop's configuration: plain, or TLS trusting the given CA file.
    ChainConfig Config(const QString &shop, const QStringList &groups, bool tls = false,
                       const QString &caFile = QString()) const
    {
        ChainConfig config;
        config.broker = tls ? QStringLiteral("mqtts://127.0.0.1:%1").arg(m_tlsPort)
                            : QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port);
        config.caFile = tls ? (caFile.isEmpty() ? Path("ca.crt") : caFile) : QString();
        config.shop = shop;
        config.groups = groups;
        config.user = QStringLiteral("shop");
        config.password = kShopPassword;
        return config;
    }

    // Head office publishes with Mosquitto's own client (QoS 1).
    bool Publish(const QString &topic, const QByteArray &payload, bool retain = false) const
    {
        QStringList args{"-h", "127.0.0.1", "-p", QString::number(m_port), "-u", "head", "-P", kHeadPassword,
                         "-q", "1", "-t", topic};
        if (payload.isEmpty())
            args << "-n";
        else
            args << "-m" << QString::fromUtf8(payload);
        if (retain)
            args << "-r";
        return Run("mosquitto_pub", args);
    }

    // Head office's reader: mosquitto_sub on a persistent session, one
    // "topic payload" line a message.
    std::unique_ptr<QProcess> Subscribe(const QString &clientId, const QStringList &topics) const
    {
        auto sub = std::make_unique<QProcess>();
        QStringList args{"-h", "127.0.0.1", "-p", QString::number(m_port), "-u", "head", "-P", kHeadPassword,
                         "-q", "1", "-c", "-i", clientId, "-v"};
        for (const QString &topic : topics)
            args << "-t" << topic;
        sub->start(QStringLiteral("mosquitto_sub"), args);
        sub->waitForStarted(10000);
        return sub;
    }

private:
    static quint16 FreePort()
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        return server.serverPort();
    }

    static bool Run(const QString &program, const QStringList &args)
    {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(program, args);
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            qWarning("%s failed: %s", qPrintable(program), qPrintable(args.join(QLatin1Char(' '))));
            return false;
        }
        return true;
    }

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    std::unique_ptr<QProcess> m_broker;
};

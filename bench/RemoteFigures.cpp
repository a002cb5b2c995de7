#include "RemoteFigures.h"

#include "app/Parlivo.h"
#include "app/RemoteControl.h"
#include "core/SettingsValues.h"
#include "shop/Shop.h"
#include "speech/Announcer.h"
#include "speech/Speake.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <thread>
#include <vector>

namespace {

constexpr int kSamples = 100;
constexpr int kPaceMs = 105; // under the interface's ten requests a second
constexpr int kIdleSeconds = 5;
constexpr int kListRows = 10000;
constexpr int kTasks = 30000;
constexpr int kHeadlessIdleMs = 2000;

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A whole list put over HTTP; the milliseconds to its 200, -1 otherwise.
double PutList(QNetworkAccessManager &net, quint16 port, const QByteArray &token, const QString &list, const QJsonObject &json)
{
    const QByteArray body = QJsonDocument(json).toJson(QJsonDocument::Compact);
    QNetworkRequest put(QUrl(QStringLiteral("http://127.0.0.1:%1/api/lists/%2").arg(port).arg(list)));
    put.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    put.setRawHeader("Authorization", "Bearer " + token);
    Wait(1100); // a fresh second of the rate limit
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QNetworkReply> reply(net.sendCustomRequest(put, "PUT", body));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return -1;
    return clock.nsecsElapsed() / 1e6;
}

// kTasks tasks from the one numbered first on.
QJsonObject Tasks(int first)
{
    QJsonArray tasks;
    for (int i = first; i < first + kTasks; ++i)
        tasks.append(QJsonObject{{"title", QStringLiteral("任务%1").arg(i)}, {"text", QStringLiteral("通知")},
                                 {"start", QStringLiteral("%1:%2").arg(i / 60 % 24, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0'))},
                                 {"times", 2}});
    return QJsonObject{{"tasks", tasks}};
}

quint16 FreePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return 0;
    return probe.serverPort();
}

// Whether the interface on port answers a request for its page.
bool PageAnswers(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(200))
        return false;
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (answer.size() < 12 && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    return answer.startsWith("HTTP/1.1 200");
}

double ResidentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// 64 tokenless connections from 127.0.0.2 to .9 that send their headers a
// byte every 100 ms, opened again whenever the interface closes one.
class Slowloris
{
public:
    explicit Slowloris(quint16 port)
    {
        m_thread = std::thread([this, port] { Run(port); });
    }
    ~Slowloris()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    static int Open(quint16 port, int from)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(0x7f000000u | quint32(from));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        static const char kOpening[] = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
            || ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0
            || ::send(fd, kOpening, sizeof kOpening - 1, MSG_NOSIGNAL) <= 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    void Run(quint16 port)
    {
        std::vector<int> fds(64, -1);
        while (!m_stop) {
            for (size_t i = 0; i < fds.size(); ++i) {
                const char byte = 'x';
                if (fds[i] >= 0 && ::send(fds[i], &byte, 1, MSG_NOSIGNAL) != 1) {
                    ::close(fds[i]);
                    fds[i] = -1;
                }
                if (fds[i] < 0)
                    fds[i] = Open(port, 2 + int(i % 8));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        for (const int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The 99th percentile of kSamples paced POSTs of a short text.
double SayP99(Parlivo &window, QNetworkAccessManager &net, quint16 port, const QByteArray &token)
{
    std::vector<double> samples;
    for (int i = 0; i < kSamples; ++i) {
        Wait(kPaceMs);
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/say").arg(port)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        request.setRawHeader("Authorization", "Bearer " + token);
        QElapsedTimer clock;
        clock.start();
        std::unique_ptr<QNetworkReply> reply(net.post(request, QByteArray("{\"text\": \"好\"}")));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 202)
            samples.push_back(clock.nsecsElapsed() / 1e6);
        window.TheShop()->Speech()->From(Announcer::Remote)->Cancel(); // never heard: only the interface is measured
    }
    if (samples.empty())
        return -1;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, size_t(std::ceil(0.99 * samples.size())) - 1)];
}

// Median time from the POST of a text never spoken before to its first sound.
double SayToSound(Parlivo &window, QNetworkAccessManager &net, quint16 port, const QByteArray &token)
{
    std::vector<double> samples;
    QElapsedTimer clock;
    bool sounded = false;
    const QMetaObject::Connection started = QObject::connect(window.TheShop()->Worker(), &Speake::SoundStarted, &window,
                                                             [&] { sounded = true; }, Qt::QueuedConnection);
    for (int i = 0; i < 11; ++i) {
        Wait(300);
        const QString text = QStringLiteral("请%1号顾客到服务台，谢谢").arg(QDateTime::currentMSecsSinceEpoch() % 100000 + i);
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/say").arg(port)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        request.setRawHeader("Authorization", "Bearer " + token);
        sounded = false;
        clock.start();
        std::unique_ptr<QNetworkReply> reply(net.post(request, QJsonDocument(QJsonObject{{"text", text}}).toJson()));
        QElapsedTimer guard;
        guard.start();
        while (!sounded && guard.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (sounded)
            samples.push_back(clock.nsecsElapsed() / 1e6);
        window.TheShop()->Speech()->From(Announcer::Remote)->Cancel();
        while (window.TheShop()->Speech()->Outstanding() > 0 && guard.elapsed() < 20000)
            Wait(20);
    }
    QObject::disconnect(started);
    if (samples.empty())
        return -1;
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

RemoteFigures::Remote RemoteFigures::Measure()
{
    Remote figures;
    Shop shop;
    Parlivo window(&shop);
    const QByteArray token = RemoteControl::Token();
    if (!window.Remote()->Start(0, false, token))
        return figures;
    const quint16 port = window.Remote()->Port();
    Wait(2000); // start-up done, the worker asleep
    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    Wait(kIdleSeconds * 1000);
    figures.idleCpuPercent = 100.0 * (CpuSeconds() - cpuBefore) / (wall.elapsed() / 1000.0);

    QNetworkAccessManager net;
    figures.sayP99Ms = SayP99(window, net, port, token);
    window.TheShop()->Speech()->From(Announcer::Remote)->Cancel(); // the queued texts need not be heard
    {
        Slowloris slow(port);
        Wait(1500);
        figures.sayP99UnderSlowlorisMs = SayP99(window, net, port, token);
    }
    window.TheShop()->Speech()->From(Announcer::Remote)->Cancel();
    Wait(1100);
    figures.sayToSoundMs = SayToSound(window, net, port, token);
    window.TheShop()->Speech()->From(Announcer::Remote)->Cancel(); // the queued texts need not be heard

    // 10,000 price rows replaced over HTTP: checked, shown and saved.
    QJsonArray rows;
    for (int i = 0; i < kListRows; ++i)
        rows.append(QJsonObject{{"kind", "goods"}, {"name", QStringLiteral("第%1号西瓜").arg(i)}, {"price", "1.98"}, {"unit", "一斤"}});
    figures.listsPut10kMs = PutList(net, port, token, QStringLiteral("price"), QJsonObject{{"loop", true}, {"rows", rows}});

    // 30,000 tasks over a list of 30,000: one task new at the top, the last
    // one gone, the others kept.
    if (PutList(net, port, token, QStringLiteral("timer"), Tasks(1)) >= 0)
        figures.listsPutTimer30kMs = PutList(net, port, token, QStringLiteral("timer"), Tasks(0));
    figures.phonePageKb = RemoteControl::PhonePageBytes().size() / 1024.0;
    g_restorePending = true;  // leave the bench's lists as they are
    return figures;
}

RemoteFigures::Headless RemoteFigures::HeadlessFigures(const QString &program, const QString &workDir)
{
    Headless figures;
    const QString dir = workDir + QStringLiteral("/headless");
    const QString copy = dir + QStringLiteral("/parlivo");
    const quint16 port = FreePort();
    QDir().mkpath(dir);
    QFile::remove(copy);
    QFile settings(dir + QStringLiteral("/settings.xml"));
    if (port == 0 || !QFile::copy(program, copy) || !settings.open(QIODevice::WriteOnly))
        return figures;
    settings.write(QStringLiteral("<settings remote=\"1\" remotePort=\"%1\" remoteLan=\"0\" />\n").arg(port).toUtf8());
    settings.close();

    QProcess child;
    child.setWorkingDirectory(dir);
    QElapsedTimer clock;
    clock.start();
    child.start(copy, {QStringLiteral("--headless")});
    if (!child.waitForStarted(10000))
        return figures;
    while (child.state() == QProcess::Running && clock.elapsed() < 30000) { // a hang guard
        if (PageAnswers(port)) {
            figures.startupMs = clock.nsecsElapsed() / 1e6;
            break;
        }
        QThread::msleep(2);
    }
    if (figures.startupMs >= 0) {
        QThread::msleep(kHeadlessIdleMs);
        figures.rssMb = ResidentMb(child.processId());
    }
    child.terminate();
    if (!child.waitForFinished(10000)) {
        child.kill();
        child.waitForFinished(5000);
    }
    return figures;
}

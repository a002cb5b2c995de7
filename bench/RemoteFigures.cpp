#include "RemoteFigures.h"

#include "app/Parlivo.h"
#include "app/RemoteControl.h"
#include "core/SettingsValues.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

namespace {

constexpr int kSamples = 100;
constexpr int kPaceMs = 105; // under the interface's ten requests a second
constexpr int kIdleSeconds = 5;
constexpr int kListRows = 10000;

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

} // namespace

RemoteFigures::Remote RemoteFigures::Measure()
{
    Remote figures;
    Parlivo window;
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
    }
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        figures.sayP99Ms = samples[std::min(samples.size() - 1, size_t(std::ceil(0.99 * samples.size())) - 1)];
    }
    window.Speech()->From(Announcer::Remote)->Cancel(); // the queued texts need not be heard

    // 10,000 price rows replaced over HTTP: checked, shown and saved.
    QJsonArray rows;
    for (int i = 0; i < kListRows; ++i)
        rows.append(QJsonObject{{"kind", "goods"}, {"name", QStringLiteral("第%1号西瓜").arg(i)}, {"price", "1.98"}, {"unit", "一斤"}});
    const QByteArray body = QJsonDocument(QJsonObject{{"loop", true}, {"rows", rows}}).toJson(QJsonDocument::Compact);
    QNetworkRequest put(QUrl(QStringLiteral("http://127.0.0.1:%1/api/lists/price").arg(port)));
    put.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    put.setRawHeader("Authorization", "Bearer " + token);
    Wait(1100);
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QNetworkReply> reply(net.sendCustomRequest(put, "PUT", body));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200)
        figures.listsPut10kMs = clock.nsecsElapsed() / 1e6;
    figures.phonePageKb = RemoteControl::PhonePageBytes().size() / 1024.0;
    g_restorePending = true;  // leave the bench's lists as they are
    return figures;
}

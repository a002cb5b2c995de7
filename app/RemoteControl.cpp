#include "RemoteControl.h"

#include "Log.h"
#include "MusicPlayer.h"
#include "Parlivo.h"
#include "PriceMode.h"
#include "Settings.h"
#include "SettingsValues.h"
#include "SimplePlay.h"
#include "Speake.h"
#include "TimerMode.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <QDir>

namespace {

constexpr int kKeptIds = 1000;

QJsonObject Error(const QString &message)
{
    return QJsonObject{{QStringLiteral("error"), message}};
}

QString StateName(int playState)
{
    return playState == 1 ? QStringLiteral("playing") : playState == 2 ? QStringLiteral("paused") : QStringLiteral("stopped");
}

// Equal in time whatever the bytes: a token is never guessed piecewise.
bool SameToken(const QByteArray &a, const QByteArray &b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (qsizetype i = 0; i < qMax(a.size(), b.size()); ++i)
        diff |= static_cast<unsigned char>((i < a.size() ? a.at(i) : 0) ^ (i < b.size() ? b.at(i) : 0));
    return diff == 0 && !a.isEmpty();
}

} // namespace

RemoteControl::RemoteControl(Parlivo *window) : QAbstractHttpServer(window), m_window(window) {}

QString RemoteControl::TokenFilePath()
{
    return QFileInfo(Settings::FilePath()).absolutePath() + QStringLiteral("/remote-token");
}

QByteArray RemoteControl::Token(bool renew)
{
    QFile stored(TokenFilePath());
    if (!renew && stored.open(QIODevice::ReadOnly)) {
        const QByteArray token = stored.readAll().trimmed();
        if (token.size() == 64)
            return token;
    }
    QByteArray bytes(32, '\0');
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    const QByteArray token = bytes.toHex();
    QDir().mkpath(QFileInfo(TokenFilePath()).absolutePath());
    QSaveFile file(TokenFilePath());
    if (file.open(QIODevice::WriteOnly)) {
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner); // owner-only before the token is in
        file.write(token + '\n');
        if (!file.commit())
            PLOG(LOG_ERROR, "cannot store the remote control token in %s", qPrintable(TokenFilePath()));
    }
    QFile::setPermissions(TokenFilePath(), QFile::ReadOwner | QFile::WriteOwner);
    return token;
}

bool RemoteControl::Start(quint16 port, bool shopNetwork, const QByteArray &token)
{
    Stop();
    m_token = token;
    auto *server = new QTcpServer(this);
    if (!server->listen(shopNetwork ? QHostAddress::Any : QHostAddress::LocalHost, port)) {
        PLOG(LOG_ERROR, "remote control cannot listen on port %u: %s", port, qPrintable(server->errorString()));
        delete server;
        return false;
    }
    bind(server);
    m_listening = true;
    PLOG(LOG_INFO, "remote control listening on %s:%u", shopNetwork ? "0.0.0.0" : "127.0.0.1", port);
    return true;
}

void RemoteControl::Stop()
{
    for (QTcpServer *server : servers()) {
        server->close();
        server->deleteLater();
    }
    m_listening = false;
}

bool RemoteControl::OverRate(const QHostAddress &address)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::deque<qint64> &times = m_recent[address.toString()];
    while (!times.empty() && now - times.front() >= 1000)
        times.pop_front();
    times.push_back(now);
    return int(times.size()) > kRequestsPerSecond;
}

bool RemoteControl::Authorized(const QHttpServerRequest &request) const
{
    const QByteArray header = request.value(QByteArrayLiteral("Authorization"));
    const QByteArray prefix = QByteArrayLiteral("Bearer ");
    return header.startsWith(prefix) && SameToken(header.mid(prefix.size()).trimmed(), m_token);
}

bool RemoteControl::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const Reply reply = Handle(request);
    PLOG(LOG_INFO, "remote %s %s %s: %d", qPrintable(request.remoteAddress().toString()),
         QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(request.method())),
         qPrintable(request.url().path()), reply.status);
    makeResponder(request, socket).write(QJsonDocument(reply.body),
                                         static_cast<QHttpServerResponder::StatusCode>(reply.status));
    return true;
}

void RemoteControl::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    makeResponder(request, socket).write(QJsonDocument(Error(QStringLiteral("not found"))),
                                         QHttpServerResponder::StatusCode::NotFound);
}

RemoteControl::Reply RemoteControl::Handle(const QHttpServerRequest &request)
{
    if (OverRate(request.remoteAddress()))
        return {429, Error(QStringLiteral("more than %1 requests a second").arg(kRequestsPerSecond))};
    if (!Authorized(request))
        return {401, Error(QStringLiteral("a valid bearer token is needed"))};
    const QStringList path = request.url().path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    auto wrongMethod = [] { return Reply{405, Error(QStringLiteral("method not allowed"))}; };
    if (path.value(0) != QLatin1String("api"))
        return {404, Error(QStringLiteral("not found"))};
    if (path.size() == 2 && path[1] == QLatin1String("say"))
        return post ? Say(request) : wrongMethod();
    if (path.size() == 3 && path[1] == QLatin1String("say")) {
        if (!get)
            return wrongMethod();
        bool ok = false;
        const int id = path[2].toInt(&ok);
        if (!ok || !m_spoken.contains(id))
            return {404, Error(QStringLiteral("no such announcement"))};
        return {200, QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("spoken"), m_spoken.value(id)}}};
    }
    if (path.size() == 2 && path[1] == QLatin1String("status"))
        return get ? Status() : wrongMethod();
    if (path.size() == 4 && path[1] == QLatin1String("modes")) {
        static const QStringList modes = {QStringLiteral("word"), QStringLiteral("price"), QStringLiteral("timer")};
        if (!modes.contains(path[2]) || (path[3] != QLatin1String("play") && path[3] != QLatin1String("pause")))
            return {404, Error(QStringLiteral("not found"))};
        return post ? PressButton(path[2], path[3]) : wrongMethod();
    }
    return {404, Error(QStringLiteral("not found"))};
}

RemoteControl::Reply RemoteControl::Say(const QHttpServerRequest &request)
{
    if (request.body().size() > kMaxBodyBytes)
        return {413, Error(QStringLiteral("the body is larger than %1 bytes").arg(kMaxBodyBytes))};
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(request.body(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !json.isObject())
        return {400, Error(QStringLiteral("the body is not a JSON object"))};
    const QJsonValue text = json.object().value(QStringLiteral("text"));
    if (!text.isString())
        return {400, Error(QStringLiteral("\"text\" must be a string"))};
    const QString spoken = text.toString().trimmed();
    if (spoken.isEmpty() || spoken.size() > kMaxTextLength)
        return {422, Error(QStringLiteral("the text must hold 1 to %1 characters").arg(kMaxTextLength))};
    const int id = m_nextId++;
    m_spoken.insert(id, false);
    m_spoken.remove(id - kKeptIds);
    // Spoken once, in order with everything else the worker has.
    m_window->Worker()->SpeakAudio(kIndexBase + id, 0, spoken, true);
    return {202, QJsonObject{{QStringLiteral("id"), id}}};
}

void RemoteControl::ActionFinished(int index)
{
    const int id = index - kIndexBase;
    if (m_spoken.contains(id))
        m_spoken[id] = true;
}

RemoteControl::Reply RemoteControl::PressButton(const QString &mode, const QString &button)
{
    const bool play = button == QLatin1String("play");
    int state = 0;
    if (mode == QLatin1String("word")) {
        SimplePlay *word = m_window->WordMode();
        play ? word->ProcessPlayButton() : void(word->Pause());
        state = word->PlayState();
    } else if (mode == QLatin1String("price")) {
        PriceMode *price = m_window->PricePage();
        play ? void(price->Play()) : void(price->Pause());
        state = price->PlayState();
    } else {
        TimerMode *timer = m_window->TimerPage();
        play ? void(timer->Play()) : void(timer->Pause());
        state = timer->PlayState();
    }
    return {200, QJsonObject{{QStringLiteral("mode"), mode}, {QStringLiteral("state"), StateName(state)}}};
}

RemoteControl::Reply RemoteControl::Status() const
{
    const MusicPlayer::Status music = m_window->Player().GetStatus();
    return {200, QJsonObject{
                     {QStringLiteral("modes"),
                      QJsonObject{{QStringLiteral("word"), StateName(m_window->WordMode()->PlayState())},
                                  {QStringLiteral("price"), StateName(m_window->PricePage()->PlayState())},
                                  {QStringLiteral("timer"), StateName(m_window->TimerPage()->PlayState())}}},
                     {QStringLiteral("queue"), m_window->Worker()->QueueLength()},
                     {QStringLiteral("music"), music.playing  ? QStringLiteral("playing")
                                               : music.paused ? QStringLiteral("paused")
                                                              : QStringLiteral("stopped")},
                     {QStringLiteral("voice"), g_settings.yusheng.Get()},
                 }};
}

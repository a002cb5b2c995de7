#include "app/ChainLink.h"

#include "core/Log.h"
#include "shop/PlayLog.h"
#include "shop/TextRules.h"

#include <QJsonDocument>

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kLoopTimeoutMs = 100;
// A clean goodbye (offline status, disconnect) gets this long on stopping.
constexpr int kGoodbyeMs = 1500;
constexpr int kMaxIdLength = 200;
// Far above any list the stored files can hold; a larger message is refused unread.
constexpr int kMaxPayloadBytes = 8 * 1024 * 1024;
const char *const kListKinds[] = {"word", "price", "timer"};

void InitLibraryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString Now()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
}

// An optional time of a say: absent is fine, present must be ISO 8601.
bool ReadTime(const QJsonObject &o, const char *name, QDateTime *out)
{
    const QJsonValue value = o.value(QLatin1String(name));
    if (value.isUndefined() || value.isNull())
        return true;
    *out = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return value.isString() && out->isValid();
}

} // namespace

struct ChainLink::Session
{
    ~Session() { mosquitto_destroy(mosq); }

    // Hands a call to the link's thread, unless the link has let go.
    template <typename Call>
    void Post(Call call)
    {
        std::lock_guard<std::mutex> lock(ownerMutex);
        if (owner)
            QMetaObject::invokeMethod(owner, [link = owner, call] { call(link); }, Qt::QueuedConnection);
    }
    void LetGo()
    {
        std::lock_guard<std::mutex> lock(ownerMutex);
        owner = nullptr;
    }
    void RequestStop()
    {
        {
            std::lock_guard<std::mutex> lock(sleepMutex);
            stop = true;
        }
        wake.notify_all();
    }
    // Sleeps; false when a stop came first.
    bool SleepUnlessStopped(int seconds)
    {
        std::unique_lock<std::mutex> lock(sleepMutex);
        return !wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return stop.load(); });
    }
    void Finished()
    {
        {
            std::lock_guard<std::mutex> lock(sleepMutex);
            finished = true;
        }
        wake.notify_all();
    }
    bool WaitFinished(int ms)
    {
        std::unique_lock<std::mutex> lock(sleepMutex);
        return wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return finished; });
    }

    quint64 generation = 0; // which start of the link this is
    mosquitto *mosq = nullptr;
    ChainConfig config;
    QByteArray host;
    int port = 0;
    std::atomic<bool> stop{false};
    std::atomic<bool> online{false};
    // The offline status sent on stopping; the disconnect follows its
    // acknowledgement. Acknowledgements after the stop are kept, so one
    // that comes before its id is known still counts.
    std::atomic<int> goodbyeMid{-1};
    std::mutex ackMutex;
    QSet<int> ackedSinceStop;
    bool GoodbyeAcked()
    {
        std::lock_guard<std::mutex> lock(ackMutex);
        return goodbyeMid >= 0 && ackedSinceStop.contains(goodbyeMid);
    }
    std::mutex sleepMutex;
    std::condition_variable wake;
    bool finished = false;
    std::mutex tlsMutex;
    QString tlsError; // the last TLS failure the library logged
    std::mutex ownerMutex;
    ChainLink *owner = nullptr;
};

ChainLink::ChainLink(PlayLog *log, QObject *parent) : QObject(parent), m_log(log)
{
    InitLibraryOnce();
    m_listSettle.setSingleShot(true);
    m_listSettle.setInterval(kListSettleMs);
    connect(&m_listSettle, &QTimer::timeout, this, &ChainLink::ChooseLists);
    if (m_log)
        connect(m_log, &PlayLog::Recorded, this, &ChainLink::SendPlayed);
}

ChainLink::~ChainLink()
{
    Stop();
}

bool ChainLink::Start(const ChainConfig &config)
{
    Stop();
    QString why;
    if (!config.Enabled() || !config.Check(&why)) {
        PLOG(LOG_ERROR, "chain link not started: %s", qPrintable(why.isEmpty() ? QStringLiteral("no broker or shop id") : why));
        return false;
    }
    ChainConfig::Address address;
    config.ParseBroker(&address);
    m_config = config;
    m_lists.clear();
    m_handedOn.clear();
    auto session = std::make_shared<Session>();
    session->config = config;
    session->host = address.host.toUtf8();
    session->port = address.port;
    session->owner = this;
    session->generation = ++m_generation;
    // One client id per shop: the broker keeps its session (subscriptions
    // and the messages queued for it) while the shop is off.
    const QByteArray clientId = "parlivo-" + config.shop.toUtf8();
    session->mosq = mosquitto_new(clientId.constData(), false, session.get());
    if (!session->mosq) {
        PLOG(LOG_ERROR, "%s", "chain link: no MQTT client could be made");
        return false;
    }
    mosquitto *mosq = session->mosq;
    mosquitto_threaded_set(mosq, true);
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq, &ChainLink::OnConnect);
    mosquitto_disconnect_callback_set(mosq, &ChainLink::OnDisconnect);
    mosquitto_message_callback_set(mosq, &ChainLink::OnMessage);
    mosquitto_publish_callback_set(mosq, &ChainLink::OnPublish);
    mosquitto_log_callback_set(mosq, &ChainLink::OnLog);
    if (!config.user.isEmpty())
        mosquitto_username_pw_set(mosq, config.user.toUtf8().constData(),
                                  config.password.isEmpty() ? nullptr : config.password.constData());
    const QByteArray will = QJsonDocument(StatusWith(false)).toJson(QJsonDocument::Compact);
    const QByteArray statusTopic = config.ShopTopic("status");
    mosquitto_will_set(mosq, statusTopic.constData(), int(will.size()), will.constData(), 1, true);
    if (address.tls) {
        // Without a CA file of its own the system's trusted authorities apply.
        const QByteArray caFile = config.caFile.toLocal8Bit();
        const int rc = mosquitto_tls_set(mosq, caFile.isEmpty() ? nullptr : caFile.constData(),
                                         caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            PLOG(LOG_ERROR, "chain link: TLS cannot be set up (%s)", mosquitto_strerror(rc));
            Refused(QStringLiteral("连锁总部的证书文件无法使用：%1").arg(config.caFile));
            return false;
        }
    }
    m_session = session;
    SetState(State::Connecting);
    PLOG(LOG_INFO, "chain link to %s as shop %s", qPrintable(config.broker), qPrintable(config.shop));
    m_thread = std::thread([session] { Run(session); });
    return true;
}

void ChainLink::Stop()
{
    if (!m_session)
        return;
    const std::shared_ptr<Session> session = std::exchange(m_session, nullptr);
    session->RequestStop();
    // Said offline in so many words: a clean disconnect sends no last will.
    if (session->online) {
        const QByteArray payload = QJsonDocument(StatusWith(false)).toJson(QJsonDocument::Compact);
        const QByteArray topic = m_config.ShopTopic("status");
        int mid = 0;
        if (mosquitto_publish(session->mosq, &mid, topic.constData(), int(payload.size()), payload.constData(), 1, true)
            == MOSQ_ERR_SUCCESS)
            session->goodbyeMid = mid;
    }
    session->LetGo();
    if (session->WaitFinished(kStopWaitMs)) {
        m_thread.join();
    } else {
        PLOG(LOG_WARNING, "%s", "chain link: the network thread is still busy (a name lookup?); it ends by itself");
        m_thread.detach();
    }
    m_inFlight.clear();
    SetState(State::Off);
}

void ChainLink::Run(const std::shared_ptr<Session> &session)
{
    mosquitto *mosq = session->mosq;
    mosquitto_connect_async(mosq, session->host.constData(), session->port, kKeepAliveSeconds);
    int delay = kFirstRetrySeconds;
    while (true) {
        const auto stopAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGoodbyeMs);
        int rc = MOSQ_ERR_SUCCESS;
        // After a stop the loop runs on until the offline status is
        // acknowledged and the disconnect sent, or the goodbye's time is up.
        bool disconnecting = false;
        while ((rc = mosquitto_loop(mosq, kLoopTimeoutMs, 1)) == MOSQ_ERR_SUCCESS) {
            if (session->online)
                delay = kFirstRetrySeconds;
            if (!session->stop)
                continue;
            if (!session->online || std::chrono::steady_clock::now() > stopAt)
                break;
            if (!disconnecting && session->GoodbyeAcked()) {
                mosquitto_disconnect(mosq);
                disconnecting = true;
            }
        }
        if (session->stop)
            break;
        QString tlsError;
        {
            std::lock_guard<std::mutex> lock(session->tlsMutex);
            tlsError.swap(session->tlsError);
        }
        const quint64 from = session->generation;
        session->Post([from, rc, tlsError](ChainLink *link) { link->Failed(from, rc, tlsError); });
        bool retry = true;
        do {
            retry = session->SleepUnlessStopped(delay);
            delay = qMin(delay * 2, kLastRetrySeconds);
        } while (retry && mosquitto_reconnect_async(mosq) != MOSQ_ERR_SUCCESS);
        if (!retry)
            break;
    }
    session->Finished();
}

void ChainLink::OnConnect(mosquitto *, void *data, int rc)
{
    auto *session = static_cast<Session *>(data);
    if (rc != 0) {
        const QString reason = rc == 4 || rc == 5 ? QStringLiteral("连锁总部拒绝登录：用户名或密码错误")
                                                  : QStringLiteral("连锁总部拒绝连接（%1）").arg(QString::fromUtf8(mosquitto_connack_string(rc)));
        session->Post([reason](ChainLink *link) { link->Refused(reason); });
        return;
    }
    session->online = true;
    Subscribe(*session);
    session->Post([from = session->generation](ChainLink *link) { link->Connected(from); });
}

void ChainLink::OnDisconnect(mosquitto *, void *data, int)
{
    auto *session = static_cast<Session *>(data);
    session->online = false;
    session->Post([from = session->generation](ChainLink *link) { link->Disconnected(from); });
}

void ChainLink::OnMessage(mosquitto *, void *data, const mosquitto_message *message)
{
    auto *session = static_cast<Session *>(data);
    const QByteArray topic(message->topic);
    if (message->payloadlen > kMaxPayloadBytes) {
        const QString why = QStringLiteral("%1: larger than %2 bytes").arg(QString::fromUtf8(topic)).arg(kMaxPayloadBytes);
        session->Post([why](ChainLink *link) { link->Report(QStringLiteral("refused"), QString(), QString(), why); });
        return;
    }
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    session->Post([topic, payload](ChainLink *link) { link->Received(topic, payload); });
}

void ChainLink::OnPublish(mosquitto *, void *data, int mid)
{
    auto *session = static_cast<Session *>(data);
    if (session->stop) {
        std::lock_guard<std::mutex> lock(session->ackMutex);
        session->ackedSinceStop.insert(mid);
    }
    session->Post([from = session->generation, mid](ChainLink *link) { link->Acknowledged(from, mid); });
}

void ChainLink::OnLog(mosquitto *, void *data, int level, const char *text)
{
    if (!(level & MOSQ_LOG_ERR) || !strstr(text, "OpenSSL Error"))
        return;
    auto *session = static_cast<Session *>(data);
    std::lock_guard<std::mutex> lock(session->tlsMutex);
    session->tlsError = QString::fromUtf8(text);
}

void ChainLink::Subscribe(Session &session)
{
    const ChainConfig &config = session.config;
    QList<QByteArray> topics{config.Topic(QStringLiteral("say/all")),
                             config.Topic(QStringLiteral("say/shop/") + config.shop),
                             config.Topic(QStringLiteral("lists/+/all")),
                             config.Topic(QStringLiteral("lists/+/shop/") + config.shop)};
    for (const QString &group : config.groups)
        topics << config.Topic(QStringLiteral("say/group/") + group)
               << config.Topic(QStringLiteral("lists/+/group/") + group);
    std::vector<char *> pointers;
    for (QByteArray &topic : topics)
        pointers.push_back(topic.data());
    const int rc = mosquitto_subscribe_multiple(session.mosq, nullptr, int(pointers.size()), pointers.data(), 1, 0, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
        PLOG(LOG_ERROR, "chain link: subscribing failed (%s)", mosquitto_strerror(rc));
}

void ChainLink::Connected(quint64 from)
{
    if (!m_session || from != m_session->generation)
        return;
    m_toldRefusal.clear();
    PLOG(LOG_INFO, "chain link up: %s", qPrintable(m_config.broker));
    SetState(State::Online);
    Publish(m_config.ShopTopic("status"), StatusWith(true), true);
    const QList<QJsonObject> events = std::exchange(m_pendingEvents, {});
    for (const QJsonObject &event : events)
        Publish(m_config.ShopTopic("events"), event, false);
    SendPlayed();
}

void ChainLink::Disconnected(quint64 from)
{
    if (!m_session || from != m_session->generation)
        return;
    if (m_state == State::Online)
        PLOG(LOG_WARNING, "chain link to %s lost", qPrintable(m_config.broker));
    SetState(State::Offline);
}

void ChainLink::Failed(quint64 from, int rc, const QString &tlsError)
{
    if (!m_session || from != m_session->generation)
        return;
    if (!tlsError.isEmpty()) {
        PLOG(LOG_ERROR, "chain link: %s", qPrintable(tlsError));
        Refused(tlsError.contains(QLatin1String("certificate verify failed"))
                    ? QStringLiteral("连锁总部的证书不受信任，无法建立加密连接")
                    : QStringLiteral("无法与连锁总部建立加密连接"));
    } else if (m_state != State::Offline) {
        PLOG(LOG_WARNING, "chain link to %s down: %s", qPrintable(m_config.broker), mosquitto_strerror(rc));
    }
    SetState(State::Offline);
}

void ChainLink::Refused(const QString &reason)
{
    if (reason == m_toldRefusal)
        return;
    m_toldRefusal = reason;
    PLOG(LOG_ERROR, "chain link refused: %s", qPrintable(reason));
    emit LinkRefused(reason);
}

void ChainLink::SetState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit LinkStateChanged(state);
}

bool ChainLink::Publish(const QByteArray &topic, const QJsonObject &json, bool retain, int *mid)
{
    if (!m_session)
        return false;
    const QByteArray payload = QJsonDocument(json).toJson(QJsonDocument::Compact);
    const int rc = mosquitto_publish(m_session->mosq, mid, topic.constData(), int(payload.size()), payload.constData(), 1, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        PLOG(LOG_WARNING, "chain link: %s not sent (%s)", topic.constData(), mosquitto_strerror(rc));
    return rc == MOSQ_ERR_SUCCESS;
}

QJsonObject ChainLink::StatusWith(bool online) const
{
    QJsonObject status = online ? m_status : QJsonObject();
    status.insert(QStringLiteral("online"), online);
    status.insert(QStringLiteral("shop"), m_config.shop);
    status.insert(QStringLiteral("time"), Now());
    return status;
}

void ChainLink::PublishStatus(const QJsonObject &status)
{
    m_status = status;
    if (m_state == State::Online)
        Publish(m_config.ShopTopic("status"), StatusWith(true), true);
}

void ChainLink::PublishEvent(const QJsonObject &event)
{
    QJsonObject stamped = event;
    stamped.insert(QStringLiteral("shop"), m_config.shop);
    if (!stamped.contains(QStringLiteral("time")))
        stamped.insert(QStringLiteral("time"), Now());
    if (m_state == State::Online)
        Publish(m_config.ShopTopic("events"), stamped, false);
    else
        m_pendingEvents.append(stamped);
}

void ChainLink::SendPlayed()
{
    if (!m_log || m_state != State::Online || m_inFlight.size() >= kMaxInFlight)
        return;
    const QList<PlayRecord> records = m_log->Unpublished(kMaxInFlight - int(m_inFlight.size()), m_inFlight.values());
    for (const PlayRecord &record : records) {
        QJsonObject json = PlayLog::ToJson(record);
        json.insert(QStringLiteral("shop"), m_config.shop);
        int mid = 0;
        if (!Publish(m_config.ShopTopic("played"), json, false, &mid))
            return;
        m_inFlight.insert(mid, record.row);
    }
}

void ChainLink::Acknowledged(quint64 from, int mid)
{
    if (!m_session || from != m_session->generation)
        return;
    const auto found = m_inFlight.constFind(mid);
    if (found == m_inFlight.cend())
        return;
    m_log->MarkPublished(*found);
    m_inFlight.erase(found);
    SendPlayed();
}

void ChainLink::Received(const QByteArray &topicBytes, const QByteArray &payload)
{
    const QString topic = QString::fromUtf8(topicBytes);
    const QString head = m_config.prefix + QLatin1Char('/');
    if (!topic.startsWith(head))
        return;
    const QStringList levels = topic.mid(head.size()).split(QLatin1Char('/'));
    // The rank of a scope this shop belongs to; -1 for one of another shop
    // or a group left (the broker keeps old subscriptions in the session).
    auto rankOf = [this](const QStringList &scope) {
        if (scope.size() == 1 && scope[0] == QLatin1String("all"))
            return 0;
        if (scope.size() == 2 && scope[0] == QLatin1String("group") && m_config.groups.contains(scope[1]))
            return 1 + int(m_config.groups.lastIndexOf(scope[1]));
        if (scope.size() == 2 && scope[0] == QLatin1String("shop") && scope[1] == m_config.shop)
            return 1 + int(m_config.groups.size());
        return -1;
    };
    if (levels.value(0) == QLatin1String("say") && rankOf(levels.mid(1)) >= 0)
        TakeSay(payload);
    else if (levels.value(0) == QLatin1String("lists") && levels.size() >= 3 && rankOf(levels.mid(2)) >= 0)
        TakeList(levels[1], rankOf(levels.mid(2)), payload);
}

void ChainLink::TakeSay(const QByteArray &payload)
{
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(payload, &error).object();
    const QString id = o.value(QStringLiteral("id")).toString();
    if (error.error != QJsonParseError::NoError || id.isEmpty() || id.size() > kMaxIdLength) {
        Report(QStringLiteral("refused"), id, QString(), QStringLiteral("a say needs a JSON object with an \"id\" of 1 to 200 characters"));
        return;
    }
    // Without a usable log the ids are remembered while the program runs.
    const bool logged = m_log && m_log->IsOpen();
    if (logged ? m_log->Seen(id) : m_seenHere.contains(id)) {
        PLOG(LOG_DEBUG, "chain message %s delivered again: taken once", qPrintable(id));
        return;
    }
    if (logged)
        m_log->Remember(id);
    else
        m_seenHere.insert(id);
    const QJsonValue textValue = o.value(QStringLiteral("text"));
    const QString text = textValue.toString();
    QDateTime notAfter, at;
    QString why;
    if (!textValue.isString() || text.trimmed().isEmpty())
        why = QStringLiteral("\"text\" must be a text that is not blank");
    else if (TextRules::CharacterCount(text) > kMaxTextLength)
        why = QStringLiteral("\"text\" is longer than %1 characters").arg(kMaxTextLength);
    else if (text.contains(QChar(0)))
        why = QStringLiteral("\"text\" holds a NUL character");
    else if (!ReadTime(o, "not_after", &notAfter))
        why = QStringLiteral("\"not_after\" must be an ISO 8601 time");
    else if (!ReadTime(o, "at", &at))
        why = QStringLiteral("\"at\" must be an ISO 8601 time");
    if (!why.isEmpty()) {
        Report(QStringLiteral("refused"), id, text.left(100), why);
        return;
    }
    if (notAfter.isValid() && notAfter < QDateTime::currentDateTime()) {
        PLOG(LOG_INFO, "chain message %s expired at %s: not spoken", qPrintable(id), qPrintable(notAfter.toString(Qt::ISODate)));
        Report(QStringLiteral("expired"), id, text, QStringLiteral("past not_after %1").arg(notAfter.toString(Qt::ISODate)));
        return;
    }
    emit SayReceived(id, text, notAfter, at);
}

void ChainLink::Report(const QString &event, const QString &id, const QString &text, const QString &reason)
{
    QJsonObject json{{QStringLiteral("event"), event}, {QStringLiteral("reason"), reason}};
    if (!id.isEmpty())
        json.insert(QStringLiteral("id"), id);
    if (!text.isEmpty())
        json.insert(QStringLiteral("text"), text);
    PublishEvent(json);
}

void ChainLink::TakeList(const QString &kind, int rank, const QByteArray &payload)
{
    if (std::none_of(std::begin(kListKinds), std::end(kListKinds), [&kind](const char *k) { return kind == QLatin1String(k); }))
        return;
    // An empty retained message clears that scope's list.
    if (payload.isEmpty())
        m_lists[kind].remove(rank);
    else
        m_lists[kind].insert(rank, payload);
    m_listSettle.start();
}

void ChainLink::ChooseLists()
{
    for (auto it = m_lists.cbegin(); it != m_lists.cend(); ++it) {
        if (it->isEmpty())
            continue;
        const QByteArray &winner = it->last(); // the highest rank
        if (m_handedOn.value(it.key()) == winner)
            continue;
        m_handedOn.insert(it.key(), winner);
        emit ListReceived(it.key(), winner);
    }
}

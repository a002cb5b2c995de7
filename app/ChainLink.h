#pragma once

#include "shop/ChainConfig.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>
#include <thread>

struct mosquitto;
struct mosquitto_message;
class PlayLog;

// The shop's link to its chain's MQTT broker (libmosquitto). The network
// runs on a thread of its own that connects out, reconnects with back-off
// after any failure, and hands everything to this object's thread by
// queued calls; nothing here ever waits on the network.
//
// In (QoS 1, persistent session, so what came while the shop was off
// arrives when it is back):
//   <prefix>/say/all, …/say/group/<group>, …/say/shop/<shop>
//     {"id", "text", "not_after", "at"} → SayReceived once per id; a
//     message past not_after is reported on events as expired instead.
//   <prefix>/lists/<word|price|timer>/all, …/group/<group>, …/shop/<shop>
//     (retained) → ListReceived with the most specific one: shop over
//     group (the later of the shop's groups over the earlier) over all.
// Out:
//   <prefix>/shop/<shop>/status (retained; the last will marks it offline)
//   <prefix>/shop/<shop>/played (each record of the play log, once acknowledged)
//   <prefix>/shop/<shop>/events (expired and refused messages)
class ChainLink : public QObject
{
    Q_OBJECT

public:
    enum class State { Off, Connecting, Online, Offline };
    Q_ENUM(State)
    // How long stopping waits for the network thread before leaving it behind.
    static constexpr int kStopWaitMs = 2000;
    // Back-off between attempts: doubles from the first to the last.
    static constexpr int kFirstRetrySeconds = 1;
    static constexpr int kLastRetrySeconds = 30;
    // Played records sent and not yet acknowledged at once.
    static constexpr int kMaxInFlight = 20;
    // Retained lists arriving together are settled before one is chosen.
    static constexpr int kListSettleMs = 250;

    // The log keeps the records to send and the message ids already taken;
    // without one, ids are remembered only while running and nothing is sent.
    explicit ChainLink(PlayLog *log, QObject *parent = nullptr);
    ~ChainLink() override;

    // Connects with this configuration (stopping a running link first).
    // False, logged, when the configuration cannot be used.
    bool Start(const ChainConfig &config);
    // Marks the shop offline and disconnects; the session stays on the
    // broker, so messages sent meanwhile wait there.
    void Stop();
    State CurrentState() const { return m_state; }
    const ChainConfig &Config() const { return m_config; }

public slots:
    // Retained on …/status with "online" and "shop" added; sent again on every reconnect.
    void PublishStatus(const QJsonObject &status);
    // On …/events with "shop" and "time" added; kept until the link is up.
    void PublishEvent(const QJsonObject &event);
    // Sends the play log's records not yet acknowledged (connected to PlayLog::Recorded).
    void SendPlayed();

signals:
    void SayReceived(const QString &id, const QString &text, const QDateTime &notAfter, const QDateTime &at);
    void ListReceived(const QString &kind, const QByteArray &json);
    void LinkStateChanged(ChainLink::State state);
    // The broker refused the shop (wrong password, untrusted certificate):
    // told once until the link has been up again. The reason is for the window.
    void LinkRefused(const QString &reason);

private:
    // What the network thread shares with this object. A stop that cannot
    // wait (a name lookup hanging) leaves it to the thread, which ends it.
    struct Session;
    static void Run(const std::shared_ptr<Session> &session);
    static void OnConnect(mosquitto *, void *session, int rc);
    static void OnDisconnect(mosquitto *, void *session, int rc);
    static void OnMessage(mosquitto *, void *session, const mosquitto_message *message);
    static void OnPublish(mosquitto *, void *session, int mid);
    static void OnLog(mosquitto *, void *session, int level, const char *text);
    static void Subscribe(Session &session);

    // On this object's thread. from: the start of the link a report belongs to;
    // those of a start since stopped are dropped.
    void Connected(quint64 from);
    void Disconnected(quint64 from);
    void Failed(quint64 from, int rc, const QString &tlsError);
    void Refused(const QString &reason);
    void SetState(State state);
    void Acknowledged(quint64 from, int mid);
    void Received(const QByteArray &topic, const QByteArray &payload);
    void TakeSay(const QByteArray &payload);
    void TakeList(const QString &kind, int rank, const QByteArray &payload);
    void ChooseLists();
    bool Publish(const QByteArray &topic, const QJsonObject &json, bool retain, int *mid = nullptr);
    void Report(const QString &event, const QString &id, const QString &text, const QString &reason);
    QJsonObject StatusWith(bool online) const;

    PlayLog *m_log;
    ChainConfig m_config;
    std::shared_ptr<Session> m_session;
    quint64 m_generation = 0;
    std::thread m_thread;
    State m_state = State::Off;
    QString m_toldRefusal;
    QJsonObject m_status;
    QList<QJsonObject> m_pendingEvents;
    QHash<int, qint64> m_inFlight; // message id → play log row
    QSet<QString> m_seenHere;      // ids taken, without a play log
    // Per list kind, each scope's latest payload by rank (all 0, groups
    // 1…n, shop n+1) and the payload handed on last.
    QHash<QString, QMap<int, QByteArray>> m_lists;
    QHash<QString, QByteArray> m_handedOn;
    QTimer m_listSettle;
};

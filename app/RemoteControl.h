#pragma once

#include "app/HttpServer.h"

#include <QObject>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QSet>
#include <QString>

#include <deque>

class Shop;
class QTimer;

// A small JSON interface for other systems of the shop (a checkout, a door
// sensor, a phone): speak a text, press a mode's play or pause, ask for the
// state. Every request carries the bearer token; texts are only spoken.
//   POST /api/say {"text": "..."}         → 202 {"id": n}
//   GET  /api/say/<id>                     → {"id": n, "spoken": bool}
//   POST /api/modes/<word|price|timer>/<play|pause>
//   GET  /api/status                       → modes, music, what is spoken and waiting
//   GET|PUT /api/lists/<word|price|timer>  → the list as JSON (see ListJson)
//   POST /api/music/<play|pause>, PUT /api/music/volume {"volume": 0-100}
//   POST /api/pair {"code": "...", "name": "..."} → 201 {"token": "..."} (no token needed)
//   GET  /, /phone.js, /phone.css          → the phone page (no token needed)
class RemoteControl : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxBodyBytes = 16 * 1024;
    // A whole list: far above 10,000 price rows as JSON.
    static constexpr int kMaxListBodyBytes = 8 * 1024 * 1024;
    static constexpr int kRequestsPerSecond = 10;
    static constexpr int kPageRequestsPerSecond = 30; // the page's files, from one address
    // Far below the usual 1,024 descriptors, which the speech road and the
    // log need too.
    static constexpr int kMaxConnections = 32;
    static constexpr int kMaxConnectionsPerAddress = 8;
    static constexpr quint16 kDefaultPort = 8787;

    RemoteControl(Shop *shop, QObject *parent = nullptr);

    // Listens on 127.0.0.1 (or every address of the shop network); false
    // when the port cannot be had.
    bool Start(quint16 port, bool shopNetwork, const QByteArray &token);
    void Stop();
    bool IsListening() const { return m_listening; }
    // The port listened on (0 when not listening).
    quint16 Port() const;

    // The owner-only file that keeps the token, beside the settings.
    static QString TokenFilePath();
    // The stored token, made (32 random bytes, hex) and stored when missing
    // or when renew is set.
    static QByteArray Token(bool renew = false);
    // The phone page's files together (their size is what a phone loads).
    static QByteArray PhonePageBytes();
    // Answers a request as a connection would (screen, then route), with no
    // socket: for fuzzing the routing and the JSON.
    HttpReply Respond(HttpRequest request);

signals:
    // A phone was paired.
    void DevicesChanged();

private:
    struct Reply
    {
        int status;
        QJsonObject body;
        // A body that is not a JSON object (the play log as CSV or an array).
        QByteArray contentType = {};
        QByteArray raw = {};
    };
    bool Screen(HttpRequest &request, HttpReply *early);
    // Whether a Host header names this machine (an address of it, its name,
    // localhost), so that a page on a rebound name cannot reach it.
    bool NamesThisMachine(const QByteArray &host);
    void LearnMachineNames();
    // A stranger's refusal: counted, and summed up in one line a minute at most.
    void CountRefusal(const QHostAddress &peer);
    void SummariseRefusals();
    HttpReply Serve(const HttpRequest &request);
    Reply Handle(const HttpRequest &request);
    Reply Say(const HttpRequest &request);
    Reply Pair(const HttpRequest &request);
    Reply GetList(const QString &name) const;
    Reply PutList(const QString &name, const HttpRequest &request);
    Reply MusicVolume(const HttpRequest &request);
    static bool JsonBody(const HttpRequest &request, qint64 maxBytes, QJsonObject *object, Reply *refusal);
    Reply PressButton(const QString &mode, bool play);
    Reply Status() const;
    bool Authorized(const HttpRequest &request) const;
    bool OverRate(QHash<QString, std::deque<qint64>> *buckets, const QHostAddress &address, int perSecond);

    Shop *m_shop;
    QByteArray m_token;
    bool m_listening = false;
    HttpServer *m_http = nullptr;
    QSet<QByteArray> m_machineNames;     // lower case
    QList<QHostAddress> m_machineAddresses;
    qint64 m_namesLearnedMs = 0;
    QHash<QString, int> m_refusedBy;     // address → refusals since the last summary
    int m_refused = 0;
    QTimer *m_refusalSummary = nullptr;
    // Request times (ms) per address: with the token, and without it, so
    // that strangers never use up the token holder's allowance.
    QHash<QString, std::deque<qint64>> m_recent;
    QHash<QString, std::deque<qint64>> m_recentRefused;
    QHash<QString, std::deque<qint64>> m_recentPage;
};

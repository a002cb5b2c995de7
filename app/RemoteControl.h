#pragma once

#include <QAbstractHttpServer>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QString>

#include <deque>

class Parlivo;
class QTcpSocket;

// A small JSON interface for other systems of the shop (a checkout, a door
// sensor, a phone): speak a text, press a mode's play or pause, ask for the
// state. Every request carries the bearer token; texts are only spoken.
//   POST /api/say {"text": "..."}         → 202 {"id": n}
//   GET  /api/say/<id>                     → {"id": n, "spoken": bool}
//   POST /api/modes/<word|price|timer>/<play|pause>
//   GET  /api/status
class RemoteControl : public QAbstractHttpServer
{
    Q_OBJECT

public:
    static constexpr int kIndexBase = 0x3000000; // this interface's speech requests
    static constexpr int kIndexEnd = 0x4000000;
    static constexpr int kMaxBodyBytes = 16 * 1024;
    static constexpr int kMaxTextLength = 2000;
    static constexpr int kRequestsPerSecond = 10;
    static constexpr quint16 kDefaultPort = 8787;

    explicit RemoteControl(Parlivo *window);

    // Listens on 127.0.0.1 (or every address of the shop network); false
    // when the port cannot be had.
    bool Start(quint16 port, bool shopNetwork, const QByteArray &token);
    void Stop();
    bool IsListening() const { return m_listening; }

    // The owner-only file that keeps the token, beside the settings.
    static QString TokenFilePath();
    // The stored token, made (32 random bytes, hex) and stored when missing
    // or when renew is set.
    static QByteArray Token(bool renew = false);

public slots:
    // The worker's report for one of this interface's requests.
    void ActionFinished(int index);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Reply
    {
        int status;
        QJsonObject body;
    };
    Reply Handle(const QHttpServerRequest &request);
    Reply Say(const QHttpServerRequest &request);
    Reply PressButton(const QString &mode, const QString &button);
    Reply Status() const;
    bool Authorized(const QHttpServerRequest &request) const;
    bool OverRate(const QHostAddress &address);

    Parlivo *m_window;
    QByteArray m_token;
    bool m_listening = false;
    int m_nextId = 1;
    QHash<int, bool> m_spoken; // id → spoken yet
    QHash<QString, std::deque<qint64>> m_recent; // address → request times (ms)
};

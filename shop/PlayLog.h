#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QUrlQuery;

// One announcement really heard.
struct PlayRecord
{
    qint64 row = 0;     // the record's number in the log, unique in this shop
    QString id;         // a chain message's id; empty for the shop's own
    QString text;
    QString source;     // "word", "price", "timer", "remote" or "chain"
    QDateTime started;  // local time
    QDateTime ended;
};

// The shop's proof of play: every announcement heard, in an SQLite
// database (WAL, so a reader never stops a writer) in the data folder,
// kept kKeepDays. It is also the chain link's outbox (records not yet
// acknowledged by the broker) and remembers the chain message ids already
// taken, so a message delivered twice is spoken once. Used on one thread.
class PlayLog : public QObject
{
    Q_OBJECT

public:
    static constexpr int kKeepDays = 400;
    // A program running for weeks trims its log this often.
    static constexpr int kTrimEveryHours = 6;

    // Opens (creating) the database at path; DefaultPath() when empty.
    explicit PlayLog(const QString &path = QString(), QObject *parent = nullptr);
    ~PlayLog() override;
    // The data folder's "played.sqlite".
    static QString DefaultPath();
    bool IsOpen() const { return m_open; }

    // The source name of an announcer source number (Announcer::Source), "chain" past them.
    static QString SourceName(int announcerSource);

    // Records from started >= from to started < to, oldest first; of one
    // source unless source is empty.
    QList<PlayRecord> Query(const QDateTime &from, const QDateTime &to, const QString &source = QString()) const;
    // The same as CSV (UTF-8 with a byte order mark, CRLF, a header line),
    // read straight from the database.
    QByteArray Csv(const QDateTime &from, const QDateTime &to, const QString &source = QString()) const;
    QJsonArray Json(const QDateTime &from, const QDateTime &to, const QString &source = QString()) const;
    static QJsonObject ToJson(const PlayRecord &record);

    // GET /api/played?from=…&to=…[&source=…]: from and to are days
    // ("2026-12-01", to included) or ISO times; JSON, or CSV when the
    // Accept header asks for text/csv. A bad query answers 400 with why.
    struct Answer
    {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
    };
    Answer AnswerRequest(const QUrlQuery &query, const QByteArray &accept) const;

    // Removes records (and remembered chain ids) older than kKeepDays
    // before now; done on opening and every kTrimEveryHours.
    int Trim(const QDateTime &now = QDateTime::currentDateTime());

    // The outbox: records the chain has not yet acknowledged, oldest first,
    // at most limit, none of those in skip.
    QList<PlayRecord> Unpublished(int limit, const QList<qint64> &skip = {}) const;
    void MarkPublished(qint64 row);

    // A chain message id: whether it was taken before; Remember notes it.
    bool Seen(const QString &chainId) const;
    void Remember(const QString &chainId);

public slots:
    // Adds a heard announcement; its row (0 when it could not be written).
    qint64 Record(const QString &id, const QString &text, const QString &source, const QDateTime &started,
                  const QDateTime &ended);

signals:
    // A record was added (the chain sends it on when its link is up).
    void Recorded(qint64 row);

private:
    bool Open(const QString &path);
    bool Exec(const QString &sql) const;

    QString m_connection;
    bool m_open = false;
    QTimer m_trim;
};

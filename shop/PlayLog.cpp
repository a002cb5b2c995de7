#include "shop/PlayLog.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "speech/Announcer.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrlQuery>
#include <QVariant>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr qint64 kDayMs = 24LL * 3600 * 1000;

const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS played ("
    " row INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT NOT NULL DEFAULT '', text TEXT NOT NULL,"
    " source TEXT NOT NULL, started INTEGER NOT NULL, ended INTEGER NOT NULL,"
    " published INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX IF NOT EXISTS played_started ON played(started)",
    "CREATE INDEX IF NOT EXISTS played_outbox ON played(row) WHERE published = 0",
    "CREATE TABLE IF NOT EXISTS chain_seen (id TEXT PRIMARY KEY, seen INTEGER NOT NULL)",
};

// Every log gets a connection of its own (several may be open in tests).
QString NewConnectionName()
{
    static QAtomicInt next;
    return QStringLiteral("playlog-%1").arg(next.fetchAndAddRelaxed(1));
}

QDateTime FromMs(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms);
}

QString Stamp(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// ISO 8601 local times with their offset, as Stamp() writes them, but
// without a time zone lookup for every record: the offset is looked up
// once an hour of records (zones change on the hour).
class StampWriter
{
public:
    void AppendTo(QByteArray *out, qint64 ms)
    {
        const qint64 hour = FloorDiv(ms, 3600000);
        if (hour != m_hour) {
            m_hour = hour;
            m_offsetSeconds = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
        }
        const qint64 local = ms + m_offsetSeconds * 1000LL;
        const qint64 day = FloorDiv(local, kDayMs);
        const qint64 inDay = local - day * kDayMs;
        int year = 0, month = 0, dayOfMonth = 0;
        QDate(1970, 1, 1).addDays(day).getDate(&year, &month, &dayOfMonth);
        const int offsetMinutes = qAbs(m_offsetSeconds) / 60;
        char text[40];
        const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", year, month,
                                    dayOfMonth, int(inDay / 3600000), int(inDay / 60000 % 60), int(inDay / 1000 % 60),
                                    int(inDay % 1000), m_offsetSeconds < 0 ? '-' : '+', offsetMinutes / 60,
                                    offsetMinutes % 60);
        out->append(text, n);
    }

private:
    static qint64 FloorDiv(qint64 a, qint64 b) { return a / b - (a % b < 0 ? 1 : 0); }

    qint64 m_hour = std::numeric_limits<qint64>::min();
    int m_offsetSeconds = 0;
};

// The range and source clause shared by the queries.
QSqlQuery RangeQuery(const QSqlDatabase &db, const QString &columns, const QDateTime &from, const QDateTime &to,
                     const QString &source)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM played WHERE started >= ? AND started < ?%2 ORDER BY started, row")
                      .arg(columns, source.isEmpty() ? QString() : QStringLiteral(" AND source = ?")));
    query.addBindValue(from.toMSecsSinceEpoch());
    query.addBindValue(to.toMSecsSinceEpoch());
    if (!source.isEmpty())
        query.addBindValue(source);
    if (!query.exec())
        PLOG(LOG_ERROR, "play log query failed: %s", qPrintable(query.lastError().text()));
    return query;
}

const QString kColumns = QStringLiteral("row, id, text, source, started, ended");

PlayRecord ReadRow(const QSqlQuery &query)
{
    return {query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toString(),
            query.value(3).toString(), FromMs(query.value(4).toLongLong()), FromMs(query.value(5).toLongLong())};
}

// One CSV cell: quoted when it holds a separator, a quote or a line break;
// a leading = + - @ is defused so a spreadsheet never runs a received text
// as a formula.
void AppendCell(QByteArray *out, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    const bool formula = !utf8.isEmpty() && std::strchr("=+-@", utf8.front()) != nullptr;
    const bool quote = std::any_of(utf8.cbegin(), utf8.cend(), [](char c) { return c == ',' || c == '"' || c == '\n' || c == '\r'; });
    if (!formula && !quote) {
        out->append(utf8);
        return;
    }
    if (quote)
        out->append('"');
    if (formula)
        out->append('\'');
    out->append(quote ? QByteArray(utf8).replace("\"", "\"\"") : utf8);
    if (quote)
        out->append('"');
}

// A "from" or "to" of the query string: a day (to: through its end) or a time.
bool ParseBound(const QString &text, bool end, QDateTime *out)
{
    const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (day.isValid()) {
        *out = (end ? day.addDays(1) : day).startOfDay();
        return true;
    }
    *out = QDateTime::fromString(text, Qt::ISODateWithMs);
    return out->isValid();
}

} // namespace

PlayLog::PlayLog(const QString &path, QObject *parent) : QObject(parent), m_connection(NewConnectionName())
{
    m_open = Open(path.isEmpty() ? DefaultPath() : path);
    if (!m_open)
        return;
    Trim();
    m_trim.setInterval(std::chrono::hours(kTrimEveryHours));
    connect(&m_trim, &QTimer::timeout, this, [this] { Trim(); });
    m_trim.start();
}

PlayLog::~PlayLog()
{
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

QString PlayLog::DefaultPath()
{
    return AppPaths::DataDir() + QStringLiteral("/played.sqlite");
}

bool PlayLog::Open(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path);
    if (!db.open()) {
        PLOG(LOG_ERROR, "cannot open the play log %s: %s", qPrintable(path), qPrintable(db.lastError().text()));
        return false;
    }
    // WAL: the window's queries never hold up a record being written; a
    // power cut loses at most the last records, never the database.
    bool ok = Exec(QStringLiteral("PRAGMA journal_mode=WAL")) && Exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    for (const char *statement : kSchema)
        ok = ok && Exec(QString::fromLatin1(statement));
    if (!ok)
        PLOG(LOG_ERROR, "the play log %s cannot be used", qPrintable(path));
    return ok;
}

bool PlayLog::Exec(const QString &sql) const
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(sql))
        return true;
    PLOG(LOG_ERROR, "play log: %s failed: %s", qPrintable(sql.left(60)), qPrintable(query.lastError().text()));
    return false;
}

QString PlayLog::SourceName(int announcerSource)
{
    // Sources past the shop's own four are the chain's.
    switch (announcerSource) {
    case Announcer::Word:
        return QStringLiteral("word");
    case Announcer::Price:
        return QStringLiteral("price");
    case Announcer::Timer:
        return QStringLiteral("timer");
    case Announcer::Remote:
        return QStringLiteral("remote");
    default:
        return QStringLiteral("chain");
    }
}

qint64 PlayLog::Record(const QString &id, const QString &text, const QString &source, const QDateTime &started,
                       const QDateTime &ended)
{
    if (!m_open)
        return 0;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("INSERT INTO played (id, text, source, started, ended) VALUES (?, ?, ?, ?, ?)"));
    // A null QString would bind as NULL, which the columns refuse.
    auto notNull = [](const QString &value) { return value.isNull() ? QStringLiteral("") : value; };
    query.addBindValue(notNull(id));
    query.addBindValue(notNull(text));
    query.addBindValue(notNull(source));
    query.addBindValue(started.toMSecsSinceEpoch());
    query.addBindValue(ended.toMSecsSinceEpoch());
    if (!query.exec()) {
        PLOG(LOG_ERROR, "play log: a record was not written: %s", qPrintable(query.lastError().text()));
        return 0;
    }
    const qint64 row = query.lastInsertId().toLongLong();
    emit Recorded(row);
    return row;
}

QList<PlayRecord> PlayLog::Query(const QDateTime &from, const QDateTime &to, const QString &source) const
{
    QList<PlayRecord> records;
    QSqlQuery query = RangeQuery(QSqlDatabase::database(m_connection, false), kColumns, from, to, source);
    while (query.next())
        records.append(ReadRow(query));
    return records;
}

QByteArray PlayLog::Csv(const QDateTime &from, const QDateTime &to, const QString &source) const
{
    QByteArray out("\xEF\xBB\xBFid,text,source,started,ended\r\n");
    QSqlQuery query = RangeQuery(QSqlDatabase::database(m_connection, false), kColumns, from, to, source);
    out.reserve(1 << 20);
    StampWriter stamps;
    while (query.next()) {
        AppendCell(&out, query.value(1).toString());
        out += ',';
        AppendCell(&out, query.value(2).toString());
        out += ',';
        AppendCell(&out, query.value(3).toString());
        out += ',';
        stamps.AppendTo(&out, query.value(4).toLongLong());
        out += ',';
        stamps.AppendTo(&out, query.value(5).toLongLong());
        out += "\r\n";
    }
    return out;
}

QJsonObject PlayLog::ToJson(const PlayRecord &record)
{
    QJsonObject o{{QStringLiteral("text"), record.text},
                  {QStringLiteral("source"), record.source},
                  {QStringLiteral("started"), Stamp(record.started)},
                  {QStringLiteral("ended"), Stamp(record.ended)},
                  {QStringLiteral("record"), record.row}};
    if (!record.id.isEmpty())
        o.insert(QStringLiteral("id"), record.id);
    return o;
}

QJsonArray PlayLog::Json(const QDateTime &from, const QDateTime &to, const QString &source) const
{
    QJsonArray array;
    QSqlQuery query = RangeQuery(QSqlDatabase::database(m_connection, false), kColumns, from, to, source);
    while (query.next())
        array.append(ToJson(ReadRow(query)));
    return array;
}

PlayLog::Answer PlayLog::AnswerRequest(const QUrlQuery &query, const QByteArray &accept) const
{
    auto refuse = [](const QString &why) {
        return Answer{400, "application/json",
                      QJsonDocument(QJsonObject{{QStringLiteral("error"), why}}).toJson(QJsonDocument::Compact)};
    };
    QDateTime from, to;
    const QString fromText = query.queryItemValue(QStringLiteral("from"), QUrl::FullyDecoded);
    const QString toText = query.queryItemValue(QStringLiteral("to"), QUrl::FullyDecoded);
    if (!ParseBound(fromText, false, &from))
        return refuse(QStringLiteral("from must be a day \"yyyy-MM-dd\" or an ISO time"));
    if (toText.isEmpty())
        to = QDateTime::currentDateTime().addSecs(1);
    else if (!ParseBound(toText, true, &to))
        return refuse(QStringLiteral("to must be a day \"yyyy-MM-dd\" or an ISO time"));
    const QString source = query.queryItemValue(QStringLiteral("source"), QUrl::FullyDecoded);
    if (accept.contains("text/csv"))
        return {200, "text/csv; charset=utf-8", Csv(from, to, source)};
    return {200, "application/json", QJsonDocument(Json(from, to, source)).toJson(QJsonDocument::Compact)};
}

int PlayLog::Trim(const QDateTime &now)
{
    if (!m_open)
        return 0;
    const qint64 oldest = now.toMSecsSinceEpoch() - kKeepDays * kDayMs;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    query.prepare(QStringLiteral("DELETE FROM played WHERE started < ?"));
    query.addBindValue(oldest);
    if (!query.exec())
        return 0;
    const int removed = query.numRowsAffected();
    QSqlQuery seen(db);
    seen.prepare(QStringLiteral("DELETE FROM chain_seen WHERE seen < ?"));
    seen.addBindValue(oldest);
    seen.exec();
    if (removed > 0)
        PLOG(LOG_INFO, "play log: %d records older than %d days removed", removed, kKeepDays);
    return removed;
}

QList<PlayRecord> PlayLog::Unpublished(int limit, const QList<qint64> &skip) const
{
    QList<PlayRecord> records;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM played WHERE published = 0 ORDER BY row LIMIT ?").arg(kColumns));
    query.addBindValue(limit + skip.size());
    if (!query.exec())
        return records;
    while (query.next() && records.size() < limit) {
        const PlayRecord record = ReadRow(query);
        if (!skip.contains(record.row))
            records.append(record);
    }
    return records;
}

void PlayLog::MarkPublished(qint64 row)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("UPDATE played SET published = 1 WHERE row = ?"));
    query.addBindValue(row);
    if (!query.exec())
        PLOG(LOG_ERROR, "play log: record %lld not marked as sent: %s", row, qPrintable(query.lastError().text()));
}

bool PlayLog::Seen(const QString &chainId) const
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT 1 FROM chain_seen WHERE id = ?"));
    query.addBindValue(chainId);
    return query.exec() && query.next();
}

void PlayLog::Remember(const QString &chainId)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("INSERT OR IGNORE INTO chain_seen (id, seen) VALUES (?, ?)"));
    query.addBindValue(chainId);
    query.addBindValue(QDateTime::currentMSecsSinceEpoch());
    if (!query.exec())
        PLOG(LOG_ERROR, "play log: chain id not remembered: %s", qPrintable(query.lastError().text()));
}

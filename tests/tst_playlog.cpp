// The play log in its real SQLite file: records, queries, CSV and JSON
// exports, the HTTP answer, the 400-day trim and the chain's outbox.
#include "shop/PlayLog.h"
#include "TestEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <QtTest>

class TestPlayLog : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { IsolateUserDirs(); }

    void recordsQueriesAndExports()
    {
        const QString path = m_dir.filePath("played.sqlite");
        const QDateTime day(QDate(2026, 12, 24), QTime(9, 0));
        {
            PlayLog log(path);
            QVERIFY(log.IsOpen());
            const struct
            {
                const char *id, *text, *source;
                int dayOffset, minute;
            } records[] = {
                {"", "欢迎光临。", "word", 0, 0},
                {"", "苹果，3.5元/斤", "price", 0, 5},
                {"", "=HYPERLINK(\"x\") 说 \"你好\"\n第二行", "remote", 0, 10},
                {"m-1", "十五分钟后闭店。", "chain", 1, 0},
                {"", "早上好。", "timer", 2, 0},
            };
            for (const auto &r : records) {
                const QDateTime started = day.addDays(r.dayOffset).addSecs(r.minute * 60);
                QVERIFY(log.Record(r.id, r.text, r.source, started, started.addSecs(4)) > 0);
            }
        }
        PlayLog log(path); // opened again: nothing lost
        QCOMPARE(ReadFile(path).mid(18, 2), QByteArray("\x02\x02", 2)); // the file is in WAL mode

        const QDateTime from = day.date().startOfDay(), to = day.date().addDays(2).startOfDay();
        auto texts = [](const QList<PlayRecord> &records) {
            QStringList texts;
            for (const PlayRecord &r : records)
                texts << r.source;
            return texts;
        };
        QCOMPARE(texts(log.Query(from, to)), QStringList({"word", "price", "remote", "chain"}));
        QCOMPARE(texts(log.Query(from, to, "chain")), QStringList({"chain"}));
        QCOMPARE(texts(log.Query(from.addDays(2), from.addDays(3))), QStringList({"timer"}));
        const PlayRecord chain = log.Query(from, to, "chain").first();
        QCOMPARE(chain.id, QString("m-1"));
        QCOMPARE(chain.started, day.addDays(1));
        QCOMPARE(chain.ended, day.addDays(1).addSecs(4));

        // CSV: a byte order mark for spreadsheets, quoted cells, a formula defused.
        const QByteArray csv = log.Csv(from, to);
        QVERIFY(csv.startsWith("\xEF\xBB\xBFid,text,source,started,ended\r\n"));
        const QList<QByteArray> lines = csv.split('\n');
        QCOMPARE(csv.count("\r\n"), 5); // header and four records; a text's own line break stays in its cell
        QVERIFY(lines[1].startsWith(",欢迎光临。,word,2026-12-24T09:00:00.000"));
        QVERIFY(lines[2].startsWith(",苹果，3.5元/斤,price,"));
        QVERIFY(csv.contains(",\"'=HYPERLINK(\"\"x\"\") 说 \"\"你好\"\"\n第二行\",remote,"));
        QVERIFY(csv.contains("m-1,十五分钟后闭店。,chain,"));

        // GET /api/played: JSON by default, CSV on request, days inclusive.
        const PlayLog::Answer json = log.AnswerRequest(QUrlQuery("from=2026-12-24&to=2026-12-25"), "application/json");
        QCOMPARE(json.status, 200);
        const QJsonArray array = QJsonDocument::fromJson(json.body).array();
        QCOMPARE(array.size(), 4);
        QCOMPARE(array[3].toObject()["id"].toString(), QString("m-1"));
        QCOMPARE(QDateTime::fromString(array[0].toObject()["started"].toString(), Qt::ISODateWithMs), day);
        const PlayLog::Answer asCsv = log.AnswerRequest(QUrlQuery("from=2026-12-26&to=2026-12-26"), "text/csv");
        QCOMPARE(asCsv.contentType, QByteArray("text/csv; charset=utf-8"));
        QCOMPARE(asCsv.body.count("\r\n"), 2);
        QCOMPARE(log.AnswerRequest(QUrlQuery("from=2026-12-24&to=2026-12-24&source=price"), "").body.count("\"price\""), 1);
        QCOMPARE(log.AnswerRequest(QUrlQuery("from=yesterday"), "").status, 400);
        QCOMPARE(log.AnswerRequest(QUrlQuery("from=2026-12-24&to=2026-99-01"), "").status, 400);
    }

    // Kept 400 days: older records (and remembered chain ids) go, younger stay.
    void trimAfter400Days()
    {
        PlayLog log(m_dir.filePath("trim.sqlite"));
        const QDateTime now(QDate(2027, 6, 1), QTime(12, 0));
        for (const int daysAgo : {401, 400, 399, 1}) {
            const QDateTime started = now.addDays(-daysAgo).addSecs(daysAgo == 400 ? 60 : 0);
            log.Record("", QString("%1 days ago").arg(daysAgo), "word", started, started.addSecs(2));
        }
        QCOMPARE(log.Trim(now), 1);
        QCOMPARE(log.Query(now.addYears(-2), now).size(), 3);
        QCOMPARE(log.Trim(now.addDays(2)), 2);
        QCOMPARE(log.Query(now.addYears(-2), now).first().text, QString("1 days ago"));
    }

    // The outbox: unacknowledged records oldest first, those in flight
    // skipped, acknowledged ones gone; chain ids remembered across opening.
    void outboxAndSeenIds()
    {
        const QString path = m_dir.filePath("outbox.sqlite");
        {
            PlayLog log(path);
            QSignalSpy recorded(&log, &PlayLog::Recorded);
            const QDateTime t = QDateTime::currentDateTime();
            for (int i = 1; i <= 5; ++i) // a null id is an empty one
                QCOMPARE(log.Record(QString(), QString::number(i), "word", t, t), qint64(i));
            QCOMPARE(recorded.count(), 5);
            QCOMPARE(log.Unpublished(2).size(), 2);
            QCOMPARE(log.Unpublished(10, {1, 2}).first().row, 3);
            log.MarkPublished(1);
            log.MarkPublished(3);
            QVERIFY(!log.Seen("m-1"));
            log.Remember("m-1");
            log.Remember("m-1");
        }
        PlayLog log(path);
        QList<qint64> rows;
        for (const PlayRecord &r : log.Unpublished(10))
            rows << r.row;
        QCOMPARE(rows, QList<qint64>({2, 4, 5}));
        QVERIFY(log.Seen("m-1"));
        QVERIFY(!log.Seen("m-2"));
    }
};

QTEST_GUILESS_MAIN(TestPlayLog)
#include "tst_playlog.moc"

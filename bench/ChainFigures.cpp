#include "ChainFigures.h"

#include "app/ChainLink.h"
#include "shop/PlayLog.h"
#include "TestBroker.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

#include <mosquitto.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kSaySamples = 50;
constexpr int kFanoutShops = 20;
constexpr int kFanoutSamples = 10;
constexpr int kMonthRecords = 100000;
constexpr int kGuardMs = 30000;

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Spins the event loop until done() or the guard passes.
template <typename Done>
bool WaitFor(Done done)
{
    QElapsedTimer guard;
    guard.start();
    while (!done()) {
        if (guard.elapsed() > kGuardMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Head office: a plain libmosquitto client publishing says at QoS 1.
class Office
{
public:
    explicit Office(quint16 port)
    {
        m_mosq = mosquitto_new("bench-office", true, nullptr);
        mosquitto_username_pw_set(m_mosq, "head", TestBroker::kHeadPassword);
        m_ok = mosquitto_connect(m_mosq, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS
               && mosquitto_loop_start(m_mosq) == MOSQ_ERR_SUCCESS;
    }
    ~Office()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }
    bool Ok() const { return m_ok; }
    void Say(const char *topic, const QString &id)
    {
        const QByteArray payload =
            QJsonDocument(QJsonObject{{"id", id}, {"text", QStringLiteral("各位顾客，本店将于十五分钟后闭店。")}})
                .toJson(QJsonDocument::Compact);
        mosquitto_publish(m_mosq, nullptr, topic, int(payload.size()), payload.constData(), 1, false);
    }

private:
    mosquitto *m_mosq = nullptr;
    bool m_ok = false;
};

struct Link
{
    std::unique_ptr<PlayLog> log;
    std::unique_ptr<ChainLink> link;
    QString last;
};

} // namespace

ChainFigures::Chain ChainFigures::Measure(const QString &folder)
{
    Chain figures;
    TestBroker broker;
    if (!broker.Make() || !broker.Start())
        return figures;
    std::vector<Link> links(kFanoutShops);
    for (int i = 0; i < kFanoutShops; ++i) {
        Link &l = links[i];
        l.log = std::make_unique<PlayLog>(QStringLiteral("%1/chain-%2.sqlite").arg(folder).arg(i));
        l.link = std::make_unique<ChainLink>(l.log.get());
        QObject::connect(l.link.get(), &ChainLink::SayReceived, l.link.get(),
                         [&l](const QString &id) { l.last = id; });
        if (!l.link->Start(broker.Config(QStringLiteral("B%1").arg(i, 3, 10, QLatin1Char('0')), {})))
            return figures;
    }
    const bool online = WaitFor([&] {
        return std::all_of(links.begin(), links.end(),
                           [](const Link &l) { return l.link->CurrentState() == ChainLink::State::Online; });
    });
    if (!online || !broker.WaitForLog("SUBACK to parlivo-B019"))
        return figures;
    Office office(broker.Port());
    if (!office.Ok())
        return figures;

    // The median time from publishing samples says to topic until the
    // shops that must have it (first count of links) all have it; -1 on a hang.
    auto median = [&](const char *topic, int samples, size_t count) {
        std::vector<double> times;
        for (int i = 0; i < samples; ++i) {
            const QString id = QStringLiteral("%1-%2").arg(QLatin1String(topic)).arg(i);
            QElapsedTimer clock;
            clock.start();
            office.Say(topic, id);
            if (!WaitFor([&] { return std::all_of(links.begin(), links.begin() + count, [&id](const Link &l) { return l.last == id; }); }))
                return -1.0;
            times.push_back(clock.nsecsElapsed() / 1e6);
        }
        return Median(times);
    };
    figures.sayToReceivedMs = median("parlivo/say/shop/B000", kSaySamples, 1);
    figures.fanoutMs = median("parlivo/say/all", kFanoutSamples, links.size());
    return figures;
}

double ChainFigures::PlayedQueryMs(const QString &folder)
{
    const QString path = folder + QStringLiteral("/month.sqlite");
    const QDateTime start = QDateTime::currentDateTime().addDays(-30);
    {
        PlayLog create(path); // the schema
    }
    {
        // A busy month written in one transaction: the figure is the export, not the filling.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-fill"));
        db.setDatabaseName(path);
        if (!db.open()) {
            qWarning("played_query: no database");
            return -1;
        }
        db.transaction();
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("INSERT INTO played (id, text, source, started, ended, published) VALUES (?, ?, ?, ?, ?, 1)"));
        const char *const sources[] = {"word", "price", "timer", "remote", "chain"};
        const qint64 stepMs = 30LL * 24 * 3600 * 1000 / kMonthRecords;
        for (int i = 0; i < kMonthRecords; ++i) {
            const qint64 at = start.toMSecsSinceEpoch() + i * stepMs;
            insert.bindValue(0, i % 5 == 4 ? QStringLiteral("m-%1").arg(i) : QStringLiteral(""));
            insert.bindValue(1, QStringLiteral("今日特价：鸡蛋4块9毛9一斤，每人限购两斤。第%1条").arg(i));
            insert.bindValue(2, QString::fromLatin1(sources[i % 5]));
            insert.bindValue(3, at);
            insert.bindValue(4, at + 6000);
            if (!insert.exec()) {
                qWarning("played_query: %s", qPrintable(insert.lastError().text()));
                return -1;
            }
        }
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-fill"));
    PlayLog log(path);
    QElapsedTimer clock;
    clock.start();
    const QByteArray csv = log.Csv(start, QDateTime::currentDateTime().addSecs(1));
    const double ms = clock.nsecsElapsed() / 1e6;
    if (csv.count('\n') != kMonthRecords + 1)
        qWarning("played_query: %lld lines", qint64(csv.count('\n')));
    return csv.count('\n') == kMonthRecords + 1 ? ms : -1;
}

#include "app/ChainRoad.h"

#include "app/ChainLink.h"
#include "core/Log.h"
#include "shop/ListJson.h"
#include "shop/PriceListModel.h"
#include "shop/Shop.h"
#include "shop/ShopSettings.h"
#include "shop/TaskListModel.h"
#include "shop/WordListModel.h"
#include "speech/Announcer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace {

QString ListVersion(const QJsonObject &list)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QJsonDocument(list).toJson(QJsonDocument::Compact), QCryptographicHash::Sha256)
            .toHex()
            .left(16));
}

} // namespace

ChainRoad::ChainRoad(Shop *shop, QObject *parent)
    : QObject(parent), m_shop(shop), m_link(new ChainLink(shop->Played(), this))
{
    connect(m_link, &ChainLink::SayReceived, this, &ChainRoad::Say);
    connect(m_link, &ChainLink::ListReceived, this, &ChainRoad::TakeList);
    connect(m_link, &ChainLink::LinkStateChanged, this, [this](ChainLink::State state) {
        if (state == ChainLink::State::Online)
            PublishStatus();
    });
    auto *every = new QTimer(this);
    connect(every, &QTimer::timeout, this, &ChainRoad::PublishStatus);
    every->start(kStatusEveryMs);
    for (QAbstractItemModel *list : {static_cast<QAbstractItemModel *>(shop->Words()),
                                     static_cast<QAbstractItemModel *>(shop->Prices()),
                                     static_cast<QAbstractItemModel *>(shop->Tasks())})
        connect(list, &QAbstractItemModel::modelReset, this, &ChainRoad::PublishStatus);
    connect(&shop->Settings(), &ShopSettings::Changed, this, &ChainRoad::Apply);
}

void ChainRoad::Apply()
{
    const ChainConfig &wanted = m_shop->Settings().Chain();
    if (!wanted.Enabled()) {
        if (m_link->CurrentState() != ChainLink::State::Off)
            m_link->Stop();
        return;
    }
    const ChainConfig &running = m_link->Config();
    const bool same = m_link->CurrentState() != ChainLink::State::Off && running.broker == wanted.broker
                      && running.shop == wanted.shop && running.groups == wanted.groups && running.user == wanted.user
                      && running.prefix == wanted.prefix && running.caFile == wanted.caFile
                      && running.password == wanted.password;
    if (!same)
        m_link->Start(wanted);
}

// A text at its clock time (or now), never after its last moment.
void ChainRoad::Say(const QString &id, const QString &text, const QDateTime &notAfter, const QDateTime &at)
{
    const qint64 wait = at.isValid() ? QDateTime::currentDateTime().msecsTo(at) : 0;
    if (wait <= 0) {
        SayNow(id, text, notAfter);
        return;
    }
    PLOG(LOG_INFO, "chain message %s will be spoken at %s", qPrintable(id), qPrintable(at.toString(Qt::ISODate)));
    QTimer::singleShot(wait, this, [this, id, text, notAfter] { SayNow(id, text, notAfter); });
}

void ChainRoad::SayNow(const QString &id, const QString &text, const QDateTime &notAfter)
{
    if (notAfter.isValid() && QDateTime::currentDateTime() > notAfter) {
        m_link->PublishEvent({{QStringLiteral("event"), QStringLiteral("expired")}, {QStringLiteral("id"), id}});
        return;
    }
    QString refusal;
    if (m_shop->SayForChain(id, text, &refusal) == 0)
        Refused(QStringLiteral("say"), id, -1, QStringLiteral("text"), refusal);
}

// A list from head office goes through the same checks as a list put over
// HTTP; a refused one changes nothing and is reported with its row and field.
void ChainRoad::TakeList(const QString &kind, const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        Refused(kind, QString(), -1, QString(), QStringLiteral("the list is not a JSON object"));
        return;
    }
    ListJson::Fault fault;
    bool ok = false;
    if (kind == QLatin1String("word")) {
        WordList words;
        if ((ok = ListJson::ToWords(document.object(), &words, &fault)))
            m_shop->Words()->Replace(words);
    } else if (kind == QLatin1String("price")) {
        PriceList prices;
        if ((ok = ListJson::ToPrices(document.object(), &prices, &fault)))
            m_shop->Prices()->Replace(prices);
    } else if (kind == QLatin1String("timer")) {
        TaskList tasks;
        if ((ok = ListJson::ToTasks(document.object(), &tasks, &fault)))
            m_shop->Tasks()->Replace(tasks);
    } else {
        fault = {-1, QString(), QStringLiteral("no such list")};
    }
    if (ok)
        PLOG(LOG_INFO, "the %s list was replaced from head office", qPrintable(kind));
    else
        Refused(kind, QString(), fault.row, fault.field, fault.message);
}

void ChainRoad::Refused(const QString &kind, const QString &id, int row, const QString &field, const QString &reason)
{
    PLOG(LOG_WARNING, "from head office, refused (%s): %s", qPrintable(kind), qPrintable(reason));
    QJsonObject event{{QStringLiteral("event"), QStringLiteral("refused")},
                      {QStringLiteral("kind"), kind},
                      {QStringLiteral("reason"), reason}};
    if (!id.isEmpty())
        event.insert(QStringLiteral("id"), id);
    if (row >= 0)
        event.insert(QStringLiteral("row"), row);
    if (!field.isEmpty())
        event.insert(QStringLiteral("field"), field);
    m_link->PublishEvent(event);
}

void ChainRoad::PublishStatus()
{
    if (m_link->CurrentState() != ChainLink::State::Online)
        return;
    QJsonObject lists{{QStringLiteral("word"), ListVersion(ListJson::FromWords(m_shop->Words()->List()))},
                      {QStringLiteral("price"), ListVersion(ListJson::FromPrices(m_shop->Prices()->List()))},
                      {QStringLiteral("timer"), ListVersion(ListJson::FromTasks(m_shop->Tasks()->List()))}};
    m_link->PublishStatus({{QStringLiteral("version"), QCoreApplication::applicationVersion()},
                           {QStringLiteral("speaking"), m_shop->Speech()->Sounding()},
                           {QStringLiteral("waiting"), QJsonArray::fromStringList(m_shop->Speech()->Waiting())},
                           {QStringLiteral("lists"), lists}});
}

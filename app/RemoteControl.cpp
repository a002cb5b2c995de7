#include "shop/ShopSettings.h"
#include "app/RemoteControl.h"

#include "core/Log.h"
#include "core/RemoteAccess.h"
#include "shop/JsonNumbers.h"
#include "shop/ListJson.h"
#include "shop/PlayLog.h"
#include "shop/PriceListModel.h"
#include "shop/RemoteTexts.h"
#include "shop/Shop.h"
#include "shop/TaskListModel.h"
#include "shop/WordListModel.h"
#include "speech/Announcer.h"
#include "core/SmallFile.h"
#include "core/StoredFile.h"
#include "music/MusicPlayer.h"
#include "music/PlayList.h"
#include "core/SettingsValues.h"
#include "speech/Speake.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QRandomGenerator>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QTimer>

#include <algorithm>

namespace {

QJsonObject Error(const QString &message)
{
    return QJsonObject{{QStringLiteral("error"), message}};
}

// The phone page's files, built into the program.
struct Asset
{
    const char *path;
    const char *resource;
    const char *type;
};
const Asset kAssets[] = {
    {"/", ":/phone/index.html", "text/html; charset=utf-8"},
    {"/phone.js", ":/phone/phone.js", "text/javascript; charset=utf-8"},
    {"/phone.css", ":/phone/phone.css", "text/css; charset=utf-8"},
    {"/favicon.ico", nullptr, nullptr}, // none: answered 204, so browsers stop asking
};

// Nothing but the page's own files, no inline script or style, no frames,
// no forms sent elsewhere.
const QByteArray kPageHeaders = "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
                                "connect-src 'self'; img-src 'self'; base-uri 'none'; form-action 'none'; "
                                "frame-ancestors 'none'\r\n"
                                "X-Frame-Options: DENY\r\n"
                                "Referrer-Policy: no-referrer\r\n";

const Asset *AssetAt(const QByteArray &path)
{
    for (const Asset &asset : kAssets)
        if (path == asset.path)
            return &asset;
    return nullptr;
}

} // namespace

RemoteControl::RemoteControl(Shop *shop, QObject *parent) : QObject(parent), m_shop(shop) {}

QString RemoteControl::TokenFilePath()
{
    return RemoteAccess::TokenFile(ShopSettings::Folder());
}

QByteArray RemoteControl::Token(bool renew)
{
    return RemoteAccess::MachineToken(ShopSettings::Folder(), renew);
}

QByteArray RemoteControl::PhonePageBytes()
{
    QByteArray all;
    for (const Asset &asset : kAssets) {
        if (!asset.resource)
            continue;
        QFile file(QString::fromLatin1(asset.resource));
        if (file.open(QIODevice::ReadOnly))
            all += file.readAll();
    }
    return all;
}

bool RemoteControl::Start(quint16 port, bool shopNetwork, const QByteArray &token)
{
    Stop();
    m_token = token;
    LearnMachineNames();
    m_http = new HttpServer([this](HttpRequest &r, HttpReply *early) { return Screen(r, early); },
                            [this](const HttpRequest &r) { return Serve(r); }, this);
    HttpServer::Limits limits;
    limits.maxConnections = kMaxConnections;
    limits.maxPerAddress = kMaxConnectionsPerAddress;
    limits.maxBody = kMaxBodyBytes;
    if (!m_http->Listen(shopNetwork ? QHostAddress::Any : QHostAddress::LocalHost, port, limits)) {
        PLOG(LOG_ERROR, "remote control cannot listen on port %u", port);
        delete m_http;
        m_http = nullptr;
        return false;
    }
    m_listening = true;
    PLOG(LOG_INFO, "remote control listening on %s:%u", shopNetwork ? "0.0.0.0" : "127.0.0.1", port);
    return true;
}

void RemoteControl::Stop()
{
    delete m_http; // closes the port and answers what waits
    m_http = nullptr;
    m_listening = false;
}

void RemoteControl::LearnMachineNames()
{
    const QString host = QHostInfo::localHostName().toLower();
    m_machineNames = {QByteArrayLiteral("localhost"), host.toUtf8(), (host + QStringLiteral(".local")).toUtf8()};
    if (!QHostInfo::localDomainName().isEmpty())
        m_machineNames.insert((host + QLatin1Char('.') + QHostInfo::localDomainName().toLower()).toUtf8());
    m_machineAddresses = QNetworkInterface::allAddresses();
    m_namesLearnedMs = QDateTime::currentMSecsSinceEpoch();
}

bool RemoteControl::NamesThisMachine(const QByteArray &hostHeader)
{
    QByteArray host = hostHeader.trimmed().toLower();
    if (host.startsWith('[')) { // [IPv6]:port
        const qsizetype close = host.indexOf(']');
        if (close < 0)
            return false;
        host = host.mid(1, close - 1);
    } else if (const qsizetype colon = host.lastIndexOf(':'); colon >= 0 && host.indexOf(':') == colon) {
        host = host.left(colon);
    }
    if (host.endsWith('.'))
        host.chop(1);
    const QHostAddress address(QString::fromLatin1(host));
    if (address.isNull())
        return m_machineNames.contains(host);
    if (address.isLoopback())
        return true;
    // Addresses change (a new lease): learned again, at most every ten seconds.
    if (!m_machineAddresses.contains(address) && QDateTime::currentMSecsSinceEpoch() - m_namesLearnedMs > 10000)
        LearnMachineNames();
    return m_machineAddresses.contains(address);
}

void RemoteControl::CountRefusal(const QHostAddress &peer)
{
    ++m_refused;
    if (m_refusedBy.size() < 1000 || m_refusedBy.contains(peer.toString()))
        ++m_refusedBy[peer.toString()];
    if (!m_refusalSummary) {
        m_refusalSummary = new QTimer(this);
        m_refusalSummary->setSingleShot(true);
        m_refusalSummary->setInterval(60000);
        connect(m_refusalSummary, &QTimer::timeout, this, &RemoteControl::SummariseRefusals);
    }
    if (!m_refusalSummary->isActive())
        m_refusalSummary->start();
}

void RemoteControl::SummariseRefusals()
{
    QList<QPair<int, QString>> by;
    for (auto it = m_refusedBy.cbegin(); it != m_refusedBy.cend(); ++it)
        by.append({it.value(), it.key()});
    std::sort(by.begin(), by.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    QStringList most;
    for (qsizetype i = 0; i < std::min<qsizetype>(by.size(), 5); ++i)
        most.append(QStringLiteral("%1 (%2)").arg(by[i].second).arg(by[i].first));
    PLOG(LOG_INFO, "remote refused %d requests without a valid token in the last minute, from %lld addresses: %s%s",
         m_refused, qlonglong(by.size()), qPrintable(most.join(QStringLiteral(", "))), by.size() > 5 ? ", ..." : "");
    m_refused = 0;
    m_refusedBy.clear();
}

bool RemoteControl::OverRate(QHash<QString, std::deque<qint64>> *buckets, const QHostAddress &address, int perSecond)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::deque<qint64> &times = (*buckets)[address.toString()];
    while (!times.empty() && now - times.front() >= 1000)
        times.pop_front();
    times.push_back(now);
    if (buckets->size() > 10000) // addresses not seen for a second are forgotten
        buckets->removeIf([now](const auto &it) { return it.value().empty() || now - it.value().back() >= 1000; });
    return int(times.size()) > perSecond;
}

bool RemoteControl::Authorized(const HttpRequest &request) const
{
    const QByteArray header = request.headers.value(QByteArrayLiteral("authorization"));
    const QByteArray prefix = QByteArrayLiteral("Bearer ");
    if (!header.startsWith(prefix))
        return false;
    const QByteArray token = header.mid(prefix.size()).trimmed();
    return RemoteAccess::SameToken(token, m_token) || !RemoteAccess::DeviceOf(ShopSettings::Folder(), token).isEmpty();
}

// On the headers alone: rate, token. Without a valid token the body is
// never read, and the refusals count in a bucket of their own. The page's
// files and the pairing need no token (pairing proves itself by its code).
bool RemoteControl::Screen(HttpRequest &request, HttpReply *early)
{
    const bool open = (request.method == "GET" || request.method == "HEAD") && AssetAt(request.path);
    const bool pairing = request.method == "POST" && request.path == "/api/pair";
    const bool authorized = Authorized(request);
    request.trusted = authorized;
    Reply reply{0, {}};
    // The page's files have a bucket of their own: a phone loading the page
    // never uses up what pairing or a stranger's refusals may take.
    if (!NamesThisMachine(request.headers.value(QByteArrayLiteral("host"), "localhost")))
        reply = {421, Error(QStringLiteral("the Host header does not name this machine"))};
    else if (OverRate(authorized ? &m_recent : open ? &m_recentPage : &m_recentRefused, request.peer,
                 open ? kPageRequestsPerSecond : kRequestsPerSecond))
        reply = {429, Error(QStringLiteral("more than %1 requests a second").arg(kRequestsPerSecond))};
    else if (!authorized && !open && !pairing)
        reply = {401, Error(QStringLiteral("a valid bearer token is needed"))};
    else {
        if (authorized && request.method == "PUT" && request.path.startsWith("/api/lists/"))
            request.maxBody = kMaxListBodyBytes;
        return false;
    }
    if (authorized)
        PLOG(LOG_INFO, "remote %s %s %s: %d", qPrintable(request.peer.toString()), request.method.constData(),
             request.path.constData(), reply.status);
    else
        CountRefusal(request.peer);
    *early = {reply.status, QJsonDocument(reply.body).toJson(QJsonDocument::Compact)};
    return true;
}

HttpReply RemoteControl::Serve(const HttpRequest &request)
{
    if (const Asset *asset = AssetAt(request.path); asset && (request.method == "GET" || request.method == "HEAD")) {
        if (!asset->resource)
            return {204, {}, "text/plain", {}};
        QFile file(QString::fromLatin1(asset->resource));
        file.open(QIODevice::ReadOnly);
        return {200, file.readAll(), asset->type, kPageHeaders};
    }
    const Reply reply = Handle(request);
    if (!request.trusted && reply.status >= 400) {
        CountRefusal(request.peer); // a wrong pairing code, say
        return {reply.status, QJsonDocument(reply.body).toJson(QJsonDocument::Compact)};
    }
    PLOG(LOG_INFO, "remote %s %s %s: %d", qPrintable(request.peer.toString()), request.method.constData(),
         request.path.constData(), reply.status);
    if (!reply.contentType.isEmpty())
        return {reply.status, reply.raw, reply.contentType};
    return {reply.status, QJsonDocument(reply.body).toJson(QJsonDocument::Compact)};
}

RemoteControl::Reply RemoteControl::Handle(const HttpRequest &request)
{
    const QStringList path = QString::fromUtf8(request.path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool post = request.method == "POST";
    const bool get = request.method == "GET" || request.method == "HEAD";
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
        const RemoteTexts::State state = ok ? m_shop->Remote()->StateOf(id) : RemoteTexts::State::Unknown;
        if (state == RemoteTexts::State::Unknown)
            return {404, Error(QStringLiteral("no such announcement"))};
        return {200, QJsonObject{{QStringLiteral("id"), id},
                                 {QStringLiteral("spoken"), state == RemoteTexts::State::Spoken},
                                 {QStringLiteral("state"), state == RemoteTexts::State::Waiting  ? QStringLiteral("waiting")
                                                           : state == RemoteTexts::State::Spoken ? QStringLiteral("spoken")
                                                                                                 : QStringLiteral("failed")}}};
    }
    if (path.size() == 2 && path[1] == QLatin1String("played")) {
        if (!get)
            return wrongMethod();
        const PlayLog::Answer answer =
            m_shop->Played()->AnswerRequest(request.query, request.headers.value(QByteArrayLiteral("accept")));
        return {answer.status, {}, answer.contentType, answer.body};
    }
    if (path.size() == 2 && path[1] == QLatin1String("status"))
        return get ? Status() : wrongMethod();
    if (path.size() == 2 && path[1] == QLatin1String("pair"))
        return post ? Pair(request) : wrongMethod();
    if (path.size() == 3 && path[1] == QLatin1String("lists")) {
        static const QStringList lists = {QStringLiteral("word"), QStringLiteral("price"), QStringLiteral("timer")};
        if (!lists.contains(path[2]))
            return {404, Error(QStringLiteral("not found"))};
        if (get)
            return GetList(path[2]);
        return request.method == "PUT" ? PutList(path[2], request) : wrongMethod();
    }
    if (path.size() == 3 && path[1] == QLatin1String("music")) {
        if (path[2] == QLatin1String("volume"))
            return request.method == "PUT" ? MusicVolume(request) : wrongMethod();
        if (path[2] != QLatin1String("play") && path[2] != QLatin1String("pause"))
            return {404, Error(QStringLiteral("not found"))};
        if (!post)
            return wrongMethod();
        path[2] == QLatin1String("play") ? m_shop->Music()->Play() : m_shop->Music()->Pause();
        return Status();
    }
    if (path.size() == 4 && path[1] == QLatin1String("modes")) {
        Shop::Mode mode;
        if (!Shop::ModeNamed(path[2], &mode) || (path[3] != QLatin1String("play") && path[3] != QLatin1String("pause")))
            return {404, Error(QStringLiteral("not found"))};
        return post ? PressButton(path[2], path[3] == QLatin1String("play")) : wrongMethod();
    }
    return {404, Error(QStringLiteral("not found"))};
}

// The body as a JSON object; false with the refusal when it is not one.
bool RemoteControl::JsonBody(const HttpRequest &request, qint64 maxBytes, QJsonObject *object, Reply *refusal)
{
    if (request.body.size() > maxBytes) {
        *refusal = {413, Error(QStringLiteral("the body is larger than %1 bytes").arg(maxBytes))};
        return false;
    }
    if (request.body.contains('\0')) {
        *refusal = {400, Error(QStringLiteral("the body holds a NUL byte"))};
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(request.body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !json.isObject()) {
        *refusal = {400, Error(QStringLiteral("the body is not a JSON object"))};
        return false;
    }
    *object = json.object();
    return true;
}

RemoteControl::Reply RemoteControl::Pair(const HttpRequest &request)
{
    QJsonObject body;
    Reply refusal{0, {}};
    if (!JsonBody(request, kMaxBodyBytes, &body, &refusal))
        return refusal;
    const QString code = body.value(QStringLiteral("code")).toString();
    if (!RemoteAccess::TakePairingCode(code))
        return {403, Error(QStringLiteral("the pairing code is wrong, used or expired"))};
    const QByteArray token = RemoteAccess::AddDevice(ShopSettings::Folder(), body.value(QStringLiteral("name")).toString());
    if (token.isEmpty())
        return {500, Error(QStringLiteral("the phone could not be stored"))};
    emit DevicesChanged();
    return {201, QJsonObject{{QStringLiteral("token"), QString::fromLatin1(token)}}};
}

RemoteControl::Reply RemoteControl::GetList(const QString &name) const
{
    if (name == QLatin1String("word"))
        return {200, ListJson::FromWords(m_shop->Words()->List())};
    if (name == QLatin1String("price"))
        return {200, ListJson::FromPrices(m_shop->Prices()->List())};
    return {200, ListJson::FromTasks(m_shop->Tasks()->List())};
}

RemoteControl::Reply RemoteControl::PutList(const QString &name, const HttpRequest &request)
{
    QJsonObject body;
    Reply refusal{0, {}};
    if (!JsonBody(request, kMaxListBodyBytes, &body, &refusal))
        return refusal;
    ListJson::Fault fault;
    bool ok = false;
    if (name == QLatin1String("word")) {
        WordList words;
        if ((ok = ListJson::ToWords(body, &words, &fault)))
            m_shop->Words()->Replace(words);
    } else if (name == QLatin1String("price")) {
        PriceList prices;
        if ((ok = ListJson::ToPrices(body, &prices, &fault)))
            m_shop->Prices()->Replace(prices);
    } else {
        TaskList tasks;
        if ((ok = ListJson::ToTasks(body, &tasks, &fault)))
            m_shop->Tasks()->Replace(tasks);
    }
    if (!ok) {
        QJsonObject error = Error(fault.message);
        error.insert(QStringLiteral("row"), fault.row);
        error.insert(QStringLiteral("field"), fault.field);
        return {422, error};
    }
    return GetList(name);
}

RemoteControl::Reply RemoteControl::MusicVolume(const HttpRequest &request)
{
    QJsonObject body;
    Reply refusal{0, {}};
    if (!JsonBody(request, kMaxBodyBytes, &body, &refusal))
        return refusal;
    const std::optional<qint64> volume = JsonNumbers::Whole(body.value(QStringLiteral("volume")), 0, 100);
    if (!volume)
        return {422, Error(QStringLiteral("\"volume\" must be a whole number from 0 to 100"))};
    m_shop->SetMusicVolume(int(*volume));
    return Status();
}

RemoteControl::Reply RemoteControl::Say(const HttpRequest &request)
{
    QJsonObject body;
    Reply refusal{0, {}};
    if (!JsonBody(request, kMaxBodyBytes, &body, &refusal))
        return refusal;
    const QJsonValue text = body.value(QStringLiteral("text"));
    if (!text.isString())
        return {400, Error(QStringLiteral("\"text\" must be a string"))};
    const RemoteTexts::Outcome outcome = m_shop->Remote()->Say(text.toString());
    switch (outcome.verdict) {
    case RemoteTexts::Verdict::Queued:
        return {202, QJsonObject{{QStringLiteral("id"), outcome.id}}};
    case RemoteTexts::Verdict::NotText:
        return {400, Error(RemoteTexts::Explain(outcome.verdict))};
    case RemoteTexts::Verdict::TooMuchWaiting:
        return {429, Error(RemoteTexts::Explain(outcome.verdict))};
    default:
        return {422, Error(RemoteTexts::Explain(outcome.verdict))};
    }
}

RemoteControl::Reply RemoteControl::PressButton(const QString &name, bool play)
{
    Shop::Mode mode = Shop::Mode::Word;
    Shop::ModeNamed(name, &mode);
    play ? m_shop->PlayMode(mode) : m_shop->PauseMode(mode);
    return {200, QJsonObject{{QStringLiteral("mode"), name}, {QStringLiteral("state"), m_shop->ModeState(mode)}}};
}

RemoteControl::Reply RemoteControl::Status() const
{
    const MusicPlayer::Status music = m_shop->Music()->Player().KnownStatus(); // never the device
    return {200, QJsonObject{
                     {QStringLiteral("modes"),
                      QJsonObject{{QStringLiteral("word"), m_shop->ModeState(Shop::Mode::Word)},
                                  {QStringLiteral("price"), m_shop->ModeState(Shop::Mode::Price)},
                                  {QStringLiteral("timer"), m_shop->ModeState(Shop::Mode::Timer)}}},
                     {QStringLiteral("queue"), m_shop->Worker()->QueueLength()},
                     {QStringLiteral("speaking"), m_shop->Speech()->Sounding()},
                     {QStringLiteral("waiting"), QJsonArray::fromStringList(m_shop->Speech()->Waiting())},
                     {QStringLiteral("musicVolume"), g_settings.musicVol},
                     {QStringLiteral("music"), music.playing  ? QStringLiteral("playing")
                                               : music.paused ? QStringLiteral("paused")
                                                              : QStringLiteral("stopped")},
                     {QStringLiteral("voice"), g_settings.yusheng.Get()},
                 }};
}

HttpReply RemoteControl::Respond(HttpRequest request)
{
    HttpReply early;
    if (Screen(request, &early))
        return early;
    if (request.body.size() > (request.maxBody > 0 ? request.maxBody : kMaxBodyBytes))
        return {413, QJsonDocument(Error(QStringLiteral("the body is too large"))).toJson(QJsonDocument::Compact)};
    return Serve(request);
}

quint16 RemoteControl::Port() const
{
    return m_http ? m_http->Port() : 0;
}

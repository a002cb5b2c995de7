#include "shop/Shop.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "music/PlayList.h"
#include "shop/PlayLog.h"
#include "shop/PriceListModel.h"
#include "shop/PricePlayer.h"
#include "shop/RemoteTexts.h"
#include "shop/ShopSettings.h"
#include "shop/StoredList.h"
#include "shop/TaskListModel.h"
#include "shop/TimerSchedule.h"
#include "shop/WordListModel.h"
#include "shop/WordPlayer.h"
#include "speech/Announcer.h"
#include "speech/Speake.h"

namespace {

// Each player speaks through its own source of the announcer, which sends
// the reports back to it alone; a player's pause cuts only its own speech.
template <typename Player>
void ConnectToSource(Player *player, SpeechSource *source)
{
    QObject::connect(player, &Player::OutAudio, source, &SpeechSource::Request);
    QObject::connect(player, &Player::CancelSpeech, source, &SpeechSource::Cancel);
    QObject::connect(player, &Player::Active, source, &SpeechSource::SetActive);
    QObject::connect(source, &SpeechSource::Finished, player, &Player::ActionFinished);
}

QString ListStateName(int state)
{
    return state == 1 ? QStringLiteral("playing") : state == 2 ? QStringLiteral("paused") : QStringLiteral("stopped");
}

} // namespace

Shop::Shop(QObject *parent)
    : QObject(parent), m_settings(new ShopSettings(this)), m_worker(new Speake(this))
{
    m_settings->Load();
    AppPaths::EnsureDataDir();
    m_worker->start();
    m_announcer = new Announcer(m_worker, this);
    m_music = new PlayList(this);
    connect(m_announcer, &Announcer::DuckMusic, m_music, &PlayList::TurnDown);
    connect(m_announcer, &Announcer::WantMusic, m_music, [this](bool playing) {
        if (playing)
            m_music->Play();
        else
            m_music->Pause();
    });
    connect(m_settings, &ShopSettings::Changed, m_music, &PlayList::ApplyVolume);

    m_words = new WordListModel(this);
    m_prices = new PriceListModel(this);
    m_tasks = new TaskListModel(this);
    m_words->Load();
    m_prices->Load();
    m_tasks->Load();
    m_wordLoop = new WordPlayer(m_words, kWordBase, this);
    m_priceLoop = new PricePlayer(m_prices, kPriceBase, this);
    m_timer = new TimerSchedule(m_tasks, m_priceLoop, kTimerBase, this);
    ConnectToSource(m_wordLoop, m_announcer->From(Announcer::Word));
    ConnectToSource(m_priceLoop, m_announcer->From(Announcer::Price));
    ConnectToSource(m_timer, m_announcer->From(Announcer::Timer));
    m_remote = new RemoteTexts(m_announcer->From(Announcer::Remote), this);

    m_playLog = new PlayLog(PlayLog::DefaultPath(), this);
    connect(m_announcer, &Announcer::Played, this,
            [this](int source, const QString &text, const QDateTime &started, const QDateTime &ended) {
                QString id;
                QString sourceName = PlayLog::SourceName(source);
                const auto chain = m_chainIds.find(text);
                if (source == Announcer::Remote && chain != m_chainIds.end()) {
                    id = chain->takeFirst();
                    sourceName = QStringLiteral("chain");
                    if (chain->isEmpty())
                        m_chainIds.erase(chain);
                }
                m_playLog->Record(id, text, sourceName, started, ended);
            });
}

int Shop::SayForChain(const QString &id, const QString &text, QString *refusal)
{
    const RemoteTexts::Outcome outcome = m_remote->Say(text);
    if (outcome.verdict != RemoteTexts::Verdict::Queued) {
        *refusal = RemoteTexts::Explain(outcome.verdict);
        return 0;
    }
    m_chainIds[text.trimmed()].append(id);
    return outcome.id;
}

Shop::~Shop()
{
    m_worker->Stop();
    disconnect(m_worker, nullptr, nullptr, nullptr);
    SaveAll();
}

void Shop::StartMusic()
{
    m_music->StartAtStartup();
}

bool Shop::ModeNamed(const QString &name, Mode *mode)
{
    if (name == QLatin1String("word"))
        *mode = Mode::Word;
    else if (name == QLatin1String("price"))
        *mode = Mode::Price;
    else if (name == QLatin1String("timer"))
        *mode = Mode::Timer;
    else
        return false;
    return true;
}

bool Shop::PlayMode(Mode mode)
{
    switch (mode) {
    case Mode::Word:
        return m_wordLoop->Play();
    case Mode::Price:
        return m_priceLoop->Play();
    case Mode::Timer:
        return m_timer->Play();
    }
    return false;
}

bool Shop::PauseMode(Mode mode)
{
    switch (mode) {
    case Mode::Word:
        return m_wordLoop->Pause();
    case Mode::Price:
        return m_priceLoop->Pause();
    case Mode::Timer:
        return m_timer->Pause();
    }
    return false;
}

QString Shop::ModeState(Mode mode) const
{
    switch (mode) {
    case Mode::Word:
        return ListStateName(m_wordLoop->GetState());
    case Mode::Price:
        return ListStateName(m_priceLoop->GetState());
    case Mode::Timer:
        return m_timer->GetState() == TimerSchedule::Running ? QStringLiteral("playing") : QStringLiteral("stopped");
    }
    return {};
}

void Shop::SetMusicVolume(int volume)
{
    m_settings->Update([volume](SettingsValues &values) { values.musicVol = qBound(0, volume, 100); });
}

void Shop::SaveAll()
{
    for (StoredList *list : {&m_words->Store(), &m_prices->Store(), &m_tasks->Store()})
        if (list->Pending())
            list->SaveNow();
}

#include "music/PlayList.h"

#include "core/Clock.h"
#include "core/Log.h"
#include "core/SettingsValues.h"
#include "music/MusicPlayer.h"
#include "music/TrackLoudness.h"

#include <cstdlib>

PlayList::PlayList(QObject *parent) : QObject(parent), m_player(std::make_unique<MusicPlayer>())
{
    m_check.setInterval(kCheckMs);
    connect(&m_check, &QTimer::timeout, this, &PlayList::CheckStatus);
}

PlayList::~PlayList() = default;

int PlayList::RandomTrack(int count)
{
    // rand() is never seeded: the same order at every start.
    return int(qint64(std::rand()) * 100000 % count);
}

void PlayList::StartAtStartup()
{
    const int tracks = int(g_settings.musicList.size());
    m_index = g_settings.musicPlayType == 2 && tracks > 0 ? RandomTrack(tracks) : 0;
    if (g_settings.musicStartType == 1)
        Play();
}

int PlayList::NormalLevel() const
{
    return g_settings.musicLoudness ? TrackLoudness::Apply(g_settings.musicVol, m_trackGainDb) : g_settings.musicVol;
}

int PlayList::Level() const
{
    // Turned down never means turned up: a quiet track stays as it is.
    return m_down ? qMin(NormalLevel(), g_settings.volume / 2) : NormalLevel();
}

void PlayList::Play()
{
    m_check.start();
    NoticeListChange();
    const MusicPlayer::Status status = m_player->GetStatus();
    if (status.paused) {
        m_player->SetVolume(Level());
        m_player->Play();
        return;
    }
    if (status.playing || m_noTrack)
        return;
    StartFirstPlayable();
}

bool PlayList::StartCurrent()
{
    if (m_index < 0 || m_index >= g_settings.musicList.size())
        return false;
    const QString path = g_settings.musicList.at(m_index);
    if (m_failed.contains(path))
        return false;
    m_trackGainDb = 0;
    if (g_settings.musicLoudness) {
        // Known tracks play at their gain; a new one is measured meanwhile.
        m_trackGainDb = TrackLoudness::GainDb(path).value_or(0.0);
        TrackLoudness::MeasureLater(path);
    }
    m_player->SetVolume(Level());
    if (!m_player->OpenFile(path)) {
        MarkFailed(path, m_player->LastError());
        m_player->Close();
        return false;
    }
    PLOG(LOG_DEBUG, "play music %d: %s (%lld ms)", m_index, qPrintable(path), m_player->LengthMs());
    m_player->Play();
    m_startedAt = Clock::Current().TickMs();
    return true;
}

void PlayList::StartFirstPlayable()
{
    const int tracks = int(g_settings.musicList.size());
    if (tracks == 0)
        return;
    // In 单曲循环 only the chosen track is played; otherwise the next ones
    // in list order stand in for one that cannot be played.
    const int tries = g_settings.musicPlayType == 1 ? 1 : tracks;
    for (int i = 0; i < tries; ++i) {
        if (StartCurrent())
            return;
        if (g_settings.musicPlayType != 1)
            m_index = (m_index + 1) % tracks;
    }
    m_noTrack = true;
    m_stoppedAt = Clock::Current().TickMs();
    if (m_toldNoTrack)
        return;
    m_toldNoTrack = true;
    PLOG(LOG_WARNING, "no music track can be played: the music stops, tried again in %u minutes or with a new list",
         kRetryMs / 60000);
    emit Notice(QStringLiteral("背景音乐没有可以播放的歌曲，音乐已停止。\n修改音乐列表后，或%1分钟后会再试。")
                    .arg(kRetryMs / 60000));
}

void PlayList::MarkFailed(const QString &path, const QString &why)
{
    m_failed.insert(path);
    if (m_told.contains(path))
        return;
    m_told.insert(path);
    PLOG(LOG_WARNING, "music %s cannot be played (%s): skipped", qPrintable(path), qPrintable(why));
    emit Notice(QStringLiteral("背景音乐无法播放，已跳过：\n%1").arg(path));
}

void PlayList::NoticeListChange()
{
    if (m_list == g_settings.musicList)
        return;
    m_list = g_settings.musicList;
    m_failed.clear();
    m_told.clear();
    m_noTrack = false;
    m_toldNoTrack = false;
}

void PlayList::Pause()
{
    m_check.stop();
    m_player->Pause();
}

void PlayList::TurnDown(bool down)
{
    m_down = down;
    m_player->SetVolume(Level());
}

void PlayList::ApplyVolume()
{
    m_player->SetVolume(Level());
}

void PlayList::Advance()
{
    const int tracks = int(g_settings.musicList.size());
    switch (g_settings.musicPlayType) {
    case 0:
        m_index = m_index + 1 < tracks ? m_index + 1 : 0;
        break;
    case 2:
        if (tracks > 0)
            m_index = RandomTrack(tracks);
        break;
    default:
        break; // repeat one
    }
}

void PlayList::CheckStatus()
{
    NoticeListChange();
    if (m_noTrack) {
        // Waiting: tried again only after kRetryMs (or with a new list).
        if (Clock::Current().TickMs() - m_stoppedAt < kRetryMs)
            return;
        m_noTrack = false;
        m_failed.clear();
        StartFirstPlayable();
        return;
    }
    if (m_player->GetStatus().playing || m_player->GetStatus().paused)
        return;
    // A track that ended as soon as it started cannot really be played.
    if (m_index >= 0 && m_index < g_settings.musicList.size()
        && Clock::Current().TickMs() - m_startedAt < quint32(kMinPlayMs))
        MarkFailed(g_settings.musicList.at(m_index), QStringLiteral("ended at once"));
    Advance();
    StartFirstPlayable();
}
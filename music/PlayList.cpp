#include "music/PlayList.h"

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
    const MusicPlayer::Status status = m_player->GetStatus();
    if (status.paused) {
        m_player->SetVolume(Level());
        m_player->Play();
        return;
    }
    if (status.playing)
        return;
    if (m_index < 0 || m_index >= g_settings.musicList.size())
        return;
    const QString path = g_settings.musicList.at(m_index);
    m_trackGainDb = 0;
    if (g_settings.musicLoudness) {
        // Known tracks play at their gain; a new one is measured meanwhile.
        m_trackGainDb = TrackLoudness::GainDb(path).value_or(0.0);
        TrackLoudness::MeasureLater(path);
    }
    m_player->SetVolume(Level());
    if (!m_player->OpenFile(path)) {
        PLOG(LOG_WARNING, "music %s cannot be played: %s", qPrintable(path), qPrintable(m_player->LastError()));
        m_player->Close();
        return;
    }
    PLOG(LOG_DEBUG, "play music %d: %s (%lld ms)", m_index, qPrintable(path), m_player->LengthMs());
    m_player->Play();
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

void PlayList::CheckStatus()
{
    if (m_player->GetStatus().playing)
        return;
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
    Play();
}

#include "MusicPlayer.h"

#include "AudioOutput.h"

#include <QFile>

#include <SDL_mixer.h>

MusicPlayer::~MusicPlayer()
{
    Close();
}

MusicPlayer::Status MusicPlayer::GetStatus() const
{
    Status status;
    AudioOutput::WithDevice([&status] {
        // The mixer counts a paused track as playing, and stays "paused"
        // after a halt until the next track starts.
        const bool loadedAndRunning = Mix_PlayingMusic() != 0;
        status.paused = loadedAndRunning && Mix_PausedMusic() != 0;
        status.playing = loadedAndRunning && !status.paused;
    });
    return status;
}

bool MusicPlayer::OpenFile(const QString &path)
{
    Close();
    m_lastError.clear();
    const bool opened = AudioOutput::WithDevice([this, &path] {
        m_music = Mix_LoadMUS(QFile::encodeName(path).constData());
        if (!m_music)
            m_lastError = QString::fromLocal8Bit(Mix_GetError());
    });
    if (!opened)
        m_lastError = QStringLiteral("no sound device");
    AudioOutput::SetMusicLoaded(m_music != nullptr);
    return m_music != nullptr;
}

qint64 MusicPlayer::LengthMs() const
{
    if (!m_music)
        return -1;
    const double seconds = Mix_MusicDuration(m_music);
    return seconds < 0 ? -1 : qint64(seconds * 1000);
}

qint64 MusicPlayer::PositionMs() const
{
    double seconds = -1;
    if (m_music)
        AudioOutput::WithDevice([this, &seconds] { seconds = Mix_GetMusicPosition(m_music); });
    return seconds < 0 ? -1 : qint64(seconds * 1000);
}

void MusicPlayer::SetVolume(int volume)
{
    AudioOutput::WithDevice([volume] { Mix_VolumeMusic(qBound(0, volume, 100) * MIX_MAX_VOLUME / 100); });
}

void MusicPlayer::Play()
{
    AudioOutput::WithDevice([this] {
        if (Mix_PlayingMusic() && Mix_PausedMusic())
            Mix_ResumeMusic();
        else if (m_music)
            Mix_PlayMusic(m_music, 0);
    });
}

void MusicPlayer::Pause()
{
    AudioOutput::WithDevice([] { Mix_PauseMusic(); });
}

void MusicPlayer::Close()
{
    if (!m_music)
        return;
    AudioOutput::WithDevice([] { Mix_HaltMusic(); });
    Mix_FreeMusic(m_music);
    m_music = nullptr;
    AudioOutput::SetMusicLoaded(false);
}

#include "music/MusicPlayer.h"

#include "speech/AudioOutput.h"

#include <QFile>

#include <SDL_mixer.h>

#include <cmath>

namespace {

// Where ramps from or to silence begin and end, on the 0–100 scale: four
// steps of the mixer's 0–128 music volume, about 30 dB below full. Below
// it the mixer's whole-number steps are several decibels each.
constexpr double kFloor = 4 * 100.0 / MIX_MAX_VOLUME;

} // namespace

MusicPlayer::MusicPlayer()
{
    m_ramp.setInterval(kRampStepMs);
    connect(&m_ramp, &QTimer::timeout, this, &MusicPlayer::Step);
}

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
    if (m_pausing && status.playing) {
        status.playing = false;
        status.paused = true;
    }
    m_known = status;
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
    m_volume = qBound(0, volume, 100);
    if (!m_pausing)
        StartRamp(m_volume);
}

void MusicPlayer::Play()
{
    const bool resumed = m_pausing;
    m_pausing = false;
    if (!resumed) {
        Apply(0);
        AudioOutput::WithDevice([this] {
            if (Mix_PlayingMusic() && Mix_PausedMusic())
                Mix_ResumeMusic();
            else if (m_music)
                Mix_PlayMusic(m_music, 0);
        });
    }
    m_known = Status{m_music != nullptr, false};
    StartRamp(m_volume);
}

void MusicPlayer::Pause()
{
    if (!GetStatus().playing)
        return;
    m_pausing = true;
    m_known = Status{false, true};
    StartRamp(0);
}

void MusicPlayer::Close()
{
    m_ramp.stop();
    m_pausing = false;
    m_known = Status{};
    if (!m_music)
        return;
    AudioOutput::WithDevice([] { Mix_HaltMusic(); });
    Mix_FreeMusic(m_music);
    m_music = nullptr;
    AudioOutput::SetMusicLoaded(false);
}

void MusicPlayer::StartRamp(double to)
{
    m_from = m_level;
    m_to = to;
    m_stepsTotal = m_stepsLeft = kRampMs / kRampStepMs;
    m_ramp.start();
    Step(); // the first step at once: the change is heard without delay
}

// Equal ratios per step (a straight line in decibels), through the floor
// when the ramp starts or ends in silence.
void MusicPlayer::Step()
{
    const int done = m_stepsTotal - --m_stepsLeft;
    if (m_stepsLeft <= 0) {
        m_ramp.stop();
        Apply(m_to);
        if (m_pausing) {
            m_pausing = false;
            AudioOutput::WithDevice([] { Mix_PauseMusic(); });
        }
        return;
    }
    const double from = qMax(m_from, kFloor), to = qMax(m_to, kFloor);
    Apply(from * std::pow(to / from, double(done) / m_stepsTotal));
}

void MusicPlayer::Apply(double level)
{
    m_level = level;
    const int mixerVolume = level <= 0 ? 0 : qMax(1, int(std::lround(level * MIX_MAX_VOLUME / 100.0)));
    AudioOutput::WithDevice([mixerVolume] { Mix_VolumeMusic(mixerVolume); });
}

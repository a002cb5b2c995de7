#include "speech/AudioOutput.h"

#include "core/Log.h"

#include <QMutex>

#include <SDL.h>
#include <SDL_mixer.h>

namespace {

constexpr int kFrequency = 44100;
constexpr int kChannels = 2;
constexpr int kChunkFrames = 1024;
constexpr int kMixChannels = 8;

QMutex g_mutex;
bool g_open = false;
bool g_onFallback = false; // the last open had to use the dummy driver
bool g_musicLoaded = false;

// Starts SDL's audio subsystem on one driver (nullptr: SDL's own choice,
// which honours SDL_AUDIODRIVER) and opens the mixer on it. Only
// SDL_InitSubSystem/SDL_QuitSubSystem touch the subsystem, so its reference
// count always matches: Mix_OpenAudio then finds it started and does not
// start it again with the driver of the environment.
bool OpenWithDriver(const char *driver)
{
    if (driver)
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, driver, SDL_HINT_OVERRIDE);
    const bool started = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    if (driver)
        SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    if (!started)
        return false;
    if (Mix_OpenAudio(kFrequency, AUDIO_S16SYS, kChannels, kChunkFrames) != 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    return true;
}

bool OpenDevice()
{
    if (OpenWithDriver(nullptr)) {
        if (g_onFallback)
            PLOG(LOG_WARNING, "sound is back on driver %s", SDL_GetCurrentAudioDriver());
        g_onFallback = false;
    } else {
        PLOG(LOG_WARNING, "no sound device (%s), playing silently on the dummy driver", SDL_GetError());
        if (!OpenWithDriver("dummy")) {
            PLOG(LOG_ERROR, "dummy audio driver failed: %s", SDL_GetError());
            return false;
        }
        g_onFallback = true;
    }
    Mix_AllocateChannels(kMixChannels);
    Mix_ReserveChannels(AudioOutput::kSpeechChannel + 1);
    PLOG(LOG_DEBUG, "audio output on driver %s", SDL_GetCurrentAudioDriver());
    return true;
}

} // namespace

bool AudioOutput::Open()
{
    QMutexLocker lock(&g_mutex);
    if (!g_open)
        g_open = OpenDevice();
    return g_open;
}

void AudioOutput::CloseIfIdle()
{
    QMutexLocker lock(&g_mutex);
    if (!g_open || g_musicLoaded || Mix_Playing(-1) > 0 || Mix_PlayingMusic() || Mix_PausedMusic())
        return;
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_open = false;
}

bool AudioOutput::WithDevice(const std::function<void()> &op)
{
    QMutexLocker lock(&g_mutex);
    if (!g_open)
        g_open = OpenDevice();
    if (g_open)
        op();
    return g_open;
}

void AudioOutput::SetMusicLoaded(bool loaded)
{
    QMutexLocker lock(&g_mutex);
    g_musicLoaded = loaded;
}

void AudioOutput::HaltSpeech()
{
    QMutexLocker lock(&g_mutex);
    if (g_open)
        Mix_HaltChannel(AudioOutput::kSpeechChannel);
}

void AudioOutput::Shutdown()
{
    QMutexLocker lock(&g_mutex);
    if (!g_open)
        return;
    Mix_HaltChannel(-1);
    Mix_HaltMusic();
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_open = false;
}

bool AudioOutput::IsOpen()
{
    QMutexLocker lock(&g_mutex);
    return g_open;
}

QByteArray AudioOutput::DriverName()
{
    QMutexLocker lock(&g_mutex);
    const char *name = g_open ? SDL_GetCurrentAudioDriver() : nullptr;
    return name ? QByteArray(name) : QByteArray();
}

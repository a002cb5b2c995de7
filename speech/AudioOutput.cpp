#include "AudioOutput.h"

#include "Log.h"

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
bool g_fellBack = false; // no real device: stay on the dummy driver
int g_generation = 0;
int g_lastFormat[3] = {};

bool OpenWithDriver(const char *driver)
{
    if (SDL_AudioInit(driver) != 0)
        return false;
    if (Mix_OpenAudio(kFrequency, AUDIO_S16SYS, kChannels, kChunkFrames) != 0) {
        SDL_AudioQuit();
        return false;
    }
    return true;
}

void NoteFormat()
{
    int format[3] = {};
    Uint16 sdlFormat = 0;
    Mix_QuerySpec(&format[0], &sdlFormat, &format[2]);
    format[1] = sdlFormat;
    if (!std::equal(format, format + 3, g_lastFormat)) {
        std::copy(format, format + 3, g_lastFormat);
        ++g_generation;
    }
}

bool OpenDevice()
{
    if (SDL_WasInit(SDL_INIT_AUDIO) == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        PLOG(LOG_WARNING, "SDL audio init: %s", SDL_GetError());
    SDL_AudioQuit(); // OpenWithDriver chooses the driver
    if (g_fellBack || !OpenWithDriver(nullptr)) {
        if (!g_fellBack)
            PLOG(LOG_WARNING, "no sound device (%s), playing silently on the dummy driver", SDL_GetError());
        if (!OpenWithDriver("dummy")) {
            PLOG(LOG_ERROR, "dummy audio driver failed: %s", SDL_GetError());
            return false;
        }
        g_fellBack = true;
    }
    Mix_AllocateChannels(kMixChannels);
    Mix_ReserveChannels(AudioOutput::kSpeechChannel + 1);
    NoteFormat();
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
    if (!g_open || Mix_Playing(-1) > 0 || Mix_PlayingMusic() || Mix_PausedMusic())
        return;
    Mix_CloseAudio();
    SDL_AudioQuit();
    g_open = false;
}

bool AudioOutput::IsOpen()
{
    QMutexLocker lock(&g_mutex);
    return g_open;
}

int AudioOutput::FormatGeneration()
{
    QMutexLocker lock(&g_mutex);
    return g_generation;
}

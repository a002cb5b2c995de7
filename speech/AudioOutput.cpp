#include "AudioOutput.h"

#include "Log.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <mutex>

namespace {

constexpr int kFrequency = 44100;
constexpr int kChannels = 2;
constexpr int kChunkFrames = 1024;
constexpr int kMixChannels = 8;

bool g_open = false;

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

bool OpenDevice()
{
    if (SDL_WasInit(SDL_INIT_AUDIO) == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        PLOG(LOG_WARNING, "SDL audio init: %s", SDL_GetError());
    SDL_AudioQuit(); // let OpenWithDriver choose the driver
    if (!OpenWithDriver(nullptr)) {
        PLOG(LOG_WARNING, "no sound device (%s), playing silently on the dummy driver", SDL_GetError());
        if (!OpenWithDriver("dummy")) {
            PLOG(LOG_ERROR, "dummy audio driver failed: %s", SDL_GetError());
            return false;
        }
    }
    Mix_AllocateChannels(kMixChannels);
    Mix_ReserveChannels(AudioOutput::kSpeechChannel + 1);
    PLOG(LOG_INFO, "audio output on driver %s", SDL_GetCurrentAudioDriver());
    return true;
}

} // namespace

bool AudioOutput::Open()
{
    static std::once_flag once;
    std::call_once(once, [] { g_open = OpenDevice(); });
    return g_open;
}

const char *AudioOutput::DriverName()
{
    const char *name = g_open ? SDL_GetCurrentAudioDriver() : nullptr;
    return name ? name : "";
}

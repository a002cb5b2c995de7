#include "WavPlayer.h"

#include "AudioOutput.h"
#include "Log.h"
#include "SettingsValues.h"
#include "WavFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <SDL_mixer.h>

#include <memory>

namespace {

struct ChunkDeleter
{
    void operator()(Mix_Chunk *chunk) const { Mix_FreeChunk(chunk); }
};
using ChunkPtr = std::unique_ptr<Mix_Chunk, ChunkDeleter>;

bool Interrupted(const std::atomic<bool> *abort)
{
    return g_speechInterrupt.load() || (abort && abort->load());
}

} // namespace

bool WavPlayer::WaitUnlessInterrupted(qint64 ms, const std::atomic<bool> *abort)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (Interrupted(abort))
            return false;
        QThread::msleep(1);
    }
    return true;
}

bool WavPlayer::PlayWav(const QString &path, const std::atomic<bool> *abort)
{
    if (!QFile::exists(path))
        return false;
    WavFile::Info info;
    if (!WavFile::ReadInfo(path, &info) || info.byteRate == 0) {
        PLOG(LOG_WARNING, "%s is no playable WAV", qPrintable(path));
        return QFile(path).open(QIODevice::ReadOnly);
    }

    AudioOutput::Open();
    ChunkPtr chunk(Mix_LoadWAV(path.toLocal8Bit().constData()));
    if (!chunk)
        PLOG(LOG_WARNING, "load %s: %s", qPrintable(path), Mix_GetError());
    else if (Mix_PlayChannel(AudioOutput::kSpeechChannel, chunk.get(), 0) < 0)
        PLOG(LOG_WARNING, "play %s: %s", qPrintable(path), Mix_GetError());

    // The announcement keeps its length even when the sound could not start,
    // so the modes' timing is the same with or without a device.
    WaitUnlessInterrupted(info.DurationMs() + kTailMs, abort);
    // The chunk must not be freed while the mixer still reads it.
    Mix_HaltChannel(AudioOutput::kSpeechChannel);
    return true;
}

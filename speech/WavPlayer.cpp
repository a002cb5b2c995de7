#include "WavPlayer.h"

#include "AudioOutput.h"
#include "ChunkCache.h"
#include "Log.h"
#include "SettingsValues.h"
#include "WavFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QThread>

#include <SDL_mixer.h>

namespace {

// One speech channel, so one playback at a time; the lock also keeps a
// chunk in the cache until the channel playing it has been halted.
QMutex g_playMutex;
ChunkCache g_chunks;

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

    QMutexLocker lock(&g_playMutex);
    AudioOutput::Open();
    Mix_Chunk *chunk = g_chunks.Get(path);
    if (chunk && Mix_PlayChannel(AudioOutput::kSpeechChannel, chunk, 0) < 0)
        PLOG(LOG_WARNING, "play %s: %s", qPrintable(path), Mix_GetError());

    // The announcement keeps its length even when the sound could not start,
    // so the modes' timing is the same with or without a device.
    WaitUnlessInterrupted(info.DurationMs() + kTailMs, abort);
    Mix_HaltChannel(AudioOutput::kSpeechChannel);
    return true;
}

#include "speech/WavPlayer.h"

#include "speech/AudioOutput.h"
#include "core/Log.h"
#include "speech/SpeechStream.h"
#include "speech/WavFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QThread>

namespace {

// One speech channel, so one playback at a time.
QMutex g_playMutex;

bool Interrupted(const std::atomic<bool> *abort)
{
    return abort && abort->load();
}

} // namespace

bool WavPlayer::WaitUnlessInterrupted(qint64 ms, const std::atomic<bool> *abort, const std::function<void()> &onTick)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (Interrupted(abort))
            return false;
        if (onTick)
            onTick();
        QThread::msleep(1);
    }
    return true;
}

void WavPlayer::HaltNow()
{
    AudioOutput::HaltSpeech();
}

bool WavPlayer::PlayWav(const QString &path, const std::atomic<bool> *abort, qint64 tailMs,
                        const std::function<void()> &onAudibleEnd)
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
    SpeechStream stream;
    stream.Start(path, info);
    QElapsedTimer playing;
    playing.start();
    // Found once the sound has started, so the scan never delays it.
    qint64 audibleEnd = onAudibleEnd ? WavFile::AudibleEndMs(path) : -1;
    if (audibleEnd < 0)
        audibleEnd = info.DurationMs();
    bool told = !onAudibleEnd;
    // The announcement keeps its length even when the sound could not start,
    // so the modes' timing is the same with or without a device.
    WaitUnlessInterrupted(info.DurationMs() + tailMs, abort, [&] {
        stream.Feed();
        if (!told && playing.elapsed() >= audibleEnd) {
            told = true;
            onAudibleEnd();
        }
    });
    stream.Stop();
    if (!told)
        onAudibleEnd();
    return true;
}

#include "speech/Chime.h"

#include "core/AppPaths.h"
#include "speech/AudioOutput.h"
#include "core/Log.h"
#include "core/SettingsValues.h"
#include "core/SmallFile.h"
#include "speech/WavFile.h"
#include "speech/WavPlayer.h"

#include <QFile>
#include <QtEndian>

#include <SDL_mixer.h>

#include <cmath>

namespace {

struct Tone
{
    double hz;
    int ms;
};

// A rising two-tone chime, each tone struck and fading like a bell.
const Tone kTones[] = {{659.3, 350}, {880.0, 550}};
constexpr double kLevel = 0.45;
constexpr int kGapMs = 150; // quiet between the chime and the speech

} // namespace

QString Chime::BuiltInPath()
{
    return AppPaths::SpeechCacheDir() + QStringLiteral("chime-builtin.wav");
}

bool Chime::WriteBuiltIn(const QString &path)
{
    QByteArray pcm;
    for (const Tone &tone : kTones) {
        const int samples = WavFile::kSampleRate * tone.ms / 1000;
        for (int i = 0; i < samples; ++i) {
            const double t = double(i) / WavFile::kSampleRate;
            const double attack = qMin(1.0, t / 0.005); // no click at the start
            const double decay = std::exp(-4.0 * t / (tone.ms / 1000.0));
            const double v = kLevel * attack * decay * std::sin(2 * M_PI * tone.hz * t);
            char bytes[2];
            qToLittleEndian<qint16>(qint16(v * 32767), bytes);
            pcm.append(bytes, 2);
        }
    }
    pcm.append(QByteArray(WavFile::kSampleRate * kGapMs / 1000 * 2, '\0'));
    return SmallFile::Replace(path, WavFile::Header(quint32(pcm.size())) + pcm);
}

bool Chime::Play(const QString &setting, const std::atomic<bool> *abort)
{
    if (setting.isEmpty())
        return false;
    if (setting == kBuiltIn) {
        const QString path = BuiltInPath();
        if (!QFile::exists(path) && !WriteBuiltIn(path)) {
            PLOG(LOG_WARNING, "cannot write the chime %s", qPrintable(path));
            return false;
        }
        return WavPlayer::PlayWav(path, abort, 0);
    }
    // The operator's file, in any format the mixer reads, loaded whole:
    // a chime is short.
    Mix_Chunk *chunk = nullptr;
    AudioOutput::WithDevice([&] { chunk = Mix_LoadWAV(QFile::encodeName(setting).constData()); });
    if (!chunk) {
        PLOG(LOG_WARNING, "chime %s cannot be played: %s", qPrintable(setting), Mix_GetError());
        return false;
    }
    int rate = 0, channels = 0;
    Uint16 format = 0;
    Mix_QuerySpec(&rate, &format, &channels);
    const qint64 bytesPerMs = qMax<qint64>(1, qint64(rate) * channels * (SDL_AUDIO_BITSIZE(format) / 8) / 1000);
    Mix_PlayChannel(AudioOutput::kSpeechChannel, chunk, 0);
    WavPlayer::WaitUnlessInterrupted(chunk->alen / bytesPerMs + kGapMs, abort);
    Mix_HaltChannel(AudioOutput::kSpeechChannel);
    Mix_FreeChunk(chunk);
    return true;
}

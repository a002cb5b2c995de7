#include "speech/SpeechStream.h"

#include "speech/AudioOutput.h"
#include "core/Log.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <cstring>

namespace {

constexpr int kReadBlockMs = 100;
constexpr int kCarrierBytes = 32768;
constexpr int kFirstPieceMs = 25;

// The silent chunk the speech channel loops while a stream plays.
Uint8 *CarrierBytes()
{
    static Uint8 silence[kCarrierBytes] = {};
    return silence;
}

SDL_AudioFormat InputFormat(const WavFile::Info &info)
{
    switch (info.bitsPerSample) {
    case 8:
        return AUDIO_U8;
    case 16:
        return AUDIO_S16LSB;
    case 32:
        return AUDIO_S32LSB;
    default:
        return 0;
    }
}

} // namespace

SpeechStream::~SpeechStream()
{
    Stop();
}

bool SpeechStream::Start(const QString &path, const WavFile::Info &info)
{
    Stop();
    int deviceRate = 0, deviceChannels = 0;
    Uint16 deviceFormat = 0;
    const SDL_AudioFormat inputFormat = InputFormat(info);
    if (!Mix_QuerySpec(&deviceRate, &deviceFormat, &deviceChannels) || inputFormat == 0 || info.channels == 0
        || info.sampleRate == 0) {
        PLOG(LOG_WARNING, "%s: no device or unsupported format (%u Hz, %u channels, %u bits)", qPrintable(path),
             info.sampleRate, info.channels, info.bitsPerSample);
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly) || !m_file.seek(info.dataOffset)) {
        PLOG(LOG_WARNING, "open %s: %s", qPrintable(path), qPrintable(m_file.errorString()));
        return false;
    }
    m_converter = SDL_NewAudioStream(inputFormat, Uint8(info.channels), int(info.sampleRate), deviceFormat,
                                     Uint8(deviceChannels), deviceRate);
    if (!m_converter) {
        PLOG(LOG_WARNING, "converter for %s: %s", qPrintable(path), SDL_GetError());
        m_file.close();
        return false;
    }
    m_frameBytes = info.channels * (info.bitsPerSample / 8);
    m_readBlockBytes = qMax<qint64>(1, qint64(info.sampleRate) * kReadBlockMs / 1000) * m_frameBytes;
    m_bytesLeft = qMin<qint64>(info.dataSize, m_file.size() - info.dataOffset);
    m_bytesLeft -= m_bytesLeft % m_frameBytes;
    const qint64 outputBytesPerSecond = qint64(deviceRate) * deviceChannels * SDL_AUDIO_BITSIZE(deviceFormat) / 8;
    m_aheadBytes = outputBytesPerSecond * kAheadMs / 1000;
    m_inputPerOutput = double(info.sampleRate) * m_frameBytes / double(qMax<qint64>(1, outputBytesPerSecond));
    m_flushed = false;

    // The channel starts at once; the mixer plays silence until the first
    // piece is converted, a fraction of one device buffer later.
    m_carrier = Mix_QuickLoad_RAW(CarrierBytes(), kCarrierBytes);
    Mix_UnregisterAllEffects(AudioOutput::kSpeechChannel); // none left by a halt from outside
    if (!m_carrier || Mix_PlayChannel(AudioOutput::kSpeechChannel, m_carrier, -1) < 0
        || !Mix_RegisterEffect(AudioOutput::kSpeechChannel, &SpeechStream::Effect, nullptr, this)) {
        PLOG(LOG_WARNING, "play %s: %s", qPrintable(path), Mix_GetError());
        Stop();
        return false;
    }
    m_playing = true;
    // A first piece just large enough for the mixer's next buffer: the
    // thread gives the core back at once, and Feed() tops it up.
    ReadAhead(outputBytesPerSecond * kFirstPieceMs / 1000);
    return true;
}

void SpeechStream::Feed()
{
    // One block a call: the player calls every millisecond, and a whole
    // second converted at once would hold the core just as the sound starts.
    if (m_playing)
        ReadAhead(m_aheadBytes, 1);
}

qint64 SpeechStream::ReadyBytes()
{
    QMutexLocker lock(&m_mutex);
    return m_ready.size() - m_readPos;
}

// Conversion happens on this thread without the lock; the mixer's thread
// only ever waits for a copy into or out of m_ready.
void SpeechStream::ReadAhead(qint64 wantedBytes, int maxBlocks)
{
    for (int blocks = 0; blocks < maxBlocks && !m_flushed && ReadyBytes() < wantedBytes; ++blocks) {
        if (m_bytesLeft > 0) {
            // About what is still wanted, in whole frames, at most a read block.
            const qint64 missing = qint64((wantedBytes - ReadyBytes()) * m_inputPerOutput) + m_frameBytes;
            const qint64 readBytes = qMin(m_readBlockBytes, missing - missing % m_frameBytes);
            const QByteArray block = m_file.read(qMin(m_bytesLeft, readBytes));
            m_bytesLeft = block.isEmpty() ? 0 : m_bytesLeft - block.size();
            if (!block.isEmpty())
                SDL_AudioStreamPut(m_converter, block.constData(), int(block.size() - block.size() % m_frameBytes));
        }
        if (m_bytesLeft <= 0) {
            SDL_AudioStreamFlush(m_converter); // the converter's last samples
            m_flushed = true;
        }
        QByteArray converted(SDL_AudioStreamAvailable(m_converter), Qt::Uninitialized);
        converted.resize(qMax(0, SDL_AudioStreamGet(m_converter, converted.data(), int(converted.size()))));
        QMutexLocker lock(&m_mutex);
        if (m_readPos > 0 && m_readPos >= m_ready.size() / 2) { // drop what was played
            m_ready.remove(0, m_readPos);
            m_readPos = 0;
        }
        m_ready += converted;
    }
}

// Runs on the mixer's thread for each piece of the silent carrier.
void SpeechStream::Effect(int, void *stream, int length, void *self)
{
    auto *me = static_cast<SpeechStream *>(self);
    QMutexLocker lock(&me->m_mutex);
    const qint64 got = qMin<qint64>(length, me->m_ready.size() - me->m_readPos);
    if (got > 0) {
        std::memcpy(stream, me->m_ready.constData() + me->m_readPos, size_t(got));
        me->m_readPos += got;
    }
    if (got < length)
        std::memset(static_cast<Uint8 *>(stream) + qMax<qint64>(got, 0), 0, size_t(length - qMax<qint64>(got, 0)));
}

void SpeechStream::Stop()
{
    if (m_carrier) {
        // Halting removes the effect under the mixer's lock: after this the
        // mixer's thread no longer touches this object.
        Mix_HaltChannel(AudioOutput::kSpeechChannel);
        // The channel may have been halted from another thread already
        // (WavPlayer::HaltNow), leaving the effect registered.
        Mix_UnregisterAllEffects(AudioOutput::kSpeechChannel);
        Mix_FreeChunk(m_carrier);
        m_carrier = nullptr;
    }
    m_playing = false;
    if (m_converter) {
        SDL_FreeAudioStream(m_converter);
        m_converter = nullptr;
    }
    QMutexLocker lock(&m_mutex);
    m_ready.clear();
    m_readPos = 0;
    lock.unlock();
    m_file.close();
}

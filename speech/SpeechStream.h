#pragma once

#include "speech/WavFile.h"

#include <QByteArray>
#include <QFile>
#include <QMutex>

struct Mix_Chunk;
struct _SDL_AudioStream;

// Plays the PCM data of a WAV file on the speech channel in pieces: the
// file is read and converted to the device's format a little ahead of the
// sound card, so a long announcement needs no more memory than a short one
// and no single conversion grows with the text. The channel plays an
// endless silent chunk; a mixer effect on the channel replaces its
// samples with the converted speech.
class SpeechStream
{
public:
    // How much converted audio is kept ready ahead of the device.
    static constexpr int kAheadMs = 1000;

    SpeechStream() = default;
    ~SpeechStream();
    SpeechStream(const SpeechStream &) = delete;
    SpeechStream &operator=(const SpeechStream &) = delete;

    // Starts playing on an open device. False (and nothing plays) when the
    // file or its format cannot be used.
    bool Start(const QString &path, const WavFile::Info &info);
    // Reads and converts more of the file while less than kAheadMs is ready.
    void Feed();
    // Halts the channel and lets go of the file and the converter.
    void Stop();

private:
    static void Effect(int channel, void *stream, int length, void *self);
    void ReadAhead(qint64 wantedBytes, int maxBlocks = 1 << 30);
    qint64 ReadyBytes();

    QFile m_file;
    qint64 m_bytesLeft = 0;   // file data not yet read
    int m_frameBytes = 0;     // input bytes per sample frame
    qint64 m_readBlockBytes = 0;
    qint64 m_aheadBytes = 0;  // kAheadMs of device-format audio
    double m_inputPerOutput = 1; // file bytes per device-format byte
    bool m_flushed = false;
    _SDL_AudioStream *m_converter = nullptr; // this thread only
    QMutex m_mutex;           // guards m_ready and m_readPos, shared with the mixer's thread
    QByteArray m_ready;       // converted audio not yet played
    qint64 m_readPos = 0;
    Mix_Chunk *m_carrier = nullptr;
    bool m_playing = false;
};

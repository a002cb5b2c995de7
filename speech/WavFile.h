#pragma once

#include <QByteArray>
#include <QString>

// The canonical 44-byte header of a 16 kHz mono 16-bit PCM WAV file.
namespace WavFile {
constexpr int kHeaderSize = 44;
constexpr int kSampleRate = 16000;
constexpr int kByteRate = 32000;
// A quarter second of silence closes every synthesized file.
constexpr int kSilenceBytes = kByteRate / 4;

QByteArray Header(quint32 dataSize);

struct Info
{
    quint32 byteRate = 0;
    quint32 dataSize = 0;
    quint16 channels = 0;
    quint32 sampleRate = 0;
    quint16 bitsPerSample = 0;
    qint64 dataOffset = kHeaderSize; // where the sound starts in the file
    // Playing time of the data; 0 when the byte rate is 0.
    qint64 DurationMs() const;
};
// Reads the sample format and finds the sound by walking the file's chunks
// (FFmpeg writes a LIST chunk before it). The data size is what the file
// really holds. False when the file cannot be opened or has no format and
// data chunk.
bool ReadInfo(const QString &path, Info *info);
// Below this level (about -54 dBFS) a 16-bit sample is not heard in a shop.
constexpr int kAudibleLevel = 64;
// Where in the sound the last sample at or above kAudibleLevel ends, in
// milliseconds from the start of the data (16-bit PCM; all channels
// counted); 0 when nothing is audible, -1 when the file cannot be read.
qint64 AudibleEndMs(const QString &path);
}

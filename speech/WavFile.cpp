#include "speech/WavFile.h"

#include <cstdlib>

#include <QFile>
#include <QtEndian>

namespace {

void PutLE32(QByteArray &bytes, int offset, quint32 value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

void PutLE16(QByteArray &bytes, int offset, quint16 value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

} // namespace

QByteArray WavFile::Header(quint32 dataSize)
{
    QByteArray h(kHeaderSize, '\0');
    h.replace(0, 4, "RIFF");
    PutLE32(h, 4, dataSize == 0 ? 0 : dataSize + 36);
    h.replace(8, 8, "WAVEfmt ");
    PutLE32(h, 16, 16);
    PutLE16(h, 20, 1); // PCM
    PutLE16(h, 22, 1); // mono
    PutLE32(h, 24, kSampleRate);
    PutLE32(h, 28, kByteRate);
    PutLE16(h, 32, 2);
    PutLE16(h, 34, 16);
    h.replace(36, 4, "data");
    PutLE32(h, 40, dataSize);
    return h;
}

qint64 WavFile::Info::DurationMs() const
{
    return byteRate == 0 ? 0 : qint64(dataSize) * 1000 / byteRate;
}

bool WavFile::ReadInfo(const QString &path, Info *info)
{
    *info = Info();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray riff = file.read(12);
    if (riff.size() < 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE")
        return false;
    // The chunks in order: "fmt " gives the format, "data" the sound;
    // others (LIST, fact) are stepped over, wherever they sit.
    bool format = false;
    for (int chunks = 0; chunks < 64; ++chunks) {
        const QByteArray head = file.read(8);
        if (head.size() < 8)
            return false;
        const quint32 size = qFromLittleEndian<quint32>(head.constData() + 4);
        const qint64 body = file.pos();
        if (head.startsWith("fmt ")) {
            const QByteArray f = file.read(16);
            if (f.size() < 16)
                return false;
            info->channels = qFromLittleEndian<quint16>(f.constData() + 2);
            info->sampleRate = qFromLittleEndian<quint32>(f.constData() + 4);
            info->byteRate = qFromLittleEndian<quint32>(f.constData() + 8);
            info->bitsPerSample = qFromLittleEndian<quint16>(f.constData() + 14);
            format = true;
        } else if (head.startsWith("data")) {
            info->dataOffset = body;
            // A header written before the length was known may claim more
            // (or 0xFFFFFFFF): what is in the file counts.
            info->dataSize = quint32(qMin<qint64>(size, file.size() - body));
            return format;
        }
        if (!file.seek(body + size + (size & 1)))
            return false;
    }
    return false;
}

qint64 WavFile::AudibleEndMs(const QString &path)
{
    Info info;
    QFile file(path);
    if (!ReadInfo(path, &info) || info.bitsPerSample != 16 || info.byteRate == 0 || !file.open(QIODevice::ReadOnly))
        return -1;
    // Read backwards in blocks: the trailing quiet is short, the speech long.
    constexpr qint64 kBlock = 64 * 1024;
    qint64 end = info.dataSize & ~qint64(1);
    while (end > 0) {
        const qint64 start = qMax<qint64>(0, end - kBlock);
        if (!file.seek(info.dataOffset + start))
            return -1;
        const QByteArray block = file.read(end - start);
        const auto *samples = reinterpret_cast<const qint16 *>(block.constData());
        for (qint64 i = block.size() / 2 - 1; i >= 0; --i)
            if (std::abs(int(samples[i])) >= kAudibleLevel)
                return (start + (i + 1) * 2) * 1000 / info.byteRate;
        end = start;
    }
    return 0;
}

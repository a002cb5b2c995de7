#include "WavFile.h"

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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray h = file.read(kHeaderSize);
    if (h.size() < kHeaderSize)
        return false;
    info->byteRate = qFromLittleEndian<quint32>(h.constData() + 28);
    info->dataSize = qFromLittleEndian<quint32>(h.constData() + 40);
    info->channels = qFromLittleEndian<quint16>(h.constData() + 22);
    info->sampleRate = qFromLittleEndian<quint32>(h.constData() + 24);
    info->bitsPerSample = qFromLittleEndian<quint16>(h.constData() + 34);
    return true;
}

#pragma once

#include "core/Log.h"
#include "speech/WavFile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>

// Points the per-user data and cache locations into a fresh temporary
// directory (the log too), so a test never reads or writes the user's real files.
// Call before anything asks QStandardPaths.
inline QTemporaryDir &IsolateUserDirs()
{
    static QTemporaryDir root;
    qputenv("XDG_DATA_HOME", (root.path() + "/data").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (root.path() + "/cache").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (root.path() + "/config").toLocal8Bit());
    QCoreApplication::setApplicationName(QStringLiteral("Parlivo"));
    LogFile::SetPath((root.path() + "/parlivo.log").toLocal8Bit());
    return root;
}

inline QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes a whole file, creating its folder. False when it could not be written.
inline bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The highest absolute sample of 16-bit PCM.
inline int PeakOf(const QByteArray &pcm)
{
    const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
    int peak = 0;
    for (qsizetype i = 0; i < pcm.size() / 2; ++i)
        peak = qMax(peak, std::abs(int(s[i])));
    return peak;
}

// SDL's disk driver writes 44.1 kHz stereo 16-bit: bytes per millisecond.
constexpr qint64 kDiskBytesPerMs = 44100 * 4 / 1000;

// The peak of the disk driver's output between two points in milliseconds.
inline int DiskPeak(const QByteArray &out, qint64 fromMs, qint64 toMs)
{
    const qint64 from = qBound<qint64>(0, fromMs * kDiskBytesPerMs, out.size()) & ~3;
    const qint64 to = qBound<qint64>(0, toMs * kDiskBytesPerMs, out.size()) & ~3;
    return PeakOf(out.mid(from, to - from));
}

// A speech WAV (16 kHz mono): a soft 1 kHz tone of toneMs, heard but far
// below music, then quietMs of silence as a synthesizer leaves after words.
inline QByteArray SoftTone(int toneMs, int quietMs)
{
    QByteArray pcm(qint64(toneMs + quietMs) * 32, '\0');
    auto *s = reinterpret_cast<qint16 *>(pcm.data());
    for (int i = 0; i < toneMs * 16; ++i)
        s[i] = qint16(300 * std::sin(2 * M_PI * 1000 * i / 16000.0));
    return WavFile::Header(quint32(pcm.size())) + pcm;
}

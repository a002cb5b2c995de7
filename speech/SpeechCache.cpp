#include "speech/SpeechCache.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "core/SettingsValues.h"
#include "speech/TextNormalizer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <utime.h>
#include <vector>

namespace {

QMutex g_inUseMutex;
QHash<QString, int> g_inUse; // path → holders

QMutex g_trimMutex;
std::atomic<qint64> g_total{-1}; // bytes in the folder; -1 before the first pass

struct Entry
{
    QByteArray name;
    qint64 bytes;
    qint64 usedNs;
};

// The regular files directly in the folder, least recently used first.
// Read with readdir and fstatat: a pass over many files stays quick.
std::vector<Entry> FilesByAge(const QByteArray &dir)
{
    std::vector<Entry> files;
    DIR *d = opendir(dir.constData());
    if (!d)
        return files;
    const int fd = dirfd(d);
    while (const dirent *e = readdir(d)) {
        struct stat st {};
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        files.push_back({QByteArray(e->d_name), qint64(st.st_size),
                         qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
    }
    closedir(d);
    std::sort(files.begin(), files.end(), [](const Entry &a, const Entry &b) { return a.usedNs < b.usedNs; });
    return files;
}

QString Joined(const QString &dir, const QByteArray &name)
{
    return QDir(dir).absoluteFilePath(QFile::decodeName(name));
}

} // namespace

QString SpeechCache::PathFor(const QString &text)
{
    return PathFor(text, g_settings.yusheng.Get(), g_settings.speed, g_settings.volume);
}

// Everything that changes the sound is in the name: the text, how it is
// read (the reading rules and the operator's own readings, through the
// reading itself), the voice, the speed and the volume. A change of any
// of them finds no stale file; old files go by the cache's trim.
QString SpeechCache::PathFor(const QString &text, const QString &voice, int speed, int volume)
{
    int dropped = 0;
    const QString reading = TextNormalizer::Normalize(TextNormalizer::KeepReadable(text, &dropped));
    QByteArray key = text.toUtf8();
    for (const QByteArray &part : {reading.toUtf8(), voice.toUtf8(), QByteArray::number(speed), QByteArray::number(volume)})
        key += '\x1f' + part;
    const QByteArray md5 = QCryptographicHash::hash(key, QCryptographicHash::Md5).toHex();
    return AppPaths::SpeechCacheDir() + QString::fromLatin1(md5) + QStringLiteral(".wav");
}

SpeechCache::InUse::InUse(const QStringList &paths)
{
    QMutexLocker lock(&g_inUseMutex);
    for (const QString &path : paths) {
        const QString key = QDir::cleanPath(QDir().absoluteFilePath(path));
        ++g_inUse[key];
        m_paths << key;
    }
}

SpeechCache::InUse::~InUse()
{
    QMutexLocker lock(&g_inUseMutex);
    for (const QString &key : std::as_const(m_paths))
        if (--g_inUse[key] <= 0)
            g_inUse.remove(key);
}

bool SpeechCache::IsInUse(const QString &path)
{
    QMutexLocker lock(&g_inUseMutex);
    return g_inUse.contains(QDir::cleanPath(QDir().absoluteFilePath(path)));
}

void SpeechCache::Touch(const QString &path)
{
    utime(QFile::encodeName(path).constData(), nullptr);
}

SpeechCache::TrimResult SpeechCache::TrimToSize(const QString &dir, qint64 limitBytes)
{
    QMutexLocker lock(&g_trimMutex);
    TrimResult result;
    const std::vector<Entry> files = FilesByAge(QFile::encodeName(dir));
    for (const Entry &file : files)
        result.bytesLeft += file.bytes;
    if (result.bytesLeft > limitBytes) {
        for (const Entry &file : files) {
            if (result.bytesLeft <= limitBytes)
                break;
            const QString path = Joined(dir, file.name);
            if (IsInUse(path))
                continue;
            if (!QFile::remove(path)) {
                PLOG(LOG_WARNING, "remove %s failed", qPrintable(path));
                continue;
            }
            result.bytesLeft -= file.bytes;
            ++result.removed;
        }
        PLOG(LOG_INFO, "speech cache: %d files used longest ago removed, %lld bytes left", result.removed,
             result.bytesLeft);
    }
    g_total = result.bytesLeft;
    return result;
}

void SpeechCache::Added(const QString &dir, qint64 bytes, qint64 limitBytes)
{
    const qint64 total = g_total.load();
    if (total >= 0 && total + bytes <= limitBytes) {
        g_total += bytes;
        return;
    }
    TrimToSize(dir, limitBytes);
}

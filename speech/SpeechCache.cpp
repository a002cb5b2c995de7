#include "speech/SpeechCache.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "core/SettingsValues.h"
#include "speech/TextNormalizer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

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

void SpeechCache::Trim(const QString &dir)
{
    const QFileInfoList files =
        QDir(dir).entryInfoList(QDir::Files | QDir::Hidden, QDir::Time | QDir::Reversed);
    if (files.size() <= kTrimAbove)
        return;
    for (int i = 0; i < kTrimCount; ++i) {
        if (!QFile::remove(files.at(i).absoluteFilePath()))
            PLOG(LOG_ERROR, "remove %s failed", qPrintable(files.at(i).absoluteFilePath()));
    }
}

#include "speech/SpeechCache.h"

#include "core/AppPaths.h"
#include "core/Log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

QString SpeechCache::PathFor(const QString &text)
{
    const QByteArray md5 = QCryptographicHash::hash(text.toLocal8Bit(), QCryptographicHash::Md5).toHex();
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

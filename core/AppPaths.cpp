#include "core/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

QString AppPaths::DataLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString AppPaths::DataDir()
{
    return DataLocation() + QStringLiteral("/Parlivo");
}

QString AppPaths::SpeechCacheDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
           + QStringLiteral("/Parlivo/");
}

void AppPaths::EnsureDataDir()
{
    QDir().mkpath(DataDir()); // the data location with it
}

bool AppPaths::EnsureSpeechCacheDir()
{
    const QString dir = SpeechCacheDir();
    if (!QDir().mkpath(dir))
        return false;
    // Only this user may list, fill or replace the cached speech.
    return QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

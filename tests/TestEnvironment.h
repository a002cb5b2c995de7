#pragma once

#include "Log.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QTemporaryDir>

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

#include "core/StoredFile.h"

#include "core/Log.h"
#include "core/Notices.h"
#include "core/SettingsValues.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <algorithm>
#include <vector>

namespace {

QMutex g_registryMutex;
std::vector<const StoredFile *> g_files;

const QString kErrorTitle = QStringLiteral("错误");

} // namespace

StoredFile::StoredFile(QString path, QString listName, bool tellSaveFailures)
    : m_path(std::move(path)), m_listName(std::move(listName)), m_tellSaveFailures(tellSaveFailures)
{
    QMutexLocker lock(&g_registryMutex);
    g_files.push_back(this);
}

StoredFile::~StoredFile()
{
    if (m_saveFailed)
        PLOG(LOG_ERROR, "%s: the last changes could not be saved (%s)", qPrintable(m_path), qPrintable(m_lastError));
    QMutexLocker lock(&g_registryMutex);
    g_files.erase(std::remove(g_files.begin(), g_files.end(), this), g_files.end());
}

QStringList StoredFile::FailedFiles()
{
    QMutexLocker lock(&g_registryMutex);
    QStringList failed;
    for (const StoredFile *file : g_files)
        if (file->m_saveFailed)
            failed << file->m_path;
    return failed;
}

QString StoredFile::KeepAside(const QString &path)
{
    const QString base = path + QStringLiteral(".unreadable-")
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = base;
    for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
        target = base + QStringLiteral("-%1").arg(n);
    // rename(2) moves the file whatever its contents or permissions, and
    // never over an existing name (checked just above, same folder).
    return QFile::rename(path, target) ? target : QString();
}

QString StoredFile::BreakablePath(const QString &path)
{
    QString shown = path;
    return shown.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
}

XmlFile::ReadResult StoredFile::Load(TiXmlDocument *doc)
{
    QString why;
    const XmlFile::ReadResult result = XmlFile::Read(m_path, doc, &why);
    if (result != XmlFile::ReadResult::Unusable)
        return result;

    const QString kept = KeepAside(m_path);
    // In Chinese only (the log says why); the paths may break at any "/".
    QString notice = QStringLiteral("%1文件已损坏，无法读取：\n%2\n").arg(m_listName, BreakablePath(m_path));
    if (kept.isEmpty()) {
        m_protected = true;
        PLOG(LOG_ERROR, "%s is unusable (%s) and cannot be moved aside; it is not saved over in this run",
             qPrintable(m_path), qPrintable(why));
        notice += QStringLiteral("该文件无法移开，本次运行不会覆盖它。");
    } else {
        PLOG(LOG_ERROR, "%s is unusable (%s); kept as %s", qPrintable(m_path), qPrintable(why), qPrintable(kept));
        notice += QStringLiteral("原文件已保留为：\n%1\n").arg(BreakablePath(kept));
    }
    notice += QStringLiteral("列表从空白开始。");
    Notices::Raise(kErrorTitle, notice);
    return result;
}

XmlFile::ReadResult StoredFile::LoadFrom(const QString &path, TiXmlDocument *doc)
{
    if (path == m_path)
        return Load(doc);
    StoredFile other(path, m_listName);
    return other.Load(doc);
}

StoredFile::SaveResult StoredFile::Save(const TiXmlDocument &doc)
{
    if (g_restorePending)
        return SaveResult::Skipped;
    if (m_protected) {
        PLOG(LOG_WARNING, "%s was unusable and is still in place: not saved over", qPrintable(m_path));
        return SaveResult::Skipped;
    }
    const QString dir = QFileInfo(m_path).absolutePath();
    SaveResult result = SaveResult::Saved;
    m_lastError.clear();
    if (!QDir(dir).exists() && !QDir().mkpath(dir)) {
        m_lastError = QStringLiteral("无法创建文件夹 %1").arg(dir);
        result = SaveResult::DirFailed;
    } else if (!XmlFile::Write(doc, m_path, &m_lastError)) {
        result = SaveResult::WriteFailed;
    }
    if (result == SaveResult::Saved) {
        if (m_saveFailed)
            PLOG(LOG_INFO, "%s saved again", qPrintable(m_path));
        m_saveFailed = false;
        m_lastError.clear();
        return result;
    }
    if (!m_saveFailed && m_tellSaveFailures)
        Notices::Raise(kErrorTitle, QStringLiteral("无法保存%1：\n%2\n原因：%3\n修改目前只在窗口中，请检查磁盘空间和文件夹权限。")
                                                  .arg(m_listName, m_path, m_lastError));
    m_saveFailed = true;
    return result;
}

StoredFile::SaveResult StoredFile::SaveLogged(const TiXmlDocument &doc, const char *file, int line,
                                              const char *function)
{
    const SaveResult result = Save(doc);
    const QByteArray source = LogFile::SourceName(file), name = LogFile::FunctionName(function);
    if (result == SaveResult::DirFailed)
        WriteLog(LOG_ERROR, "[%s(%d):%s() ] create dir(%s) failed", source.constData(), line, name.constData(),
                 qPrintable(QFileInfo(m_path).absolutePath()));
    else if (result == SaveResult::WriteFailed)
        WriteLog(LOG_ERROR, "[%s(%d):%s() ] write config file(%s) failed: %s", source.constData(), line,
                 name.constData(), qPrintable(m_path), qPrintable(m_lastError));
    return result;
}

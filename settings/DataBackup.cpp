#include "settings/DataBackup.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "core/SmallFile.h"
#include "core/XmlFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <tinyxml.h>

#include <cstdio>

namespace {

void (*g_stepHook)() = nullptr;

// Called before every change to a file, so tests can stop the operation
// (as a crash would) between any two of them.
void Step()
{
    if (g_stepHook)
        g_stepHook();
}

// The three lists: file, name on its tab, root element, and whether a
// record has the fields its reader takes a row from.
struct ListKind
{
    const char *file;
    const char *name;
    const char *root;
    bool (*recordHasFields)(const TiXmlElement &record);
};

const ListKind kKinds[] = {
    {"/price.xml", "报价", "PriceRecords",
     [](const TiXmlElement &r) { return r.Attribute("text") || r.Attribute("price") || r.Attribute("name"); }},
    {"/SimpleMode.xml", "文字", "records", [](const TiXmlElement &) { return true; }},
    {"/timer.xml", "定时", "TimerRecords", [](const TiXmlElement &r) { return r.Attribute("title") != nullptr; }},
};

const ListKind *KindOf(const DataBackup::ListFile &list)
{
    for (const ListKind &kind : kKinds)
        if (list.file.endsWith(QLatin1String(kind.file)))
            return &kind;
    return nullptr;
}

const QString kStaged = QStringLiteral(".staged");
const QString kBeforeRestore = QStringLiteral(".before-restore");
// The marker's one line: which operation, and whether its copies are whole.
const QByteArray kCopying = "copying";
const QByteArray kReplacing = "replacing";

QString MarkerPath(const char *operation)
{
    return QDir(AppPaths::DataDir()).absoluteFilePath(QString::fromLatin1(operation) + QStringLiteral(".unfinished"));
}

// What the last restore did, shown once after the restart.
QString RestoreNotePath()
{
    return QDir(AppPaths::DataDir()).absoluteFilePath(QStringLiteral("restore-note.txt"));
}

bool WriteMarker(const QString &path, const QByteArray &phase)
{
    Step();
    return SmallFile::Replace(path, phase + '\n');
}

QByteArray ReadMarker(const QString &path)
{
    QFile marker(path);
    if (!QFileInfo(path).isFile() || !marker.open(QIODevice::ReadOnly))
        return {};
    return marker.read(64).trimmed();
}

bool RenameOver(const QString &from, const QString &to)
{
    Step();
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// The target of each staged copy: the backup for a backup, the list for a restore.
QString Target(const DataBackup::ListFile &list, bool backup)
{
    return backup ? list.backup : list.file;
}

void RemoveStaged(bool backup)
{
    for (const DataBackup::ListFile &list : DataBackup::ListFiles())
        QFile::remove(Target(list, backup) + kStaged);
}

// Renames every staged copy over its target; a target without a staged
// copy was replaced already (or, for a backup, its list was never saved).
bool ReplaceStaged(bool backup, QString *failedFile)
{
    for (const DataBackup::ListFile &list : DataBackup::ListFiles()) {
        const QString target = Target(list, backup);
        if (!QFileInfo::exists(target + kStaged))
            continue;
        if (!RenameOver(target + kStaged, target)) {
            *failedFile = target;
            return false;
        }
    }
    return true;
}

// A backup of a list that is no longer saved would mix two moments.
void RemoveBackupsOfUnsavedLists()
{
    for (const DataBackup::ListFile &list : DataBackup::ListFiles())
        if (!QFileInfo(list.file).isFile())
            QFile::remove(list.backup);
}

} // namespace

QList<DataBackup::ListFile> DataBackup::ListFiles()
{
    const QString dir = QDir(AppPaths::DataDir()).absolutePath();
    QList<ListFile> files;
    for (const ListKind &kind : kKinds)
        files.append({dir + QLatin1String(kind.file), dir + QLatin1String(kind.file) + QStringLiteral(".bak"),
                      QString::fromUtf8(kind.name)});
    return files;
}

QString DataBackup::NameOf(const QString &path)
{
    for (const ListFile &list : ListFiles())
        if (path == list.file || path.startsWith(list.file + QLatin1Char('.')))
            return list.name;
    return path;
}

QString DataBackup::WrongContent(const ListFile &list, const TiXmlDocument &doc)
{
    const ListKind *kind = KindOf(list);
    const TiXmlElement *root = doc.FirstChildElement();
    if (!kind || !root)
        return QStringLiteral("no list");
    if (qstrcmp(root->Value(), kind->root) != 0)
        return QStringLiteral("root <%1>, not <%2>").arg(QString::fromLocal8Bit(root->Value()), QLatin1String(kind->root));
    for (const TiXmlElement *e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (qstrcmp(e->Value(), "record") != 0)
            return QStringLiteral("<%1> among the records").arg(QString::fromLocal8Bit(e->Value()));
        if (!kind->recordHasFields(*e))
            return QStringLiteral("a record without the fields of this list");
    }
    return {};
}

QList<DataBackup::ListFile> DataBackup::ListsWithoutBackup()
{
    QList<ListFile> lists;
    for (const ListFile &list : ListFiles())
        if (!QFileInfo(list.backup).isFile())
            lists.append(list);
    return lists;
}

QString DataBackup::RestoreSummary(const QList<ListFile> &restored, const QList<ListFile> &kept)
{
    auto names = [](const QList<ListFile> &lists) {
        QStringList out;
        for (const ListFile &list : lists)
            out << list.name;
        return out.join(QStringLiteral("、"));
    };
    QString text = QStringLiteral("用备份还原的列表：%1").arg(names(restored));
    if (!kept.isEmpty())
        text += QStringLiteral("\n没有备份、保持原样的列表：%1").arg(names(kept));
    return text;
}

bool DataBackup::CopyReplacing(const QString &from, const QString &to)
{
    Step();
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    QSaveFile target(to);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    while (!source.atEnd()) {
        const QByteArray block = source.read(1 << 20);
        if (block.isEmpty() && source.error() != QFile::NoError)
            break;
        if (target.write(block) != block.size()) {
            target.cancelWriting();
            return false;
        }
    }
    if (source.error() != QFile::NoError) {
        target.cancelWriting();
        return false;
    }
    return target.commit();
}

DataBackup::BackupResult DataBackup::Backup()
{
    BackupResult result;
    const QString marker = MarkerPath("backup");
    const QList<ListFile> lists = ListFiles();
    for (const ListFile &list : lists)
        if (!QFileInfo(list.file).isFile())
            result.nothingSaved << list.name;
    if (result.nothingSaved.size() == lists.size()) {
        result.outcome = Outcome::NothingToDo;
        return result;
    }
    auto fail = [&](const QString &file) {
        PLOG(LOG_ERROR, "backup of %s failed", qPrintable(file));
        RemoveStaged(true);
        QFile::remove(marker);
        result.outcome = Outcome::Failed;
        result.failedFile = file;
        return result;
    };
    if (!WriteMarker(marker, kCopying))
        return fail(marker);
    for (const ListFile &list : lists)
        if (QFileInfo(list.file).isFile() && !CopyReplacing(list.file, list.backup + kStaged))
            return fail(list.file);
    if (!WriteMarker(marker, kReplacing))
        return fail(marker);
    QString failed;
    if (!ReplaceStaged(true, &failed))
        return fail(failed);
    RemoveBackupsOfUnsavedLists();
    Step();
    QFile::remove(marker);
    result.outcome = Outcome::Done;
    return result;
}

QList<DataBackup::ListFile> DataBackup::RestorableLists()
{
    QList<ListFile> lists;
    for (const ListFile &list : ListFiles())
        if (QFileInfo(list.backup).isFile())
            lists.append(list);
    return lists;
}

QString DataBackup::FirstDamagedBackup(const QList<ListFile> &lists)
{
    for (const ListFile &list : lists) {
        TiXmlDocument doc;
        QString why;
        if (XmlFile::Read(list.backup, &doc, &why) == XmlFile::ReadResult::Ok)
            why = WrongContent(list, doc);
        if (!why.isEmpty()) {
            PLOG(LOG_WARNING, "backup %s is refused: %s", qPrintable(list.backup), qPrintable(why));
            return list.name;
        }
    }
    return {};
}

DataBackup::RestoreResult DataBackup::Restore()
{
    RestoreResult result;
    const QList<ListFile> lists = RestorableLists();
    if (lists.isEmpty()) {
        result.outcome = Outcome::NothingToDo;
        return result;
    }
    result.damagedBackup = FirstDamagedBackup(lists);
    if (!result.damagedBackup.isEmpty())
        return result;
    const QString marker = MarkerPath("restore");
    const QString note = RestoreNotePath();
    auto fail = [&](const QString &file) {
        PLOG(LOG_ERROR, "restore of %s failed", qPrintable(file));
        RemoveStaged(false);
        QFile::remove(note);
        QFile::remove(marker);
        result.failedFile = file;
        return result;
    };
    if (!WriteMarker(marker, kCopying))
        return fail(marker);
    for (const ListFile &list : lists) {
        const bool kept = !QFileInfo(list.file).isFile() || CopyReplacing(list.file, list.file + kBeforeRestore);
        if (!kept || !CopyReplacing(list.backup, list.file + kStaged))
            return fail(list.file);
    }
    // Told after the restart, however the restore ends from here on.
    if (!SmallFile::Replace(note, RestoreSummary(lists, ListsWithoutBackup()).toUtf8()))
        return fail(note);
    if (!WriteMarker(marker, kReplacing))
        return fail(marker);
    // From here the restore is finished, now or at the next start.
    QString failed;
    if (!ReplaceStaged(false, &failed)) {
        PLOG(LOG_ERROR, "restore of %s stopped; finished at the next start", qPrintable(failed));
        result.failedFile = failed;
        result.finishAtNextStart = true;
        return result;
    }
    for (const ListFile &list : lists)
        PLOG(LOG_INFO, "restored %s from %s", qPrintable(list.file), qPrintable(list.backup));
    Step();
    QFile::remove(marker);
    result.outcome = Outcome::Done;
    return result;
}

QString DataBackup::FinishInterrupted()
{
    QStringList notices;
    for (const bool backup : {true, false}) {
        const QString marker = MarkerPath(backup ? "backup" : "restore");
        if (!QFileInfo::exists(marker))
            continue;
        const QByteArray phase = ReadMarker(marker);
        const QString what = backup ? QStringLiteral("数据备份") : QStringLiteral("数据还原");
        QString failed;
        if (phase == kReplacing && ReplaceStaged(backup, &failed)) {
            if (backup)
                RemoveBackupsOfUnsavedLists();
            PLOG(LOG_WARNING, "an interrupted %s was finished", backup ? "backup" : "restore");
            notices << QStringLiteral("上次的%1在完成前中断，现已完成。").arg(what);
        } else if (phase == kReplacing) {
            PLOG(LOG_ERROR, "an interrupted %s could not be finished: %s", backup ? "backup" : "restore", qPrintable(failed));
            notices << QStringLiteral("上次的%1在完成前中断，现在仍无法完成：\n%2\n请检查文件夹权限。").arg(what, failed);
            continue; // the marker stays, so the next start tries again
        } else {
            RemoveStaged(backup);
            PLOG(LOG_WARNING, "an interrupted %s was rolled back", backup ? "backup" : "restore");
            notices << (backup ? QStringLiteral("上次的数据备份在完成前中断，已撤销，之前的备份保持不变。")
                               : QStringLiteral("上次的数据还原在完成前中断，已撤销，列表保持还原前的内容。"));
            if (!backup)
                QFile::remove(RestoreNotePath());
        }
        QFile::remove(marker);
    }
    // The summary of a restore finished before the restart.
    const QString note = RestoreNotePath();
    if (!QFileInfo::exists(MarkerPath("restore")) && QFileInfo(note).isFile()) {
        QByteArray summary;
        if (SmallFile::Read(note, 4096, &summary) == SmallFile::Result::Ok)
            notices << QStringLiteral("数据已还原。\n") + QString::fromUtf8(summary);
        QFile::remove(note);
    }
    return notices.join(QLatin1Char('\n'));
}

void DataBackup::SetStepHookForTests(void (*hook)())
{
    g_stepHook = hook;
}

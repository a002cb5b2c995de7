#pragma once

#include <QString>
#include <QStringList>

class TiXmlDocument;

// Backup and restore of the three lists (price, word, timer) as one set.
// Each is all or nothing across a crash: a marker file is written before
// the first file is touched and removed after the last. Copies are staged
// beside their targets first; the marker then records that every copy is
// whole, and only after that are the targets replaced, one rename each.
// At the next start FinishInterrupted() rolls back an operation that
// crashed while copying and finishes one that crashed while replacing.
// No widgets: callers turn the outcomes into messages.
namespace DataBackup {

struct ListFile
{
    QString file;   // the list as the program saves it
    QString backup; // its backup, file + ".bak"
    QString name;   // as staff know it: its tab's name (报价, 文字, 定时)
};

// The three lists, always in this order: price, word, timer.
QList<ListFile> ListFiles();

enum class Outcome { Done, NothingToDo, Failed };

struct BackupResult
{
    Outcome outcome = Outcome::Failed;
    QStringList nothingSaved; // names of lists never saved, not backed up
    QString failedFile;       // the file that could not be copied
};
// Backs up every list that exists; a backup of a list that no longer
// exists is removed so the set stays from one moment.
BackupResult Backup();

struct RestoreResult
{
    Outcome outcome = Outcome::Failed;
    QString damagedBackup; // name of a list whose backup is damaged or another list's: nothing replaced
    QString failedFile;    // a file that could not be copied or renamed
    bool finishAtNextStart = false; // every copy whole, a rename failed
};
// Lists that have a backup; empty when there is none.
QList<ListFile> RestorableLists();
// Lists that have no backup and would stay as they are.
QList<ListFile> ListsWithoutBackup();
// Whether a read document is the list it is to be: its root element and
// each record's fields as the list's reader expects them. "" when it is,
// else what is wrong.
QString WrongContent(const ListFile &list, const TiXmlDocument &doc);
// Reads every backup as at start-up and checks it is its own list; the
// name of the first that is damaged or another list's, else "".
QString FirstDamagedBackup(const QList<ListFile> &lists);
// What a restore does to each list, in staff's words: which are restored
// and which have no backup and stay as they are.
QString RestoreSummary(const QList<ListFile> &restored, const QList<ListFile> &kept);
// Replaces the lists with their backups, keeping each list as
// "<file>.before-restore". Backups are checked first. The summary is
// kept for the notice after the restart.
RestoreResult Restore();
// The list's name for a file of it (list, backup, staged copy), else the path.
QString NameOf(const QString &path);

// Finishes or rolls back a backup or restore a crash interrupted, and
// takes the summary of a restore done before a restart; the operator's
// notice, or "" when there is nothing to say.
QString FinishInterrupted();

// Tests: called before every change to a file (to stop there as a crash would).
void SetStepHookForTests(void (*hook)());

// Replaces `to` with a byte copy of `from` through a temporary file and a
// rename: a failed copy leaves the old `to` as it was.
bool CopyReplacing(const QString &from, const QString &to);

}

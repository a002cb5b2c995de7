#pragma once

#include <QString>
#include <QStringList>

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
};

// The three lists, always in this order: price, word, timer.
QList<ListFile> ListFiles();

enum class Outcome { Done, NothingToDo, Failed };

struct BackupResult
{
    Outcome outcome = Outcome::Failed;
    QStringList nothingSaved; // file names of lists never saved, not backed up
    QString failedFile;       // the file that could not be copied
};
// Backs up every list that exists; a backup of a list that no longer
// exists is removed so the set stays from one moment.
BackupResult Backup();

struct RestoreResult
{
    Outcome outcome = Outcome::Failed;
    QString damagedBackup; // a backup the list reader refused: nothing replaced
    QString failedFile;    // a file that could not be copied or renamed
    bool finishAtNextStart = false; // every copy whole, a rename failed
};
// Lists that have a backup; empty when there is none.
QList<ListFile> RestorableLists();
// Reads every backup as at start-up; the first damaged one, else "".
QString FirstDamagedBackup(const QList<ListFile> &lists);
// Replaces the lists with their backups, keeping each list as
// "<file>.before-restore". Backups are checked first.
RestoreResult Restore();

// Finishes or rolls back a backup or restore a crash interrupted; the
// operator's notice saying which, or "" when nothing was under way.
QString FinishInterrupted();

// Tests: called before every change to a file (to stop there as a crash would).
void SetStepHookForTests(void (*hook)());

// Replaces `to` with a byte copy of `from` through a temporary file and a
// rename: a failed copy leaves the old `to` as it was.
bool CopyReplacing(const QString &from, const QString &to);

}

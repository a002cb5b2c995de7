#pragma once

#include "core/XmlFile.h"

#include <QString>
#include <QStringList>

class TiXmlDocument;

#define SAVE_STORED_FILE(storedFile, doc) (storedFile).SaveLogged((doc), __FILE__, __LINE__, __PRETTY_FUNCTION__)

// One of the program's stored files, read and written the one safe way.
// A file that is present but unusable is moved aside to a name that says
// so and when, and the operator is told once where it is; when it cannot
// be moved, nothing is saved over it in this run. A failed save is told
// once (not at every save) and stays known until a save succeeds.
class StoredFile
{
public:
    // listName is what the operator calls the list, for example "文字列表".
    // A caller that reports failed saves itself passes tellSaveFailures false.
    StoredFile(QString path, QString listName, bool tellSaveFailures = true);
    ~StoredFile();
    StoredFile(const StoredFile &) = delete;
    StoredFile &operator=(const StoredFile &) = delete;

    const QString &Path() const { return m_path; }
    // The path as a notice shows it: a line may break after any "/", so a
    // long path is wrapped, not cut off.
    static QString BreakablePath(const QString &path);
    // Ok: doc holds the file. Missing: defaults are fine. Unusable: the
    // file was kept (or protected) and the operator told; start empty.
    XmlFile::ReadResult Load(TiXmlDocument *doc);
    // Load() of this file when path is its own; another file is read the
    // same way under this list's name, and this file's state is untouched.
    XmlFile::ReadResult LoadFrom(const QString &path, TiXmlDocument *doc);
    enum class SaveResult { Saved, Skipped, DirFailed, WriteFailed };
    // Writes the document (creating its folder) unless a restore is pending
    // or an unusable file could not be moved aside (Skipped). The caller
    // logs failures in its own words; LastError() says why.
    SaveResult Save(const TiXmlDocument &doc);
    const QString &LastError() const { return m_lastError; }
    // Save(), logging a failure with the caller's location ("create dir(%s)
    // failed", "write config file(%s) failed"); use SAVE_STORED_FILE.
    SaveResult SaveLogged(const TiXmlDocument &doc, const char *file, int line, const char *function);
    bool SaveFailed() const { return m_saveFailed; }

    // The files whose last save failed, for the question at quit.
    static QStringList FailedFiles();
    // Where an unusable file is moved: path + ".unreadable-YYYYMMDD-HHMMSS",
    // with "-2", "-3"... when that name is taken. Empty when it cannot be moved.
    static QString KeepAside(const QString &path);

private:
    QString m_path;
    QString m_listName;
    bool m_protected = false; // an unusable file is still in place: never save over it
    bool m_saveFailed = false;
    bool m_tellSaveFailures = true;
    QString m_lastError;
};

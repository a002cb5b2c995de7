#pragma once

#include "core/XmlFile.h"

#include <QObject>

#include <functional>
#include <memory>

class SaveTimer;
class StoredFile;
class TiXmlDocument;

// The life of one stored list: read from its file, written a second after
// the last change (or at once when asked), written before the process
// ends, and its failed saves known. The list itself says how it is written.
class StoredList : public QObject
{
    Q_OBJECT

public:
    using Writer = std::function<void(TiXmlDocument *)>;

    // listName is what staff call the list ("文字列表").
    StoredList(const QString &path, const QString &listName, Writer writer, QObject *parent);
    ~StoredList() override;

    const QString &Path() const;
    // Reads path (this list's own file unless another is given).
    XmlFile::ReadResult Load(TiXmlDocument *doc, const QString &path = QString());
    // The list changed: written a second from now.
    void Changed();
    // Written now (Ctrl+S, a list replaced whole, quitting).
    void SaveNow();
    // A change not yet written.
    bool Pending() const;
    bool SaveFailed() const;

private:
    std::unique_ptr<StoredFile> m_file;
    Writer m_writer;
    SaveTimer *m_timer;
};

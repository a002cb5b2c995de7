#include "shop/StoredList.h"

#include "core/AppPaths.h"
#include "core/PendingSaves.h"
#include "core/StoredFile.h"
#include "shop/SaveTimer.h"

#include <tinyxml.h>

StoredList::StoredList(const QString &path, const QString &listName, Writer writer, QObject *parent)
    : QObject(parent), m_file(std::make_unique<StoredFile>(path, listName)), m_writer(std::move(writer)),
      m_timer(new SaveTimer(this))
{
    AppPaths::EnsureDataDir();
    connect(m_timer, &QTimer::timeout, this, &StoredList::SaveNow);
    // Edits not yet written are saved even when the process ends without
    // tearing the shop down (the display connection lost).
    PendingSaves::Add(this, [this] {
        if (Pending())
            SaveNow();
    });
}

StoredList::~StoredList()
{
    PendingSaves::Remove(this);
    if (Pending())
        SaveNow();
}

const QString &StoredList::Path() const
{
    return m_file->Path();
}

XmlFile::ReadResult StoredList::Load(TiXmlDocument *doc, const QString &path)
{
    return m_file->LoadFrom(path.isEmpty() ? m_file->Path() : path, doc);
}

void StoredList::Changed()
{
    m_timer->Restart();
}

void StoredList::SaveNow()
{
    m_timer->stop();
    TiXmlDocument doc;
    m_writer(&doc);
    SAVE_STORED_FILE(*m_file, doc); // skipped while a restore is pending
}

bool StoredList::Pending() const
{
    return m_timer->isActive();
}

bool StoredList::SaveFailed() const
{
    return m_file->SaveFailed();
}

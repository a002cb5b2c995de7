#pragma once

#include <QDateTime>
#include <QString>

#include <list>
#include <memory>

struct Mix_Chunk;

// Speech files already converted to the device's format. Loading a WAV
// converts 16 kHz mono to the device's rate and channels, which takes
// milliseconds per announcement; shops repeat the same few all day, so
// the converted audio of the most recent ones is kept.
class ChunkCache
{
public:
    static constexpr int kMaxEntries = 16;
    static constexpr qint64 kMaxBytes = 32 * 1024 * 1024;

    ~ChunkCache();
    // The converted audio of the file, loaded on a miss; nullptr when it
    // cannot be loaded. Valid until the next call. Callers must not call
    // it while a chunk it returned is still playing.
    Mix_Chunk *Get(const QString &path);
    int Size() const { return int(m_entries.size()); }

private:
    struct ChunkDeleter
    {
        void operator()(Mix_Chunk *chunk) const;
    };
    struct Entry
    {
        QString path;
        qint64 size;
        QDateTime modified;
        int generation;
        std::unique_ptr<Mix_Chunk, ChunkDeleter> chunk;
    };
    void EvictBeyondLimits();

    std::list<Entry> m_entries; // most recently used first
};

#include "ChunkCache.h"

#include "AudioOutput.h"
#include "Log.h"

#include <QFileInfo>

#include <SDL_mixer.h>

void ChunkCache::ChunkDeleter::operator()(Mix_Chunk *chunk) const
{
    Mix_FreeChunk(chunk);
}

ChunkCache::~ChunkCache() = default;

Mix_Chunk *ChunkCache::Get(const QString &path)
{
    const QFileInfo info(path);
    const int generation = AudioOutput::FormatGeneration();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->path != path)
            continue;
        if (it->size == info.size() && it->modified == info.lastModified() && it->generation == generation) {
            m_entries.splice(m_entries.begin(), m_entries, it);
            return m_entries.front().chunk.get();
        }
        m_entries.erase(it); // the file was replaced or the device changed
        break;
    }
    Mix_Chunk *chunk = Mix_LoadWAV(path.toLocal8Bit().constData());
    if (!chunk) {
        PLOG(LOG_WARNING, "load %s: %s", qPrintable(path), Mix_GetError());
        return nullptr;
    }
    m_entries.push_front(Entry{path, info.size(), info.lastModified(), generation,
                               std::unique_ptr<Mix_Chunk, ChunkDeleter>(chunk)});
    EvictBeyondLimits();
    return chunk;
}

void ChunkCache::EvictBeyondLimits()
{
    qint64 bytes = 0;
    int count = 0;
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        bytes += it->chunk->alen;
        // The newest entry always stays, however large.
        if (++count > 1 && (count > kMaxEntries || bytes > kMaxBytes)) {
            m_entries.erase(it, m_entries.end());
            return;
        }
    }
}

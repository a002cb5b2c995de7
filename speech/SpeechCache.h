#pragma once

#include <QString>
#include <QStringList>

// Synthesized speech, one WAV per text and way of saying it, named by an
// MD5 of the text, its reading, the voice, the speed and the volume. The
// folder is kept within a size: the files used longest ago go first, never
// one that is being played or exported.
namespace SpeechCache {
constexpr qint64 kDefaultLimitMb = 500;

// The cache file of a text as the current voice, speed and volume say it.
QString PathFor(const QString &text);
QString PathFor(const QString &text, const QString &voice, int speed, int volume);

// While an InUse lives, its files are not evicted (played, exported).
class InUse
{
public:
    explicit InUse(const QStringList &paths);
    ~InUse();
    InUse(const InUse &) = delete;
    InUse &operator=(const InUse &) = delete;

private:
    QStringList m_paths;
};
bool IsInUse(const QString &path);

// Marks a cached file as used now: it is evicted after those used before.
void Touch(const QString &path);

struct TrimResult
{
    int removed = 0;
    qint64 bytesLeft = 0; // of the files in the folder after the pass
};
// One pass over the folder: while it holds more than limitBytes, removes
// the least recently used files (by modification time, which Touch sets).
// Folders and files in use stay. Only what is over the limit goes: once
// the cache is full, a new text costs one listing and about one removal.
TrimResult TrimToSize(const QString &dir, qint64 limitBytes);
// Counts a file of `bytes` just added to the folder; a pass runs when the
// running total (known after the first pass) goes over the limit.
void Added(const QString &dir, qint64 bytes, qint64 limitBytes);
}

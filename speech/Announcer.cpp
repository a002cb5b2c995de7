#include "speech/Announcer.h"

#include "core/Log.h"
#include "core/SettingsValues.h"
#include "speech/Speake.h"

#include <QSet>

#include <algorithm>

namespace {

bool TurnMusicDown()
{
    return g_settings.smallWhenPlaying > 0;
}

bool MusicFollowsBroadcasts()
{
    return g_settings.musicStartType == 0;
}

// The timer's announcements are due at a clock time: they go ahead of the
// remote texts still waiting, which wait behind everything else in turn.
int RankOf(int source)
{
    switch (source) {
    case Announcer::Timer:
        return SpeechRequest::Timed;
    case Announcer::Remote:
        return SpeechRequest::Remote;
    default:
        return SpeechRequest::InTurn;
    }
}

} // namespace

SpeechSource::SpeechSource(Announcer *announcer, int source)
    : QObject(announcer), m_announcer(announcer), m_source(source)
{
}

void SpeechSource::Request(int tag, int type, const QString &content, bool report)
{
    m_announcer->Request(m_source, tag, type, content, report);
}

void SpeechSource::Drop(int tag)
{
    m_announcer->Drop(m_source, tag);
}

void SpeechSource::Cancel()
{
    m_announcer->Cancel(m_source);
}

void SpeechSource::SetActive(bool active)
{
    m_announcer->SetActive(m_source, active);
}

Announcer::Announcer(Speake *worker, QObject *parent) : QObject(parent), m_worker(worker)
{
    for (int source = 0; source < kSourceCount; ++source)
        m_sources[source] = new SpeechSource(this, source);
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &Announcer::QuietLongEnough);
    connect(worker, &Speake::ActionFinished, this, &Announcer::ActionFinished);
    connect(worker, &Speake::Spoken, this, &Announcer::Spoken);
    connect(worker, &Speake::SoundStarted, this, &Announcer::SoundStarted);
    connect(worker, &Speake::SoundEnded, this, &Announcer::SoundEnded);
}

int Announcer::Outstanding(Source source) const
{
    int count = 0;
    for (const Sent &sent : m_requests)
        count += sent.source == source ? 1 : 0;
    return count;
}

void Announcer::Request(int source, int tag, int type, const QString &content, bool report)
{
    const int index = m_nextIndex++;
    m_requests.insert(index, Sent{source, tag, report, type == 0 ? content : QString()});
    if (type == 0 && MusicFollowsBroadcasts() && !m_musicWanted) {
        m_musicWanted = true;
        emit WantMusic(true);
    }
    // Every request reports to the announcer, so it always knows what is
    // still queued; the source hears only of those it asked about.
    m_worker->Queue(index, type, content, true, RankOf(source));
}

void Announcer::Drop(int source, int tag)
{
    int first = -1;
    for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it)
        if (it->source == source && it->tag == tag && (first < 0 || it.key() < first))
            first = it.key();
    if (first >= 0)
        m_worker->DeleteRecord(first);
}

void Announcer::Cancel(int source)
{
    QSet<int> indexes;
    for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it)
        if (it->source == source)
            indexes.insert(it.key());
    if (indexes.isEmpty())
        return;
    PLOG(LOG_DEBUG, "source %d cancels %d requests", source, int(indexes.size()));
    m_worker->Cancel([indexes](int index) { return indexes.contains(index); });
}

void Announcer::SetActive(int source, bool active)
{
    m_active[source] = active;
    if (!active)
        CheckMusicStillWanted();
}

void Announcer::ActionFinished(int index)
{
    const auto found = m_requests.constFind(index);
    if (found == m_requests.cend())
        return;
    const Sent sent = *found;
    m_requests.erase(found);
    if (sent.report)
        emit m_sources[sent.source]->Finished(sent.tag);
    CheckMusicStillWanted();
}

void Announcer::Spoken(int index, bool heard)
{
    const auto found = m_requests.constFind(index);
    if (found != m_requests.cend())
        emit m_sources[found->source]->Spoken(found->tag, heard);
}

QString Announcer::Sounding() const
{
    return m_requests.value(m_soundingIndex).text;
}

QStringList Announcer::Waiting() const
{
    QList<int> indexes = m_requests.keys();
    std::sort(indexes.begin(), indexes.end());
    // In the order the worker will take them: the timer's ahead of remote texts.
    QList<Sent> queue;
    for (const int index : indexes) {
        const Sent sent = m_requests.value(index);
        if (index == m_soundingIndex || sent.text.isEmpty())
            continue;
        auto at = queue.end();
        if (sent.source == Timer)
            at = std::find_if(queue.begin(), queue.end(), [](const Sent &s) { return s.source == Remote; });
        queue.insert(at, sent);
    }
    QStringList texts;
    for (const Sent &sent : queue)
        texts << sent.text;
    return texts;
}

void Announcer::SoundStarted(int index)
{
    m_soundingIndex = index;
    m_soundStarted = QDateTime::currentDateTime();
    ++m_sounding;
    m_quiet.stop();
    if (TurnMusicDown() && !m_ducked) {
        m_ducked = true;
        emit DuckMusic(true);
    }
}

void Announcer::SoundEnded(int index)
{
    if (index == m_soundingIndex) {
        m_soundingIndex = -1;
        const auto sent = m_requests.constFind(index);
        if (sent != m_requests.cend() && !sent->text.isEmpty())
            emit Played(sent->source, sent->text, m_soundStarted, QDateTime::currentDateTime());
    }
    m_sounding = qMax(0, m_sounding - 1);
    if (m_sounding == 0)
        m_quiet.start();
}

void Announcer::QuietLongEnough()
{
    if (!m_ducked || m_sounding > 0)
        return;
    m_ducked = false;
    emit DuckMusic(false);
}

void Announcer::CheckMusicStillWanted()
{
    if (!m_musicWanted || !m_requests.isEmpty())
        return;
    for (const bool active : m_active)
        if (active)
            return;
    m_musicWanted = false;
    if (MusicFollowsBroadcasts())
        emit WantMusic(false);
}

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

bool Digit(QChar c)
{
    return c.isDigit();
}

// A text in clauses: cut after punctuation (not inside a number such as
// 1.98 or 08:30), at most kMaxClause characters each (a longer stretch is
// cut where no number or word runs across), and never very short ones.
QStringList Clauses(const QString &text)
{
    static const QString kEnds = QStringLiteral("，。！？；：、,.!?;:\n");
    constexpr int kMinClause = 6;
    QStringList clauses;
    QString clause;
    for (qsizetype i = 0; i < text.size(); ++i) {
        clause += text[i];
        const QChar next = i + 1 < text.size() ? text[i + 1] : QChar();
        const bool inNumber = i > 0 && Digit(text[i - 1]) && Digit(next);
        if (kEnds.contains(text[i]) && !inNumber && clause.size() >= kMinClause) {
            clauses << clause;
            clause.clear();
        } else if (clause.size() >= Announcer::kMaxClause && !text[i].isHighSurrogate()) {
            auto joined = [](QChar a, QChar b) {
                auto word = [](QChar c) { return c.isDigit() || (c.unicode() < 0x80 && c.isLetter()) || (c >= u'Ａ' && c <= u'ｚ'); };
                return word(a) && word(b);
            };
            if (!joined(text[i], next)) {
                clauses << clause;
                clause.clear();
            }
        }
    }
    if (!clause.trimmed().isEmpty() || clauses.isEmpty())
        clauses << clause;
    else if (!clause.isEmpty())
        clauses.last() += clause;
    return clauses;
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
    const QStringList clauses = source == Remote && type == 0 ? Clauses(content) : QStringList{content};
    const int group = m_nextIndex;
    m_groups.insert(group, Group{type == 0 ? content : QString(), int(clauses.size()), int(clauses.size())});
    if (type == 0 && MusicFollowsBroadcasts() && !m_musicWanted) {
        m_musicWanted = true;
        emit WantMusic(true);
    }
    // Every request reports to the announcer, so it always knows what is
    // still queued; the source hears only of those it asked about.
    for (const QString &clause : clauses) {
        const int index = m_nextIndex++;
        m_requests.insert(index, Sent{source, tag, report, type == 0 ? clause : QString(), group});
        m_worker->Queue(index, type, clause, true, RankOf(source));
    }
}

void Announcer::Drop(int source, int tag)
{
    int first = -1;
    for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it)
        if (it->source == source && it->tag == tag && (first < 0 || it.key() < first))
            first = it.key();
    if (first < 0)
        return;
    const int group = m_requests.value(first).group; // every clause of it
    for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it)
        if (it->group == group)
            m_worker->DeleteRecord(it.key());
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
    const auto group = m_groups.find(sent.group);
    if (group != m_groups.end() && --group->pending > 0)
        return; // more clauses to come
    const Group whole = group != m_groups.end() ? *group : Group{};
    if (group != m_groups.end())
        m_groups.erase(group);
    // Heard only when every clause was.
    if (whole.spoken > 0)
        emit m_sources[sent.source]->Spoken(sent.tag, whole.heard == whole.clauses);
    if (sent.report)
        emit m_sources[sent.source]->Finished(sent.tag);
    CheckMusicStillWanted();
}

void Announcer::Spoken(int index, bool heard)
{
    const auto found = m_requests.constFind(index);
    if (found == m_requests.cend())
        return;
    const auto group = m_groups.find(found->group);
    if (group == m_groups.end())
        return;
    ++group->spoken;
    group->heard += heard ? 1 : 0;
}

QString Announcer::Sounding() const
{
    const auto sounding = m_requests.constFind(m_soundingIndex);
    return sounding == m_requests.cend() ? QString() : m_groups.value(sounding->group).text;
}

QStringList Announcer::Waiting() const
{
    QList<int> indexes = m_requests.keys();
    std::sort(indexes.begin(), indexes.end());
    // In the order the worker will take them: the timer's ahead of remote texts.
    const int soundingGroup = m_requests.contains(m_soundingIndex) ? m_requests.value(m_soundingIndex).group : -1;
    QList<Sent> queue;
    QSet<int> listed;
    for (const int index : indexes) {
        const Sent sent = m_requests.value(index);
        if (sent.group == soundingGroup || sent.text.isEmpty() || listed.contains(sent.group))
            continue;
        listed.insert(sent.group);
        auto at = queue.end();
        if (sent.source == Timer)
            at = std::find_if(queue.begin(), queue.end(), [](const Sent &s) { return s.source == Remote; });
        queue.insert(at, sent);
    }
    QStringList texts;
    for (const Sent &sent : queue)
        texts << m_groups.value(sent.group).text;
    return texts;
}

void Announcer::SoundStarted(int index)
{
    m_soundingIndex = index;
    m_soundStarted = QDateTime::currentDateTime();
    if (const auto sent = m_requests.constFind(index); sent != m_requests.cend()) {
        const auto group = m_groups.find(sent->group);
        if (group != m_groups.end() && !group->started.isValid())
            group->started = m_soundStarted;
    }
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
        // A text is recorded once, whole, when its last clause has sounded.
        const auto sent = m_requests.constFind(index);
        const auto group = sent != m_requests.cend() ? m_groups.constFind(sent->group) : m_groups.cend();
        if (sent != m_requests.cend() && !sent->text.isEmpty() && (group == m_groups.cend() || group->pending <= 1))
            emit Played(sent->source, group != m_groups.cend() ? group->text : sent->text,
                        group != m_groups.cend() && group->started.isValid() ? group->started : m_soundStarted,
                        QDateTime::currentDateTime());
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

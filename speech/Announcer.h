#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>

class Speake;
class Announcer;

// What one source (a mode, the remote interface) sees of the announcer:
// it hands over texts and waits with a tag of its own, hears back when
// each is done, and can cancel its own speech without touching another's.
class SpeechSource : public QObject
{
    Q_OBJECT

public:
    SpeechSource(Announcer *announcer, int source);

public slots:
    // type 0 speaks content, type 1 waits content milliseconds; report asks
    // for Finished(tag) when it is done (or dropped).
    void Request(int tag, int type, const QString &content, bool report);
    // Drops the first queued request with this tag (a deleted row).
    void Drop(int tag);
    // Drops everything this source has queued and cuts its request in hand.
    void Cancel();
    // A list of this source is playing (true) or paused, stopped, emptied.
    void SetActive(bool active);

signals:
    void Finished(int tag);
    // Before Finished of a text: whether it was really heard.
    void Spoken(int tag, bool heard);

private:
    Announcer *m_announcer;
    int m_source;
};

// The one road between everything that speaks and the speech worker. It
// keeps which source each request came from, routes the worker's reports
// back to that source, cancels by source, and decides the music's level
// from what the worker really plays:
// - turned down from the moment a chime or a text starts to sound (when
//   the setting asks for it);
// - back to normal once nothing has sounded for kQuietMs, so the rows of a
//   loop do not pump it;
// - with the music following the broadcasts, started with the next
//   request and paused once no source is playing and nothing is queued.
// A remote text goes to the worker clause by clause (kMaxClause characters
// at most), so an announcement due at a clock time, which goes ahead of
// remote texts, comes after the clause in hand rather than after the whole
// text; the rest of the text follows it. The source hears of the text once.
class Announcer : public QObject
{
    Q_OBJECT

public:
    enum Source { Word, Price, Timer, Remote, kSourceCount };
    static constexpr int kQuietMs = 1500;
    static constexpr int kMaxClause = 40; // characters: about ten seconds spoken

    explicit Announcer(Speake *worker, QObject *parent = nullptr);

    SpeechSource *From(Source source) const { return m_sources[source]; }
    // Requests handed to the worker and not yet reported, in all or of one source.
    int Outstanding() const { return int(m_requests.size()); }
    int Outstanding(Source source) const;
    bool MusicDucked() const { return m_ducked; }
    // The text sounding now ("" when none), and the texts still waiting
    // (a remote text cut by a timed announcement waits again, whole).
    QString Sounding() const;
    QStringList Waiting() const;
    bool MusicWanted() const { return m_musicWanted; }

signals:
    // The music's level: down while speech is heard, back after the quiet.
    void DuckMusic(bool down);
    // With the music following the broadcasts: play (true) or pause it.
    void WantMusic(bool playing);
    // A text was heard, from its first sound (the chime) to its end (a
    // remote text once, from its first clause to its last).
    void Played(int source, const QString &text, const QDateTime &started, const QDateTime &ended);

private:
    friend class SpeechSource;
    struct Sent
    {
        int source;
        int tag;
        bool report;
        QString text; // a text to speak (this clause of it); empty for a wait
        int group = 0; // the index of the request's first clause
    };
    // One request of a source, sent as one or more clauses.
    struct Group
    {
        QString text;
        int pending = 0; // clauses not yet reported
        int clauses = 0;
        int spoken = 0;  // clauses the worker reported on
        int heard = 0;   // of them, really heard
        QDateTime started; // when its first clause began to sound
    };

    void Request(int source, int tag, int type, const QString &content, bool report);
    void Drop(int source, int tag);
    void Cancel(int source);
    void SetActive(int source, bool active);

    void ActionFinished(int index);
    void Spoken(int index, bool heard);
    void SoundStarted(int index);
    void SoundEnded(int index);
    void QuietLongEnough();
    // Pauses following music once no source plays and nothing is queued.
    void CheckMusicStillWanted();

    Speake *m_worker;
    std::array<SpeechSource *, kSourceCount> m_sources{};
    std::array<bool, kSourceCount> m_active{};
    QHash<int, Sent> m_requests; // worker index → who asked
    QHash<int, Group> m_groups;  // first clause's index → the whole request
    int m_nextIndex = 1;
    int m_sounding = 0; // texts between SoundStarted and SoundEnded
    int m_soundingIndex = -1;
    QDateTime m_soundStarted;
    bool m_ducked = false;
    bool m_musicWanted = false;
    QTimer m_quiet;
};

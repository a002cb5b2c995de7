#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class SpeechSource;

// Texts sent from outside the shop (a till, a phone, head office): each
// judged by the same rules, spoken once in turn with everything else, and
// kept track of until it is done. Bounded, so that texts from outside
// never hold back the shop's own announcements for long.
class RemoteTexts : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxWaitingTexts = 5;
    static constexpr int kMaxWaitingSeconds = 120;
    static constexpr int kIndexBase = 0x3000000;

    enum class Verdict { Queued, NotText, Blank, TooLong, TooLongToSpeak, TooMuchWaiting };
    struct Outcome
    {
        Verdict verdict;
        int id = 0; // when queued
    };
    enum class State { Unknown, Waiting, Spoken, Failed };

    RemoteTexts(SpeechSource *source, QObject *parent = nullptr);

    // About how long a text takes to speak, in whole seconds, counted on
    // what the normaliser makes of it.
    static int SpokenSecondsEstimate(const QString &text);
    // Judges and, when it passes, queues the text.
    Outcome Say(const QString &text);
    State StateOf(int id) const;
    // The refusal's words for a verdict (for the interfaces' error texts).
    static QString Explain(Verdict verdict);

private:
    void Spoken(int index, bool heard);
    void Finished(int index);

    struct Announcement
    {
        bool done = false;
        bool heard = false;
        int seconds = 0;
    };
    SpeechSource *m_source;
    int m_nextId = 1;
    QHash<int, Announcement> m_said; // id → what became of it
    int m_waitingTexts = 0;
    int m_waitingSeconds = 0;
};

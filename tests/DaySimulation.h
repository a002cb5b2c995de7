#pragma once

// A shop day in milliseconds: a clock the caller sets and the speech
// worker's order and timing, simulated. Used by the timer tests and the
// benchmark.

#include "core/Clock.h"
#include "modes/PriceMode.h"
#include "core/SettingsValues.h"
#include "modes/TimerMode.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTime>

#include <deque>

// A clock the test sets: milliseconds since midnight of the first
// simulated day (Monday 7 December 2026), on a machine that has been
// running for ten hours.
class SimulatedClock : public Clock
{
public:
    qint64 ms = 0;
    QTime TimeOfDay() const override { return QTime(0, 0).addMSecs(int(ms % 86400000)); }
    QDate Today() const override { return QDate(2026, 12, 7).addDays(ms / 86400000); }
    qint64 TickMs() const override { return 36000000 + ms; }
};

inline QString At(qint64 ms)
{
    return QTime(0, 0).addMSecs(int(ms % 86400000)).toString("hh:mm:ss.zzz");
}

// The announcer and the speech worker's order and timing, simulated:
// requests run one after another; a text takes kTextMs, a wait its length;
// a mode's cancel drops its queued requests (those owing a report are
// reported at once) and ends its request in hand, as the announcer does.
// Reports go back to the mode that asked.
class SimulatedWorker : public QObject
{
public:
    static constexpr qint64 kTextMs = 8000;
    qint64 textMs = kTextMs; // how long every text takes
    struct Job
    {
        int index, type;
        QString content;
        bool report;
        bool fromTimer;
        bool dropped = false; // cancelled while queued: only its report is owed
    };
    struct Heard
    {
        qint64 at;
        QString text;
        bool fromTimer;
        bool dropped = false; // cancelled while queued: only its report is owed
    };

    SimulatedWorker(SimulatedClock &clock, TimerMode &timer, PriceMode &price)
        : m_clock(clock), m_timer(timer), m_price(price)
    {
        connect(&timer, &TimerMode::OutAudio, this, [this](int index, int type, const QString &content, bool report) {
            Queue({index, type, content, report, true});
        });
        connect(&price, &PriceMode::OutAudio, this, [this](int index, int type, const QString &content, bool report) {
            Queue({index, type, content, report, false});
        });
        connect(&timer, &TimerMode::CancelSpeech, this, [this] { Cancel(true); });
        connect(&price, &PriceMode::CancelSpeech, this, [this] { Cancel(false); });
    }
    // Runs every request that ends by `until`, the clock following each end.
    void RunUntil(qint64 until)
    {
        while (m_busy && m_endsAt <= until) {
            m_clock.ms = m_endsAt;
            m_busy = false;
            Report(m_current);
            StartNext();
        }
        m_clock.ms = until;
    }
    QList<Heard> heard;

private:
    void Queue(const Job &job)
    {
        m_queue.push_back(job);
        if (!m_busy)
            StartNext();
    }
    void Report(const Job &job)
    {
        if (!job.report)
            return;
        if (job.fromTimer)
            m_timer.ActionFinished(job.index);
        else
            m_price.ActionFinished(job.index);
    }
    // Drops the source's queued requests (those owing a report stay as a
    // report only) and ends its request in hand now.
    void Cancel(bool timer)
    {
        std::deque<Job> kept;
        for (Job job : m_queue) {
            job.dropped = job.dropped || job.fromTimer == timer;
            if (!job.dropped || job.report)
                kept.push_back(job);
        }
        m_queue = kept;
        if (m_busy && m_current.fromTimer == timer)
            m_endsAt = m_clock.ms;
    }
    void StartNext()
    {
        if (m_queue.empty())
            return;
        m_current = m_queue.front();
        m_queue.pop_front();
        const qint64 length = m_current.dropped ? 0 : m_current.type == 1 ? m_current.content.toLongLong() : textMs;
        if (m_current.type != 1 && !m_current.dropped)
            heard.append({m_clock.ms, m_current.content, m_current.fromTimer});
        m_endsAt = m_clock.ms + length;
        m_busy = true;
    }

    SimulatedClock &m_clock;
    TimerMode &m_timer;
    PriceMode &m_price;
    std::deque<Job> m_queue;
    Job m_current{};
    bool m_busy = false;
    qint64 m_endsAt = 0;
};


// Plays the timer from Play() through the given number of simulated
// seconds, one tick a second, the worker finishing requests in between.
inline void RunSimulatedSeconds(TimerMode &timer, SimulatedWorker &worker, qint64 seconds, qint64 from = 1)
{
    timer.Play();
    for (qint64 second = from; second <= seconds; ++second) {
        worker.RunUntil(second * 1000);
        timer.TimerOut();
    }
}

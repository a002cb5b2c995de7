#pragma once

// A shop day in milliseconds: a clock the caller sets and the speech
// worker's order and timing, simulated. Used by the timer tests and the
// benchmark.

#include "Clock.h"
#include "PriceMode.h"
#include "SettingsValues.h"
#include "TimerMode.h"

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
    quint32 TickMs() const override { return quint32(36000000 + ms); }
};

inline QString At(qint64 ms)
{
    return QTime(0, 0).addMSecs(int(ms % 86400000)).toString("hh:mm:ss.zzz");
}

// The speech worker's order and timing, simulated: requests run one after
// another; a text takes kTextMs, a wait its length; the interrupt flag
// cuts what starts while it is set, and a wait clears it, as the real
// worker does. Reports go back by index range, like the main window's.
class SimulatedWorker : public QObject
{
public:
    static constexpr qint64 kTextMs = 8000;
    struct Job
    {
        int index, type;
        QString content;
        bool report;
    };
    struct Heard
    {
        qint64 at;
        QString text;
        bool fromTimer;
    };

    SimulatedWorker(SimulatedClock &clock, TimerMode &timer, PriceMode &price)
        : m_clock(clock), m_timer(timer), m_price(price)
    {
        connect(&timer, &TimerMode::OutAudio, this, &SimulatedWorker::Queue);
        connect(&price, &PriceMode::OutAudio, this, &SimulatedWorker::Queue);
    }
    // Runs every request that ends by `until`, the clock following each end.
    void RunUntil(qint64 until)
    {
        while (m_busy && m_endsAt <= until) {
            m_clock.ms = m_endsAt;
            const Job job = m_current;
            m_busy = false;
            if (job.report) {
                if (job.index >= 0x2000000)
                    m_timer.ActionFinished(job.index);
                else
                    m_price.ActionFinished(job.index);
            }
            StartNext();
        }
        m_clock.ms = until;
    }
    QList<Heard> heard;

private:
    void Queue(int index, int type, const QString &content, bool report)
    {
        m_queue.push_back({index, type, content, report});
        if (!m_busy)
            StartNext();
    }
    void StartNext()
    {
        if (m_queue.empty())
            return;
        m_current = m_queue.front();
        m_queue.pop_front();
        qint64 length = m_current.type == 1 ? m_current.content.toLongLong() : kTextMs;
        if (g_speechInterrupt)
            length = 0;
        if (m_current.type == 1)
            g_speechInterrupt = false;
        else if (length > 0)
            heard.append({m_clock.ms, m_current.content, m_current.index >= 0x2000000});
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
inline void RunSimulatedSeconds(TimerMode &timer, SimulatedWorker &worker, qint64 seconds)
{
    timer.Play();
    for (qint64 second = 1; second <= seconds; ++second) {
        worker.RunUntil(second * 1000);
        timer.TimerOut();
    }
}

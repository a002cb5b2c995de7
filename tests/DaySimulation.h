#pragma once

// A shop day in milliseconds: a clock the caller sets and the speech
// worker's order and timing, simulated. Used by the timer tests and the
// benchmark.

#include "core/Clock.h"
#include "core/SettingsValues.h"
#include "shop/PriceListModel.h"
#include "shop/PricePlayer.h"
#include "shop/Shop.h"
#include "shop/StoredList.h"
#include "shop/TaskListModel.h"
#include "shop/TimerSchedule.h"
#include "shop/WordListModel.h"
#include "shop/WordPlayer.h"

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

// The shop's lists and players without the speech road: each list read
// from its file (or its defaults), as the shop does at start.
struct ShopLists
{
    ShopLists()
    {
        words.Load();
        prices.Load();
        tasks.Load();
    }
    WordListModel words;
    PriceListModel prices;
    TaskListModel tasks;
    WordPlayer word{&words, Shop::kWordBase};
    PricePlayer price{&prices, Shop::kPriceBase};
    TimerSchedule timer{&tasks, &price, Shop::kTimerBase};
};

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
    enum Source { Word, Price, Timer };
    struct Job
    {
        int index, type;
        QString content;
        bool report;
        Source source;
        bool dropped = false; // cancelled while queued: only its report is owed
    };
    struct Heard
    {
        qint64 at;
        QString text;
        Source source;
        bool fromTimer;
    };

    SimulatedWorker(SimulatedClock &clock, ShopLists &shop) : m_clock(clock), m_shop(shop)
    {
        Connect(&shop.word, Word);
        Connect(&shop.price, Price);
        Connect(&shop.timer, Timer);
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
    template <typename Player>
    void Connect(Player *player, Source source)
    {
        connect(player, &Player::OutAudio, this, [this, source](int index, int type, const QString &content, bool report) {
            Queue({index, type, content, report, source});
        });
        connect(player, &Player::CancelSpeech, this, [this, source] { Cancel(source); });
    }
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
        if (job.source == Timer)
            m_shop.timer.ActionFinished(job.index);
        else if (job.source == Price)
            m_shop.price.ActionFinished(job.index);
        else
            m_shop.word.ActionFinished(job.index);
    }
    // Drops the source's queued requests (those owing a report stay as a
    // report only) and ends its request in hand now.
    void Cancel(Source source)
    {
        std::deque<Job> kept;
        for (Job job : m_queue) {
            job.dropped = job.dropped || job.source == source;
            if (!job.dropped || job.report)
                kept.push_back(job);
        }
        m_queue = kept;
        if (m_busy && m_current.source == source)
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
            heard.append({m_clock.ms, m_current.content, m_current.source, m_current.source == Timer});
        m_endsAt = m_clock.ms + length;
        m_busy = true;
    }

    SimulatedClock &m_clock;
    ShopLists &m_shop;
    std::deque<Job> m_queue;
    Job m_current{};
    bool m_busy = false;
    qint64 m_endsAt = 0;
};


// Plays the timer from Play() through the given number of simulated
// seconds, one tick a second, the worker finishing requests in between.
inline void RunSimulatedSeconds(TimerSchedule &timer, SimulatedWorker &worker, qint64 seconds, qint64 from = 1)
{
    timer.Play();
    for (qint64 second = from; second <= seconds; ++second) {
        worker.RunUntil(second * 1000);
        timer.TimerOut();
    }
}

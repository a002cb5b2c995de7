#include "core/Clock.h"

#include <atomic>
#include <chrono>

namespace {

const Clock g_systemClock;
std::atomic<const Clock *> g_clock{&g_systemClock};

} // namespace

QTime Clock::TimeOfDay() const
{
    return QTime::currentTime();
}

QDate Clock::Today() const
{
    return QDate::currentDate();
}

qint64 Clock::TickMs() const
{
    // steady_clock is CLOCK_MONOTONIC: time since boot, never set back.
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

const Clock &Clock::Current()
{
    return *g_clock.load();
}

void Clock::Set(const Clock *clock)
{
    g_clock = clock ? clock : &g_systemClock;
}

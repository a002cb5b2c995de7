#pragma once

#include <QDate>
#include <QTime>

// Where the scheduler reads the time: the time of day and a millisecond
// tick count (monotonic, 64 bits: it never wraps). One object for the whole
// program; a test puts its own in place to run a day in milliseconds.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QTime TimeOfDay() const;
    virtual QDate Today() const;
    // Milliseconds since the machine started.
    virtual qint64 TickMs() const;

    static const Clock &Current();
    // Replaces the clock (the caller keeps ownership); nullptr restores the system clock.
    static void Set(const Clock *clock);
};

#pragma once

#include <QDate>
#include <QString>
#include <QDate>
#include <QTime>

// "hh:mm" of a clock time ("" for an invalid one), and back: the common
// form read and written quickly (lists of tens of thousands of tasks),
// anything else as Qt reads it.
QString ClockText(const QTime &time);
QTime ClockFromText(const QString &text);

// One timer task as the task list holds it, and as the task editor and
// the file reader exchange it.
struct TimerTask
{
    bool startAtTime = true;     // start at a clock time, else after the last announcement
    QTime startTime;             // hours and minutes
    int timeAfterLastTask = 0;   // seconds
    bool endAtTime = true;       // end at a clock time, else after repetitions
    QTime endTime;
    int lastTaskExecTimes = 0;   // repetitions
    bool playPrice = false;      // runs price mode; title and text unused
    QString title;
    QString text;
    // Days of the week the task runs on: bit 0 Monday … bit 6 Sunday.
    static constexpr int kEveryDay = 0x7F;
    int weekdays = kEveryDay;
    // A campaign's first and last day; an invalid date leaves that side open.
    QDate from;
    QDate until;
    // Ticked in the table: an ended task is unticked until the next day.
    bool enabled = true;
    // Who the task is while the program runs (not stored): the scheduler
    // follows the running task by it, wherever its row moves.
    quint64 id = 0;

    // Whether the task runs on this day: one of its weekdays, within its dates.
    bool RunsOn(const QDate &day) const
    {
        return (weekdays & (1 << (day.dayOfWeek() - 1))) && (!from.isValid() || day >= from)
               && (!until.isValid() || day <= until);
    }
};

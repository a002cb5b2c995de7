#pragma once

#include "shop/TimerTask.h"

#include <QList>

class TiXmlDocument;
class TiXmlElement;

// The timer tab's tasks as plain data, without widgets: what the table
// shows, what the scheduler works on and what timer.xml holds. Every task
// gets an id of its own when it enters the list.
class TaskList
{
public:
    // Counts and delays stay within what the table shows.
    static constexpr int kMaxCount = 99999;

    const QList<TimerTask> &Tasks() const { return m_tasks; }
    int Size() const { return int(m_tasks.size()); }
    const TimerTask &At(int row) const { return m_tasks.at(row); }
    // The row of a task, -1 when it is no longer in the list.
    int RowOf(quint64 id) const;
    bool dailyRestart = false;

    // Inserts at row (clamped), giving the task a new id; the row.
    int Insert(int row, TimerTask task);
    // Replaces a row's task, keeping its id and whether it is ticked.
    void Replace(int row, TimerTask task);
    void SetEnabled(int row, bool enabled);
    // Gives a row the id of a task it stands for (a list replaced whole);
    // later ids stay above it.
    void Adopt(int row, quint64 id);
    // Gives every task a new id from first on (ids of another list stay apart).
    void RenumberFrom(quint64 first);
    quint64 NextId() const { return m_nextId; }
    void Remove(int row);
    void Clear();

    // The three tasks of a fresh install.
    static TaskList Defaults();
    // The task's campaign dates as shown after its title: "" without dates,
    // else "12-20至01-03" (the year added when it is not the current one).
    static QString DatesText(const TimerTask &task, const QDate &today);
    // The title as the table shows it: the price task's name or the title,
    // followed by its weekdays and dates when they limit it.
    static QString TitleWithDays(const TimerTask &task, const QString &weekdays, const QDate &today);

    // Reads a <TimerRecords> element; values out of range are clamped and
    // logged, a task without a valid time keeps an invalid one.
    static TaskList FromXml(const TiXmlElement &root);
    // The document timer.xml holds, byte for byte as it has always been written.
    void ToXml(TiXmlDocument *doc) const;

private:
    QList<TimerTask> m_tasks;
    quint64 m_nextId = 1;
};

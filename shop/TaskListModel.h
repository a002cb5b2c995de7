#pragma once

#include "shop/TaskList.h"

#include <QAbstractTableModel>

class StoredList;

// The timer's tasks held by the shop, as a table the timer tab shows and
// the schedule works through; every change is stored (timer.xml).
class TaskListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ColumnCheck = 0, ColumnStart = 1, ColumnContent = 2, ColumnEnd = 3, kColumns = 4 };
    enum Role { IdRole = Qt::UserRole };

    explicit TaskListModel(QObject *parent = nullptr);
    ~TaskListModel() override;

    static QString FilePath();
    void Load(const QString &path = QString());
    const TaskList &List() const { return m_tasks; }
    StoredList &Store() const { return *m_store; }
    // "一二三四五" for Monday to Friday; empty for every day.
    static QString WeekdayText(int mask);
    // What the table shows of a task's content: its title (or 播报价格), its
    // weekdays and its campaign dates.
    static QString ContentText(const TimerTask &task);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    int Insert(int row, const TimerTask &task);
    // A task edited: its id and tick kept.
    void Replace(int row, const TimerTask &task);
    void SetEnabled(int row, bool enabled);
    void Remove(int row);
    void Clear();
    void SetDailyRestart(bool on);
    // Every task at once (saved at once); tasks still there, with the same
    // settings, stay who they were.
    void Replace(TaskList tasks);

signals:
    void DailyRestartChanged(bool on);
    // Staff ticked or unticked a task, or the schedule did.
    void TaskTicked(quint64 id, bool enabled);
    // A task was edited; kindChanged when it went from text to price or back.
    void TaskEdited(quint64 id, bool kindChanged);

private:
    TaskList m_tasks;
    StoredList *m_store;
};

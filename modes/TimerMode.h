#pragma once

#include "shop/TaskList.h"

#include <QDate>
#include <QHash>

#include <QWidget>

#include <memory>

class QTimer;
class SaveTimer;
class StoredFile;
namespace Ui {
class TimerMode;
}

// Timer mode: a table of tasks worked through in order, once a second
// while it plays. A task starts at a clock time or some seconds after the
// last announcement, announces its text over and over (or runs price
// mode) and ends at a clock time or after a number of repetitions. The
// tasks are held as data (TaskList); the table is their view, and the
// scheduler keeps its own run state beside them.
class TimerMode : public QWidget
{
    Q_OBJECT

public:
    enum Column { ColumnCheck = 0, ColumnStart = 1, ColumnContent = 2, ColumnEnd = 3 };
    static constexpr int kLeadInMs = 900;

    explicit TimerMode(int firstRequestIndex, QWidget *parent = nullptr);
    ~TimerMode() override;

    static QString FilePath();
    void LoadFile(const QString &fileName);
    const TaskList &Tasks() const { return m_tasks; }
    // Replaces every task at once (saved at once); a task that is still
    // there keeps running where it was.
    void ReplaceTasks(TaskList tasks);
    // Inserts a task at row (as the editor does); its row.
    int AddTask(int row, const TimerTask &task);
    // Replaces a row's task as the editor does (a running task keeps running).
    void ReplaceTask(int row, const TimerTask &task);
    void RemoveTask(int row);
    // Announcements of the task at row heard today (counted for tasks that
    // end after a number of repetitions).
    int RepetitionsDone(int row) const;
    // One step of the scheduler (run by TimerOut()).
    void RunSchedule();
    int PlayState() const { return m_playState; }
    bool SaveFailed() const;
    // "一二三四五" for Monday to Friday; empty for every day.
    static QString WeekdayText(int mask);

signals:
    void OutAudio(int index, int type, QString content, bool needFinisheReport);
    void DelRecord(int index);
    void StartPlay();
    // Cut this mode's queued and current speech (a pause).
    void CancelSpeech();
    // A task is being announced (true), or the timer is paused or idle.
    void Active(bool playing);
    void StartPriceMode();
    void StopPriceMode();

public slots:
    void InsertTask();
    void DelItem();
    void DelAll();
    void ProcessTableDoubleClick(int row, int col);
    void SaveFile();
    bool Pause();
    bool Play();
    void TimerOut();
    void ActionFinished(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Where the schedule is and what it has done: the task by identity, so
    // rows inserted, deleted or edited around it never move it.
    struct RunState
    {
        quint64 id = 0;          // the task the schedule is at
        int row = 0;             // its row when last seen, for when it is gone
        bool taskRunning = false;
        QDate startDay;          // the day the running task started on
        quint64 speakingId = 0;  // the task whose announcement is out
        QHash<quint64, int> done; // repetitions heard today, by task
    };

    void ShowTask(int row);
    void ShowAllTasks();
    void SetTaskEnabled(int row, bool enabled);
    // Runs the editor; true (and *task) when it was accepted.
    bool EditTask(TimerTask *task, bool fill);
    void MoveTo(int row);
    // The row of the task the schedule is at.
    int CurrentRow();
    void EndTask(int row);
    void StopPrice();
    bool TimeIsUp(const TimerTask &task) const;
    bool StartIsDue(const TimerTask &task) const;
    // A new day with the daily restart on: every task again from the top.
    void StartNewDayIfDue();
    void PlayTaskText(const TimerTask &task);
    void ConnectDoubleClick(bool on);

    std::unique_ptr<Ui::TimerMode> ui;
    TaskList m_tasks;
    RunState m_run;
    int m_requestIndex;
    bool m_readyForNext = true;
    bool m_playPrice = false;
    quint32 m_lastPlayTime = 0;
    QDate m_lastStartDay; // the latest day the tasks were started for
    int m_playState = 0; // 1 playing, 2 stopped, 0 never started
    QTimer *m_tickTimer;
    SaveTimer *m_saveTimer;
    std::unique_ptr<StoredFile> m_file;
};

#pragma once

#include <QDate>
#include <QHash>
#include <QObject>
#include <QSet>

class PricePlayer;
class QTimer;
class TaskListModel;
struct TimerTask;

// The timer's day: tasks worked through in order, once a second while it
// runs. A task starts at a clock time or some seconds after the last
// announcement, announces its text over and over (or holds the price
// loop) and ends at a clock time or after a number of repetitions. The
// schedule follows the task in hand by identity, so tasks inserted,
// deleted or edited around it never take its place.
class TimerSchedule : public QObject
{
    Q_OBJECT

public:
    enum State { Stopped = 0, Running = 1 };
    static constexpr int kLeadInMs = 900;

    TimerSchedule(TaskListModel *tasks, PricePlayer *price, int firstIndex, QObject *parent = nullptr);

    State GetState() const { return m_state; }
    // Announcements of the task at row heard today (counted for tasks that
    // end after a number of repetitions).
    int RepetitionsDone(int row) const;
    // The row of the task in hand (-1 when there are none).
    int CurrentRow() const;

signals:
    void OutAudio(int index, int type, QString content, bool needFinisheReport);
    // Cut the timer's queued and current speech.
    void CancelSpeech();
    // A task is being announced (true), or the timer is stopped or idle.
    void Active(bool playing);
    void StateChanged(int state);
    // A task started (its row), for the view to show it.
    void TaskStarted(int row);

public slots:
    // Starts the day from the top: every count cleared, so tasks ended
    // earlier and ticked again run from their first repetition.
    bool Play();
    bool Pause();
    // One second: a new day when one began, then one scheduling step.
    void TimerOut();
    // One step of the scheduler.
    void RunSchedule();
    void ActionFinished(int index);

private:
    struct RunState
    {
        quint64 id = 0;          // the task the schedule is at
        int row = 0;             // its row when last seen, for when it is gone
        bool taskRunning = false;
        bool runningPrice = false; // the kind the running task started as
        QDate startDay;          // the day the running task started on
        quint64 speakingId = 0;  // the task whose announcement is out
        QHash<quint64, int> done; // repetitions heard today, by task
    };

    int FollowRow();
    void MoveTo(int row);
    void EndTask(int row);
    // Lets the price loop go: after the row being read, or at once.
    void StopPrice(bool cutNow = false);
    bool TimeIsUp(const TimerTask &task) const;
    bool StartIsDue(const TimerTask &task) const;
    void StartNewDayIfDue();
    void PlayTaskText(const TimerTask &task);
    void TaskTicked(quint64 id, bool enabled);
    void TaskEdited(quint64 id, bool kindChanged);
    // Ends whatever the running task is doing now (its text cut, the price
    // loop let go), so it starts again as what it is now.
    void AbandonRunningTask();

    TaskListModel *m_tasks;
    PricePlayer *m_price;
    RunState m_run;
    QSet<quint64> m_endedBySchedule; // unticked by the schedule, not by staff
    int m_nextIndex;
    int m_speakingIndex = -1;
    bool m_readyForNext = true;
    bool m_playPrice = false;
    quint32 m_lastPlayTime = 0;
    QDate m_lastStartDay; // the latest day the tasks were started for
    State m_state = Stopped;
    QTimer *m_tick;
};

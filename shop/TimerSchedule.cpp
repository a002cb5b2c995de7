#include "shop/TimerSchedule.h"

#include "core/Clock.h"
#include "core/Log.h"
#include "shop/PricePlayer.h"
#include "shop/TaskListModel.h"

#include <QTimer>

namespace {

constexpr int kTickMs = 1000;
constexpr int kMusicIdleMs = 10000;

QTime Now()
{
    return Clock::Current().TimeOfDay();
}

quint32 Tick()
{
    return quint32(Clock::Current().TickMs());
}

} // namespace

TimerSchedule::TimerSchedule(TaskListModel *tasks, PricePlayer *price, int firstIndex, QObject *parent)
    : QObject(parent), m_tasks(tasks), m_price(price), m_nextIndex(firstIndex), m_tick(new QTimer(this))
{
    m_tick->setInterval(kTickMs);
    connect(m_tick, &QTimer::timeout, this, &TimerSchedule::TimerOut);
    connect(tasks, &TaskListModel::TaskTicked, this, &TimerSchedule::TaskTicked);
    connect(tasks, &TaskListModel::TaskEdited, this, &TimerSchedule::TaskEdited);
    // A list loaded or replaced whole: counts of tasks still there are kept
    // (they kept their ids); the schedule finds its task again or takes up
    // the one in its place.
    connect(tasks, &QAbstractItemModel::modelReset, this, [this] {
        if (m_tasks->List().RowOf(m_run.id) < 0 && m_run.taskRunning)
            AbandonRunningTask();
    });
}

int TimerSchedule::RepetitionsDone(int row) const
{
    const TaskList &tasks = m_tasks->List();
    return row >= 0 && row < tasks.Size() ? m_run.done.value(tasks.At(row).id) : 0;
}

int TimerSchedule::CurrentRow() const
{
    const TaskList &tasks = m_tasks->List();
    if (tasks.Size() == 0)
        return -1;
    const int found = tasks.RowOf(m_run.id);
    return found >= 0 ? found : qMin(m_run.row, tasks.Size() - 1);
}

bool TimerSchedule::Play()
{
    if (m_state == Running)
        return true;
    m_state = Running;
    emit StateChanged(m_state);
    m_run.done.clear();
    MoveTo(0);
    m_lastStartDay = qMax(m_lastStartDay, Clock::Current().Today());
    m_tick->start(kTickMs);
    return true;
}

bool TimerSchedule::Pause()
{
    emit CancelSpeech();
    m_tick->stop();
    emit Active(false);
    m_readyForNext = true;
    m_speakingIndex = -1;
    m_run.taskRunning = false;
    StopPrice();
    m_state = Stopped;
    emit StateChanged(m_state); // told even when it was stopped: staff pressed 停止
    return true;
}

void TimerSchedule::TimerOut()
{
    if (!m_readyForNext)
        return;
    const quint32 now = Tick();
    // A pause between a task's repetitions keeps the music; a longer quiet
    // with no task running lets it go.
    if (now - m_lastPlayTime > quint32(kMusicIdleMs) && !m_playPrice && !m_run.taskRunning)
        emit Active(false);
    StartNewDayIfDue();
    RunSchedule();
}

// Once per day, on the first tick of a later date than any started before
// (a clock set back starts nothing again): ended tasks are ticked again,
// counts reset, the price run stopped, and the schedule starts from the top.
void TimerSchedule::StartNewDayIfDue()
{
    const QDate today = Clock::Current().Today();
    if (!m_tasks->List().dailyRestart || !m_lastStartDay.isValid() || today <= m_lastStartDay)
        return;
    m_lastStartDay = today;
    PLOG(LOG_INFO, "a new day (%s): every task starts again", qPrintable(today.toString(Qt::ISODate)));
    for (int row = 0; row < m_tasks->List().Size(); ++row)
        m_tasks->SetEnabled(row, true);
    m_run.done.clear();
    m_endedBySchedule.clear();
    StopPrice();
    MoveTo(0);
}

void TimerSchedule::MoveTo(int row)
{
    const TaskList &tasks = m_tasks->List();
    m_run.row = row;
    m_run.id = row < tasks.Size() ? tasks.At(row).id : 0;
    m_run.taskRunning = false;
}

int TimerSchedule::FollowRow()
{
    const TaskList &tasks = m_tasks->List();
    const int found = tasks.RowOf(m_run.id);
    if (found >= 0) {
        m_run.row = found;
        return found;
    }
    // The task the schedule was at is gone: the one now in its place is
    // taken up from its start, and a price run of the gone task stops.
    if (m_run.taskRunning)
        StopPrice();
    MoveTo(m_run.row < tasks.Size() ? m_run.row : 0);
    return m_run.row;
}

void TimerSchedule::StopPrice(bool cutNow)
{
    if (!m_playPrice)
        return;
    m_playPrice = false;
    m_price->StopUnderTimer(cutNow);
    m_lastPlayTime = Tick();
}

void TimerSchedule::EndTask(int row)
{
    m_endedBySchedule.insert(m_tasks->List().At(row).id);
    m_tasks->SetEnabled(row, false);
    MoveTo(row + 1);
}

bool TimerSchedule::TimeIsUp(const TimerTask &task) const
{
    if (!task.endAtTime)
        return m_run.done.value(task.id) >= task.lastTaskExecTimes;
    // A task runs within its own day: one still running at midnight ends then.
    if (m_run.taskRunning && m_run.startDay.isValid() && Clock::Current().Today() > m_run.startDay)
        return true;
    return !task.endTime.isValid() || Now() > QTime(task.endTime.hour(), task.endTime.minute(), 59);
}

bool TimerSchedule::StartIsDue(const TimerTask &task) const
{
    if (!task.startAtTime)
        return Tick() - m_lastPlayTime >= quint32(task.timeAfterLastTask) * 1000u;
    return !task.startTime.isValid() || Now() >= task.startTime;
}

void TimerSchedule::RunSchedule()
{
    if (m_tasks->List().Size() == 0)
        return;
    const int row = FollowRow();
    const TimerTask &task = m_tasks->List().At(row);
    if (!task.enabled) {
        // Unticked by staff while it ran: what it was doing ends now.
        if (m_run.taskRunning)
            AbandonRunningTask();
        MoveTo(row + 1);
        return;
    }
    if (!task.RunsOn(Clock::Current().Today()) || TimeIsUp(task)) {
        if (m_run.runningPrice || task.playPrice)
            StopPrice();
        EndTask(row);
        return;
    }
    if (m_run.taskRunning) {
        if (!task.playPrice)
            PlayTaskText(task);
        return;
    }
    if (!StartIsDue(task))
        return;
    m_run.taskRunning = true;
    m_run.runningPrice = task.playPrice;
    m_run.startDay = Clock::Current().Today();
    emit TaskStarted(row);
    if (task.playPrice) {
        m_playPrice = true;
        m_price->StartUnderTimer();
        return;
    }
    StopPrice();
    PlayTaskText(task);
}

void TimerSchedule::PlayTaskText(const TimerTask &task)
{
    m_readyForNext = false;
    m_run.speakingId = task.id;
    emit Active(true);
    emit OutAudio(m_nextIndex++, 1, QString::number(kLeadInMs), false);
    m_speakingIndex = m_nextIndex++;
    emit OutAudio(m_speakingIndex, 0, task.text, true);
}

void TimerSchedule::ActionFinished(int index)
{
    if (index != m_speakingIndex)
        return; // the report of an announcement given up
    m_speakingIndex = -1;
    // Counted for the task that spoke, wherever its row is now; a task
    // that ends at a clock time needs no count.
    const int row = m_tasks->List().RowOf(m_run.speakingId);
    if (row >= 0 && !m_tasks->List().At(row).endAtTime)
        ++m_run.done[m_run.speakingId];
    m_lastPlayTime = Tick();
    m_readyForNext = true;
}

// A task ticked again is armed again: it runs from its first repetition.
void TimerSchedule::TaskTicked(quint64 id, bool enabled)
{
    if (!enabled)
        return;
    m_run.done.remove(id);
    m_endedBySchedule.remove(id);
}

// A task the schedule had ended is armed again by an edit (ticked, from
// its first repetition); one still running keeps its count. The task in
// hand edited into the other kind ends what it was doing at once and
// starts again as what it is now.
void TimerSchedule::TaskEdited(quint64 id, bool kindChanged)
{
    if (m_endedBySchedule.contains(id)) {
        const int row = m_tasks->List().RowOf(id);
        if (row >= 0)
            m_tasks->SetEnabled(row, true); // clears the count
    }
    if (id == m_run.id && m_run.taskRunning && kindChanged)
        AbandonRunningTask();
}

void TimerSchedule::AbandonRunningTask()
{
    if (m_run.runningPrice) {
        StopPrice(true);
    } else if (!m_readyForNext) {
        emit CancelSpeech();
        m_readyForNext = true;
        m_speakingIndex = -1;
        m_lastPlayTime = Tick();
    }
    m_run.speakingId = 0;
    m_run.taskRunning = false;
    m_run.runningPrice = false;
}

#include "modes/TimerMode.h"
#include "ui_TimerMode.h"

#include "core/AppPaths.h"
#include "core/Clock.h"
#include "modes/EditTaskDialog.h"
#include "core/Log.h"
#include "modes/ModeHelpers.h"
#include "core/PendingSaves.h"
#include "modes/SaveTimer.h"
#include "core/SettingsValues.h"
#include "core/StoredFile.h"
#include "core/XmlFile.h"

#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QTimer>

#include <tinyxml.h>


namespace {

const QString kListName = QStringLiteral("定时任务列表");
constexpr int kTickMs = 1000;
constexpr int kMusicIdleMs = 10000;

QTime Now()
{
    return Clock::Current().TimeOfDay();
}

quint32 Tick()
{
    return Clock::Current().TickMs();
}

} // namespace

QString TimerMode::WeekdayText(int mask)
{
    mask &= TimerTask::kEveryDay;
    if (mask == TimerTask::kEveryDay)
        return QString();
    const QString names = QStringLiteral("一二三四五六日");
    QString text;
    for (int day = 0; day < 7; ++day)
        if (mask & (1 << day))
            text += names.at(day);
    return text;
}

TimerMode::TimerMode(int firstRequestIndex, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TimerMode>()), m_requestIndex(firstRequestIndex),
      m_tickTimer(new QTimer(this)), m_saveTimer(new SaveTimer(this))
{
    ui->setupUi(this);
    QTableWidget *table = ui->tableWidget;
    table->setColumnCount(4);
    table->setHorizontalHeaderLabels(
        {QStringLiteral(" "), QStringLiteral("开始条件"), QStringLiteral("播放内容"), QStringLiteral("结束条件")});
    table->verticalHeader()->hide();
    table->horizontalHeader()->setMinimumSectionSize(16); // the check box column is 16 pixels
    ConnectDoubleClick(true);
    connect(ui->pushButton_play, &QPushButton::clicked, this, &TimerMode::Play);
    connect(ui->pushButton_pause, &QPushButton::clicked, this, &TimerMode::Pause);
    AddWindowShortcut(this, QKeySequence(QStringLiteral("Ctrl+S")), [this] { SaveFile(); });
    AddWindowShortcut(this, QKeySequence(Qt::Key_Delete), [this] { DelItem(); });
    AddContextMenu(table, this,
                   {{"插入定时任务", ":/image/addline.png", [this] { InsertTask(); }},
                    {"删除选中行", ":/image/del.png", [this] { DelItem(); }},
                    {"删除所有行", ":/image/delall.png", [this] { DelAll(); }}});
    m_tickTimer->setInterval(kTickMs);
    connect(m_tickTimer, &QTimer::timeout, this, &TimerMode::TimerOut);
    connect(m_saveTimer, &QTimer::timeout, this, &TimerMode::SaveFile);
    connect(ui->checkBox_dailyRestart, &QCheckBox::toggled, this, [this](bool on) {
        m_tasks.dailyRestart = on;
        m_saveTimer->Restart();
    });
    SetButtonColor(ui->pushButton_play, kColorPlain);
    SetButtonColor(ui->pushButton_pause, kColorPlain);
    table->setRowCount(0);

    AppPaths::EnsureDataDir();
    m_file = std::make_unique<StoredFile>(FilePath(), kListName);
    PendingSaves::Add(this, [this] {
        if (m_saveTimer->isActive())
            SaveFile();
    });
    LoadFile(FilePath());
}

// An edit made just before quitting is saved too (SaveFile honours a pending restore).
TimerMode::~TimerMode()
{
    PendingSaves::Remove(this);
    if (m_saveTimer->isActive())
        SaveFile();
}

QString TimerMode::FilePath()
{
    return QDir(AppPaths::DataDir()).absolutePath() + QStringLiteral("/timer.xml");
}

bool TimerMode::SaveFailed() const
{
    return m_file->SaveFailed();
}

int TimerMode::RepetitionsDone(int row) const
{
    return row >= 0 && row < m_tasks.Size() ? m_run.done.value(m_tasks.At(row).id) : 0;
}

void TimerMode::ConnectDoubleClick(bool on)
{
    if (on)
        connect(ui->tableWidget, &QTableWidget::cellDoubleClicked, this, &TimerMode::ProcessTableDoubleClick);
    else
        disconnect(ui->tableWidget, &QTableWidget::cellDoubleClicked, this, &TimerMode::ProcessTableDoubleClick);
}

// The table is a view of the task list: a row shows its task, and its
// check box writes back whether the task is ticked.
void TimerMode::ShowTask(int row)
{
    QTableWidget *table = ui->tableWidget;
    const TimerTask &task = m_tasks.At(row);
    auto *box = qobject_cast<QCheckBox *>(table->cellWidget(row, ColumnCheck));
    if (!box) {
        box = new QCheckBox(table); // owned by the table once set
        table->setCellWidget(row, ColumnCheck, box);
    }
    box->disconnect(this);
    const QSignalBlocker quiet(box);
    box->setChecked(task.enabled);
    connect(box, &QCheckBox::toggled, this, [this, id = task.id](bool on) {
        const int at = m_tasks.RowOf(id);
        if (at >= 0)
            m_tasks.SetEnabled(at, on);
    });
    for (int col = ColumnStart; col <= ColumnEnd; ++col)
        if (!table->item(row, col))
            table->setItem(row, col, new QTableWidgetItem);
    table->item(row, ColumnStart)
        ->setText(task.startAtTime ? task.startTime.toString(QStringLiteral("hh:mm"))
                                   : QStringLiteral("延时%1秒").arg(task.timeAfterLastTask));
    const QString days = WeekdayText(task.weekdays);
    const QString shown = task.playPrice ? QStringLiteral("播报价格") : task.title;
    table->item(row, ColumnContent)->setText(days.isEmpty() ? shown : shown + QStringLiteral("（") + days + QStringLiteral("）"));
    table->item(row, ColumnEnd)
        ->setText(task.endAtTime ? task.endTime.toString(QStringLiteral("hh:mm"))
                                 : QStringLiteral("重复%1次").arg(task.lastTaskExecTimes));
}

void TimerMode::ShowAllTasks()
{
    QTableWidget *table = ui->tableWidget;
    table->setRowCount(0);
    table->setRowCount(m_tasks.Size());
    for (int row = 0; row < m_tasks.Size(); ++row)
        ShowTask(row);
    if (m_tasks.Size() > 0)
        table->selectRow(m_tasks.Size() - 1);
    const QSignalBlocker quiet(ui->checkBox_dailyRestart);
    ui->checkBox_dailyRestart->setChecked(m_tasks.dailyRestart);
}

bool TimerMode::EditTask(TimerTask *task, bool fill)
{
    EditTaskDialog dialog(this);
    const QTableWidget *table = ui->tableWidget;
    if (table->rowCount() == 0 || table->currentRow() == 0)
        dialog.DisableAfterLastTask();
    if (fill) {
        if (task->startAtTime)
            dialog.SetStartTime(task->startTime);
        else
            dialog.SetTimeAfterLastTask(task->timeAfterLastTask);
        dialog.SetPlayPrice(task->playPrice);
        if (!task->playPrice) {
            dialog.SetTitle(task->title);
            dialog.SetText(task->text);
        }
        if (task->endAtTime)
            dialog.SetEndTime(task->endTime);
        else
            dialog.SetLastTaskExecTimes(task->lastTaskExecTimes);
        dialog.SetWeekdays(task->weekdays);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *task = TimerTask();
    task->startAtTime = dialog.GetStartCondition(&task->startTime, &task->timeAfterLastTask);
    QString title;
    task->playPrice = !dialog.GetTitle(&title);
    if (!task->playPrice) {
        task->title = title;
        task->text = LimitTextLength(dialog.GetText());
    }
    task->endAtTime = dialog.GetEndCondition(&task->endTime, &task->lastTaskExecTimes);
    task->timeAfterLastTask = qBound(0, task->timeAfterLastTask, TaskList::kMaxCount);
    task->lastTaskExecTimes = qBound(0, task->lastTaskExecTimes, TaskList::kMaxCount);
    task->weekdays = dialog.GetWeekdays();
    return true;
}

int TimerMode::AddTask(int row, const TimerTask &task)
{
    row = m_tasks.Insert(row, task);
    ui->tableWidget->insertRow(row);
    ShowTask(row);
    m_saveTimer->Restart();
    return row;
}

void TimerMode::InsertTask()
{
    TimerTask task;
    if (!EditTask(&task, false))
        return;
    const QTableWidget *table = ui->tableWidget;
    const int row = AddTask(table->rowCount() == 0 ? 0 : table->currentRow() + 1, task);
    ui->tableWidget->selectRow(row);
}

void TimerMode::ProcessTableDoubleClick(int row, int)
{
    if (row < 0 || row >= m_tasks.Size())
        return;
    ConnectDoubleClick(false);
    TimerTask task = m_tasks.At(row);
    const quint64 id = task.id;
    if (EditTask(&task, true)) {
        // The list may have changed while the editor was open.
        const int now = m_tasks.RowOf(id);
        if (now >= 0)
            ReplaceTask(now, task);
    }
    ConnectDoubleClick(true);
}

void TimerMode::ReplaceTask(int row, const TimerTask &task)
{
    m_tasks.Replace(row, task);
    ShowTask(row);
    m_saveTimer->Restart();
}

void TimerMode::RemoveTask(int row)
{
    m_tasks.Remove(row);
    ui->tableWidget->removeRow(row);
    m_saveTimer->Restart();
}

void TimerMode::DelItem()
{
    const int row = ui->tableWidget->currentRow();
    if (row >= 0 && row < m_tasks.Size())
        RemoveTask(row);
}

void TimerMode::DelAll()
{
    if (!ConfirmWarning(QStringLiteral("请确认是否要删除所有记录？")))
        return;
    m_tasks.Clear();
    ui->tableWidget->setRowCount(0);
    m_saveTimer->Restart();
}

bool TimerMode::Play()
{
    if (m_playState == 1) {
        PLOG(LOG_WARNING, "%s", "is playing now");
        return true;
    }
    m_playState = 1;
    SetButtonColor(ui->pushButton_play, kColorLit);
    SetButtonColor(ui->pushButton_pause, kColorPlain);
    MoveTo(0);
    m_lastStartDay = qMax(m_lastStartDay, Clock::Current().Today());
    m_tickTimer->start(kTickMs);
    return true;
}

bool TimerMode::Pause()
{
    qDebug("TimerMode::Pause");
    emit CancelSpeech();
    m_tickTimer->stop();
    SetButtonColor(ui->pushButton_pause, kColorLit);
    SetButtonColor(ui->pushButton_play, kColorPlain);
    emit Active(false);
    m_playState = 2;
    m_readyForNext = true;
    m_run.taskRunning = false;
    emit StopPriceMode();
    return true;
}

void TimerMode::TimerOut()
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
void TimerMode::StartNewDayIfDue()
{
    const QDate today = Clock::Current().Today();
    if (!m_tasks.dailyRestart || !m_lastStartDay.isValid() || today <= m_lastStartDay)
        return;
    m_lastStartDay = today;
    PLOG(LOG_INFO, "a new day (%s): every task starts again", qPrintable(today.toString(Qt::ISODate)));
    for (int row = 0; row < m_tasks.Size(); ++row)
        SetTaskEnabled(row, true);
    m_run.done.clear();
    StopPrice();
    MoveTo(0);
}

void TimerMode::SetTaskEnabled(int row, bool enabled)
{
    m_tasks.SetEnabled(row, enabled);
    if (auto *box = qobject_cast<QCheckBox *>(ui->tableWidget->cellWidget(row, ColumnCheck))) {
        const QSignalBlocker quiet(box);
        box->setChecked(enabled);
    }
}

void TimerMode::MoveTo(int row)
{
    m_run.row = row;
    m_run.id = row < m_tasks.Size() ? m_tasks.At(row).id : 0;
    m_run.taskRunning = false;
}

int TimerMode::CurrentRow()
{
    const int found = m_tasks.RowOf(m_run.id);
    if (found >= 0) {
        m_run.row = found;
        return found;
    }
    // The task the schedule was at is gone: the one now in its place is
    // taken up from its start, and a price run of the gone task stops.
    if (m_run.taskRunning)
        StopPrice();
    MoveTo(m_run.row < m_tasks.Size() ? m_run.row : 0);
    return m_run.row;
}

void TimerMode::StopPrice()
{
    if (!m_playPrice)
        return;
    m_playPrice = false;
    emit StopPriceMode();
    m_lastPlayTime = Tick();
}

void TimerMode::EndTask(int row)
{
    SetTaskEnabled(row, false);
    MoveTo(row + 1);
}

bool TimerMode::TimeIsUp(const TimerTask &task) const
{
    if (!task.endAtTime)
        return m_run.done.value(task.id) >= task.lastTaskExecTimes;
    // A task runs within its own day: one still running at midnight ends then.
    if (m_run.taskRunning && m_run.startDay.isValid() && Clock::Current().Today() > m_run.startDay)
        return true;
    return !task.endTime.isValid() || Now() > QTime(task.endTime.hour(), task.endTime.minute(), 59);
}

bool TimerMode::StartIsDue(const TimerTask &task) const
{
    if (!task.startAtTime)
        return Tick() - m_lastPlayTime >= quint32(task.timeAfterLastTask) * 1000u;
    return !task.startTime.isValid() || Now() >= task.startTime;
}

void TimerMode::RunSchedule()
{
    if (m_tasks.Size() == 0)
        return;
    const int row = CurrentRow();
    const TimerTask &task = m_tasks.At(row);
    if (!task.enabled) {
        MoveTo(row + 1);
        return;
    }
    const int today = 1 << (Clock::Current().Today().dayOfWeek() - 1);
    if (!(task.weekdays & today) || TimeIsUp(task)) {
        qDebug("task %d ends (or does not run today)", row);
        if (task.playPrice)
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
    ui->tableWidget->selectRow(row);
    m_run.taskRunning = true;
    m_run.startDay = Clock::Current().Today();
    if (task.playPrice) {
        qDebug("start task %d, a price task", row);
        m_playPrice = true;
        emit StartPriceMode();
        return;
    }
    StopPrice();
    qDebug("start task %d", row);
    PlayTaskText(task);
}

void TimerMode::PlayTaskText(const TimerTask &task)
{
    m_readyForNext = false;
    m_run.speakingId = task.id;
    emit Active(true);
    emit OutAudio(m_requestIndex, 1, QString::number(kLeadInMs), false);
    ++m_requestIndex;
    emit OutAudio(m_requestIndex, 0, task.text, true);
}

void TimerMode::ActionFinished(int index)
{
    // Counted for the task that spoke, wherever its row is now; a task
    // that ends at a clock time needs no count.
    const int row = m_tasks.RowOf(m_run.speakingId);
    if (row >= 0 && !m_tasks.At(row).endAtTime)
        ++m_run.done[m_run.speakingId];
    else if (row < 0)
        PLOG(LOG_WARNING, "report %x for a task that no longer exists", index);
    m_lastPlayTime = Tick();
    PLOG(LOG_DEBUG, "play finished, index = %x, repeat times = %d, now = %ld", index,
         m_run.done.value(m_run.speakingId), long(m_lastPlayTime));
    m_readyForNext = true;
}

void TimerMode::SaveFile()
{
    if (g_restorePending)
        return;
    TiXmlDocument doc;
    m_tasks.ToXml(&doc);
    SAVE_STORED_FILE(*m_file, doc);
}

void TimerMode::LoadFile(const QString &fileName)
{
    TiXmlDocument doc;
    switch (m_file->LoadFrom(fileName, &doc)) {
    case XmlFile::ReadResult::Unusable:
        PLOG(LOG_ERROR, "%s", "parse timer.xml file failed");
        m_tasks = TaskList();
        break;
    case XmlFile::ReadResult::Missing:
        PLOG(LOG_INFO, "no timer list yet (%s): starting with the example tasks", qPrintable(fileName));
        m_tasks = TaskList::Defaults();
        break;
    case XmlFile::ReadResult::Ok:
        m_tasks = TaskList::FromXml(*doc.FirstChildElement());
        break;
    }
    m_run = RunState();
    ShowAllTasks();
}

void TimerMode::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    QTableWidget *table = ui->tableWidget;
    table->setColumnWidth(ColumnCheck, 16);
    table->setColumnWidth(ColumnStart, 70);
    table->setColumnWidth(ColumnEnd, 70);
    table->setColumnWidth(ColumnContent, table->width() - 1 - 16 - 70 - 70 - 4);
}

void TimerMode::ReplaceTasks(TaskList tasks)
{
    // A task that is still there, with the same settings, stays who it was:
    // the schedule follows it on, its count kept.
    auto same = [](const TimerTask &a, const TimerTask &b) {
        return a.title == b.title && a.text == b.text && a.playPrice == b.playPrice && a.startAtTime == b.startAtTime
               && a.startTime == b.startTime && a.timeAfterLastTask == b.timeAfterLastTask && a.endAtTime == b.endAtTime
               && a.endTime == b.endTime && a.lastTaskExecTimes == b.lastTaskExecTimes && a.weekdays == b.weekdays;
    };
    tasks.RenumberFrom(m_tasks.NextId());
    QList<quint64> kept;
    for (int row = 0; row < tasks.Size(); ++row) {
        for (const TimerTask &old : m_tasks.Tasks()) {
            if (!kept.contains(old.id) && same(old, tasks.At(row))) {
                tasks.Adopt(row, old.id);
                kept << old.id;
                break;
            }
        }
    }
    m_tasks = tasks;
    ShowAllTasks();
    SaveFile();
}

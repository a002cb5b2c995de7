#include "modes/TimerMode.h"
#include "ui_TimerMode.h"

#include "modes/EditTaskDialog.h"
#include "modes/ModeHelpers.h"
#include "shop/Shop.h"
#include "shop/StoredList.h"
#include "shop/TaskListModel.h"
#include "shop/TimerSchedule.h"

#include <QHeaderView>

TimerMode::TimerMode(Shop *shop, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TimerMode>()), m_tasks(shop->Tasks()), m_schedule(shop->Timer())
{
    ui->setupUi(this);
    QTableView *table = ui->tableView;
    table->setModel(m_tasks);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setMinimumSectionSize(16); // the check box column is 16 pixels
    connect(table, &QTableView::doubleClicked, this, [this](const QModelIndex &index) { EditRow(index.row()); });
    connect(ui->pushButton_play, &QPushButton::clicked, m_schedule, &TimerSchedule::Play);
    connect(ui->pushButton_pause, &QPushButton::clicked, m_schedule, &TimerSchedule::Pause);
    connect(m_schedule, &TimerSchedule::StateChanged, this, &TimerMode::ShowState);
    connect(m_schedule, &TimerSchedule::TaskStarted, table, &QTableView::selectRow);
    AddWindowShortcut(this, QKeySequence(QStringLiteral("Ctrl+S")), [this] { SaveFile(); });
    AddWindowShortcut(this, QKeySequence(Qt::Key_Delete), [this] { DelItem(); });
    AddContextMenu(table, this,
                   {{"插入定时任务", ":/image/addline.png", [this] { InsertTask(); }},
                    {"删除选中行", ":/image/del.png", [this] { DelItem(); }},
                    {"删除所有行", ":/image/delall.png", [this] { DelAll(); }}});
    ui->checkBox_dailyRestart->setChecked(m_tasks->List().dailyRestart);
    connect(ui->checkBox_dailyRestart, &QCheckBox::clicked, m_tasks, &TaskListModel::SetDailyRestart);
    connect(m_tasks, &TaskListModel::DailyRestartChanged, ui->checkBox_dailyRestart, &QCheckBox::setChecked);
    if (m_tasks->List().Size() > 0)
        table->selectRow(m_tasks->List().Size() - 1);
    // Neither button is lit before the timer has been started or stopped.
    SetButtonColor(ui->pushButton_play, m_schedule->GetState() == TimerSchedule::Running ? kColorLit : kColorPlain);
    SetButtonColor(ui->pushButton_pause, kColorPlain);
}

TimerMode::~TimerMode() = default;

void TimerMode::ShowState(int state)
{
    SetButtonColor(ui->pushButton_play, state == TimerSchedule::Running ? kColorLit : kColorPlain);
    SetButtonColor(ui->pushButton_pause, state == TimerSchedule::Running ? kColorPlain : kColorLit);
}

int TimerMode::CurrentRow() const
{
    return ui->tableView->currentIndex().row();
}

bool TimerMode::EditTask(TimerTask *task, bool fill)
{
    EditTaskDialog dialog(this);
    if (m_tasks->List().Size() == 0 || CurrentRow() == 0)
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
        dialog.SetDates(task->from, task->until);
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
    task->from = dialog.GetFrom();
    task->until = dialog.GetUntil();
    return true;
}

void TimerMode::InsertTask()
{
    TimerTask task;
    if (!EditTask(&task, false))
        return;
    const int row = m_tasks->Insert(m_tasks->List().Size() == 0 ? 0 : CurrentRow() + 1, task);
    ui->tableView->selectRow(row);
}

void TimerMode::EditRow(int row)
{
    if (m_editing || row < 0 || row >= m_tasks->List().Size())
        return;
    m_editing = true;
    TimerTask task = m_tasks->List().At(row);
    const quint64 id = task.id;
    // The list may have changed while the editor was open.
    if (EditTask(&task, true))
        m_tasks->Replace(m_tasks->List().RowOf(id), task);
    m_editing = false;
}

void TimerMode::DelItem()
{
    m_tasks->Remove(CurrentRow());
}

void TimerMode::DelAll()
{
    if (ConfirmWarning(QStringLiteral("请确认是否要删除所有记录？")))
        m_tasks->Clear();
}

void TimerMode::SaveFile()
{
    m_tasks->Store().SaveNow();
}

void TimerMode::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    QTableView *table = ui->tableView;
    table->setColumnWidth(TaskListModel::ColumnCheck, 16);
    table->setColumnWidth(TaskListModel::ColumnStart, 70);
    table->setColumnWidth(TaskListModel::ColumnEnd, 70);
    table->setColumnWidth(TaskListModel::ColumnContent, table->width() - 1 - 16 - 70 - 70 - 4);
}

#include "shop/TaskListModel.h"

#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/Log.h"
#include "shop/ListIdentity.h"
#include "shop/StoredList.h"

#include <QDir>

#include <tinyxml.h>

namespace {

// Everything that makes a task what it is, but its tick.
QString SettingsKey(const TimerTask &t)
{
    const QChar separator(0x1f);
    QString key = t.title + separator + t.text + separator + t.from.toString(Qt::ISODate) + separator
                  + t.until.toString(Qt::ISODate) + separator;
    auto ms = [](const QTime &time) { return time.isValid() ? time.msecsSinceStartOfDay() : -1; };
    for (const int number : {int(t.playPrice), int(t.startAtTime), ms(t.startTime), t.timeAfterLastTask,
                             int(t.endAtTime), ms(t.endTime),
                             t.lastTaskExecTimes, t.weekdays})
        key += QString::number(number) + separator;
    return key;
}

} // namespace

TaskListModel::TaskListModel(QObject *parent)
    : QAbstractTableModel(parent),
      m_store(new StoredList(FilePath(), QStringLiteral("定时任务列表"), [this](TiXmlDocument *doc) { m_tasks.ToXml(doc); },
                             this))
{
}

TaskListModel::~TaskListModel() = default;

QString TaskListModel::FilePath()
{
    return QDir(AppPaths::DataDir()).absolutePath() + QStringLiteral("/timer.xml");
}

QString TaskListModel::WeekdayText(int mask)
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

QString TaskListModel::ContentText(const TimerTask &task)
{
    return TaskList::TitleWithDays(task, WeekdayText(task.weekdays), Clock::Current().Today());
}

void TaskListModel::Load(const QString &path)
{
    TiXmlDocument doc;
    TaskList tasks;
    switch (m_store->Load(&doc, path)) {
    case XmlFile::ReadResult::Unusable:
        break;
    case XmlFile::ReadResult::Missing:
        PLOG(LOG_INFO, "%s", "no timer list yet: the default tasks are used");
        tasks = TaskList::Defaults();
        break;
    case XmlFile::ReadResult::Ok:
        tasks = TaskList::FromXml(*doc.FirstChildElement());
        break;
    }
    tasks.RenumberFrom(m_tasks.NextId());
    beginResetModel();
    m_tasks = tasks;
    endResetModel();
    emit DailyRestartChanged(m_tasks.dailyRestart);
}

int TaskListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_tasks.Size();
}

int TaskListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant TaskListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_tasks.Size())
        return {};
    const TimerTask &task = m_tasks.At(index.row());
    if (role == IdRole)
        return task.id;
    if (role == Qt::CheckStateRole)
        return index.column() == ColumnCheck ? QVariant(task.enabled ? Qt::Checked : Qt::Unchecked) : QVariant();
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ColumnStart:
        return task.startAtTime ? ClockText(task.startTime)
                                : QStringLiteral("延时%1秒").arg(task.timeAfterLastTask);
    case ColumnContent:
        return ContentText(task);
    case ColumnEnd:
        return task.endAtTime ? ClockText(task.endTime)
                              : QStringLiteral("重复%1次").arg(task.lastTaskExecTimes);
    default:
        return {};
    }
}

bool TaskListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= m_tasks.Size() || role != Qt::CheckStateRole
        || index.column() != ColumnCheck)
        return false;
    SetEnabled(index.row(), Qt::CheckState(value.toInt()) == Qt::Checked);
    return true;
}

Qt::ItemFlags TaskListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return index.column() == ColumnCheck ? flags | Qt::ItemIsUserCheckable : flags;
}

QVariant TaskListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const kHeaders[kColumns] = {" ", "开始条件", "播放内容", "结束条件"};
    return section >= 0 && section < kColumns ? QString::fromUtf8(kHeaders[section]) : QVariant();
}

int TaskListModel::Insert(int row, const TimerTask &task)
{
    row = qBound(0, row, m_tasks.Size());
    beginInsertRows({}, row, row);
    m_tasks.Insert(row, task);
    endInsertRows();
    m_store->Changed();
    return row;
}

void TaskListModel::Replace(int row, const TimerTask &task)
{
    if (row < 0 || row >= m_tasks.Size())
        return;
    const bool kindChanged = m_tasks.At(row).playPrice != task.playPrice;
    m_tasks.Replace(row, task);
    emit dataChanged(index(row, 0), index(row, kColumns - 1));
    m_store->Changed();
    emit TaskEdited(m_tasks.At(row).id, kindChanged);
}

void TaskListModel::SetEnabled(int row, bool enabled)
{
    if (row < 0 || row >= m_tasks.Size() || m_tasks.At(row).enabled == enabled)
        return;
    m_tasks.SetEnabled(row, enabled);
    emit dataChanged(index(row, ColumnCheck), index(row, ColumnCheck));
    emit TaskTicked(m_tasks.At(row).id, enabled);
}

void TaskListModel::Remove(int row)
{
    if (row < 0 || row >= m_tasks.Size())
        return;
    beginRemoveRows({}, row, row);
    m_tasks.Remove(row);
    endRemoveRows();
    m_store->Changed();
}

void TaskListModel::Clear()
{
    if (m_tasks.Size() == 0)
        return;
    beginRemoveRows({}, 0, m_tasks.Size() - 1);
    m_tasks.Clear();
    endRemoveRows();
    m_store->Changed();
}

void TaskListModel::SetDailyRestart(bool on)
{
    if (m_tasks.dailyRestart == on)
        return;
    m_tasks.dailyRestart = on;
    emit DailyRestartChanged(on);
    m_store->Changed();
}

void TaskListModel::Replace(TaskList tasks)
{
    tasks.RenumberFrom(m_tasks.NextId());
    ListIdentity::Carry(m_tasks.Tasks(), &tasks, SettingsKey);
    beginResetModel();
    m_tasks = tasks;
    endResetModel();
    emit DailyRestartChanged(m_tasks.dailyRestart);
    m_store->SaveNow();
}

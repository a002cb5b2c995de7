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
const QString kPriceReport = QStringLiteral("PriceReport");
constexpr int kTickMs = 1000;
constexpr int kMusicIdleMs = 10000;
// Counts and delays are kept where the table's number encoding holds them.
constexpr int kMaxCount = 99999;

struct DefaultTask
{
    const char *start; // "hh:mm" or seconds + "s"
    const char *title;
    const char *text;
    const char *end;
};

const DefaultTask kDefaultTasks[] = {
    {"07:55", "开始营业通知",
     "各位同事早上好，还有五分钟，我们的超市就要开始营业了，请大家整理好自己的仪容仪表，各就各位，让我们 以饱满的精神，"
     "温馨的服务，去迎接每一位顾客的到来。祝大家在新的一天里，工作愉快，谢谢！",
     "2s"},
    {"5s", "PriceReport", "", "12:00"},
    {"22:00", "下班通知",
     "各位亲爱的顾客您好,欢迎光临Marlowick超市，现在是晚上十点，离我们的下班时间还有十分钟，请您抓紧时间购物，"
     "我们依然为您提供满意的服务，祝您购物愉快，谢谢",
     "2s"},
};

QTime Now()
{
    return Clock::Current().TimeOfDay();
}

quint32 Tick()
{
    return Clock::Current().TickMs();
}

// A stored start or end: seconds (or repetitions) + "s", else "hh:mm".
// Sets *atTime and either *time or *count.
void ReadCondition(const QString &value, bool *atTime, QTime *time, int *count)
{
    const int s = value.indexOf(QLatin1Char('s'));
    *atTime = s < 0;
    if (*atTime) {
        *time = QTime::fromString(value, QStringLiteral("hh:mm"));
        if (!time->isValid())
            PLOG(LOG_WARNING, "time \"%s\" is no hh:mm time", qPrintable(value));
    } else {
        *count = value.left(s).toInt();
    }
}

int ClampCount(int value, const char *what)
{
    const int clamped = qBound(0, value, kMaxCount);
    if (clamped != value)
        PLOG(LOG_WARNING, "%s %d out of range, taken as %d", what, value, clamped);
    return clamped;
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
    connect(ui->checkBox_dailyRestart, &QCheckBox::clicked, m_saveTimer, &SaveTimer::Restart);
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

void TimerMode::ConnectDoubleClick(bool on)
{
    if (on)
        connect(ui->tableWidget, &QTableWidget::cellDoubleClicked, this, &TimerMode::ProcessTableDoubleClick);
    else
        disconnect(ui->tableWidget, &QTableWidget::cellDoubleClicked, this, &TimerMode::ProcessTableDoubleClick);
}

bool TimerMode::RowEnabled(int row) const
{
    const auto *box = qobject_cast<QCheckBox *>(ui->tableWidget->cellWidget(row, ColumnCheck));
    return box && box->isChecked();
}

void TimerMode::SetRowEnabled(int row, bool enabled)
{
    if (auto *box = qobject_cast<QCheckBox *>(ui->tableWidget->cellWidget(row, ColumnCheck)))
        box->setChecked(enabled);
}

int TimerMode::ItemInt(int row, int col) const
{
    const QTableWidgetItem *item = ui->tableWidget->item(row, col);
    return item ? item->data(Qt::UserRole).toInt() : 0;
}

void TimerMode::SetTaskRow(int row, const TimerTask &task)
{
    QTableWidget *table = ui->tableWidget;
    if (!table->cellWidget(row, ColumnCheck)) {
        auto *box = new QCheckBox(table); // owned by the table once set
        box->setChecked(true);
        table->setCellWidget(row, ColumnCheck, box);
    }
    for (int col = ColumnStart; col <= ColumnEnd; ++col)
        if (!table->item(row, col))
            table->setItem(row, col, new QTableWidgetItem);

    QTableWidgetItem *start = table->item(row, ColumnStart);
    const int delay = task.startAtTime ? 0 : ClampCount(task.timeAfterLastTask, "delay");
    start->setText(task.startAtTime ? task.startTime.toString(QStringLiteral("hh:mm"))
                                    : QStringLiteral("延时%1秒").arg(delay));
    start->setData(Qt::UserRole, delay);

    QTableWidgetItem *content = table->item(row, ColumnContent);
    const QString days = WeekdayText(task.weekdays);
    const QString shown = task.playPrice ? QStringLiteral("播报价格") : task.title;
    content->setText(days.isEmpty() ? shown : shown + QStringLiteral("（") + days + QStringLiteral("）"));
    content->setData(Qt::UserRole, task.playPrice ? kPriceReport : LimitTextLength(task.text));
    content->setData(kTitleRole, task.playPrice ? QString() : task.title);
    content->setData(kWeekdaysRole, task.weekdays & TimerTask::kEveryDay);

    QTableWidgetItem *end = table->item(row, ColumnEnd);
    const int total = task.endAtTime ? 0 : ClampCount(task.lastTaskExecTimes, "repetition count");
    end->setText(task.endAtTime ? task.endTime.toString(QStringLiteral("hh:mm")) : QStringLiteral("重复%1次").arg(total));
    end->setData(Qt::UserRole, total * kCountFactor);
}

TimerTask TimerMode::TaskOfRow(int row) const
{
    const QTableWidget *table = ui->tableWidget;
    TimerTask task;
    const int delay = ItemInt(row, ColumnStart);
    task.startAtTime = delay == 0;
    if (task.startAtTime)
        task.startTime = QTime::fromString(table->item(row, ColumnStart)->text(), QStringLiteral("hh:mm"));
    else
        task.timeAfterLastTask = delay;
    const QString content = table->item(row, ColumnContent)->data(Qt::UserRole).toString();
    task.playPrice = content == kPriceReport;
    if (!task.playPrice) {
        task.title = table->item(row, ColumnContent)->data(kTitleRole).toString();
        task.text = content;
    }
    task.weekdays = table->item(row, ColumnContent)->data(kWeekdaysRole).toInt();
    const int total = ItemInt(row, ColumnEnd) / kCountFactor;
    task.endAtTime = total == 0;
    if (task.endAtTime)
        task.endTime = QTime::fromString(table->item(row, ColumnEnd)->text(), QStringLiteral("hh:mm"));
    else
        task.lastTaskExecTimes = total;
    return task;
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
        task->text = dialog.GetText();
    }
    task->endAtTime = dialog.GetEndCondition(&task->endTime, &task->lastTaskExecTimes);
    task->weekdays = dialog.GetWeekdays();
    return true;
}

void TimerMode::InsertTask()
{
    TimerTask task;
    if (!EditTask(&task, false))
        return;
    qDebug("read from dialog, title = %s", qPrintable(task.title));
    QTableWidget *table = ui->tableWidget;
    const int row = table->rowCount() == 0 ? 0 : table->currentRow() + 1;
    table->insertRow(row);
    table->selectRow(row);
    SetTaskRow(row, task);
    m_saveTimer->Restart();
}

void TimerMode::ProcessTableDoubleClick(int row, int)
{
    if (row < 0 || row >= ui->tableWidget->rowCount() || !ui->tableWidget->item(row, ColumnEnd))
        return;
    ConnectDoubleClick(false);
    TimerTask task = TaskOfRow(row);
    if (EditTask(&task, true)) {
        SetTaskRow(row, task);
        m_saveTimer->Restart();
    }
    ConnectDoubleClick(true);
}

void TimerMode::DelItem()
{
    const int row = ui->tableWidget->currentRow();
    if (row >= 0)
        ui->tableWidget->removeRow(row);
    m_saveTimer->Restart();
}

void TimerMode::DelAll()
{
    if (!ConfirmWarning(QStringLiteral("请确认是否要删除所有记录？")))
        return;
    for (int row = ui->tableWidget->rowCount() - 1; row >= 0; --row)
        ui->tableWidget->removeRow(row);
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
    m_taskIndex = 0;
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
    m_currentTaskRunning = false;
    qDebug("TimerMode::Pause send StopPriceMode signal");
    emit StopPriceMode();
    return true;
}

void TimerMode::TimerOut()
{
    if (!m_readyForNext)
        return;
    const quint32 now = Tick();
    qDebug("playPrice = %d, running = %d, last time = %u, now = %u", int(m_playPrice), int(m_currentTaskRunning),
           m_lastPlayTime, now);
    // A pause between a task's repetitions keeps the music; a longer quiet
    // with no task running lets it go.
    if (now - m_lastPlayTime > quint32(kMusicIdleMs) && !m_playPrice && !m_currentTaskRunning)
        emit Active(false);
    StartNewDayIfDue();
    RunSchedule();
}

// Once per day, on the first tick of a later date than any started before
// (a clock set back starts nothing again): ended tasks are ticked again,
// counts reset, the price run stopped, and the schedule starts from row 0.
void TimerMode::StartNewDayIfDue()
{
    const QDate today = Clock::Current().Today();
    if (!ui->checkBox_dailyRestart->isChecked() || !m_lastStartDay.isValid() || today <= m_lastStartDay)
        return;
    m_lastStartDay = today;
    PLOG(LOG_INFO, "a new day (%s): every task starts again", qPrintable(today.toString(Qt::ISODate)));
    QTableWidget *table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        SetRowEnabled(row, true);
        if (QTableWidgetItem *end = table->item(row, ColumnEnd))
            end->setData(Qt::UserRole, end->data(Qt::UserRole).toInt() / kCountFactor * kCountFactor);
    }
    if (m_playPrice) {
        m_playPrice = false;
        emit StopPriceMode();
        m_lastPlayTime = Tick();
    }
    m_taskIndex = 0;
    m_currentTaskRunning = false;
}

void TimerMode::EndTask(int row)
{
    ++m_taskIndex;
    m_currentTaskRunning = false;
    SetRowEnabled(row, false);
}

void TimerMode::RunSchedule()
{
    QTableWidget *table = ui->tableWidget;
    const quint32 now = Tick();
    if (table->rowCount() == 0) {
        qDebug("row count is 0");
        return;
    }
    if (m_taskIndex >= table->rowCount())
        m_taskIndex = 0;
    const int row = m_taskIndex;
    if (!RowEnabled(row)) {
        ++m_taskIndex;
        return;
    }
    const QTableWidgetItem *startItem = table->item(row, ColumnStart);
    const QTableWidgetItem *contentItem = table->item(row, ColumnContent);
    QTableWidgetItem *endItem = table->item(row, ColumnEnd);
    if (!startItem || !contentItem || !endItem) { // an inserted row never filled
        ++m_taskIndex;
        return;
    }
    const QString content = contentItem->data(Qt::UserRole).toString();
    const int value = endItem->data(Qt::UserRole).toInt();
    const int total = value / kCountFactor;
    const int today = 1 << (Clock::Current().Today().dayOfWeek() - 1);
    if (!(contentItem->data(kWeekdaysRole).toInt() & today)) {
        qDebug("task %d does not run today, next task is %d, now = %u", row, row + 1, now);
        if (content == kPriceReport && m_playPrice) {
            m_playPrice = false;
            emit StopPriceMode();
            m_lastPlayTime = now;
        }
        EndTask(row);
        return;
    }

    if (total != 0) {
        const int done = value - total * kCountFactor;
        if (done >= total) {
            qDebug("task %d times end, repeat = %d, total = %d, next task is %d, now = %u", row, done, total, row + 1,
                   now);
            endItem->setData(Qt::UserRole, total * kCountFactor);
            EndTask(row);
            return;
        }
        qDebug("task %d repeat %d times, total is %d times, now = %u", row, done, total, now);
    } else {
        const QTime end = QTime::fromString(endItem->text() + QStringLiteral(":59"), QStringLiteral("hh:mm:ss"));
        if (Now() > end) {
            if (content == kPriceReport && m_playPrice) {
                qDebug("task %d time end, this is price mode, so send stop signal, now = %u", row, now);
                m_playPrice = false;
                emit StopPriceMode();
                m_lastPlayTime = now;
            }
            qDebug("task %d time end, next task is %d, now = %u", row, row + 1, now);
            EndTask(row);
            return;
        }
    }

    if (m_currentTaskRunning) {
        if (content != kPriceReport)
            PlayTaskText(content);
        return;
    }

    const int delay = startItem->data(Qt::UserRole).toInt();
    if (delay != 0) {
        qDebug("index = %d, now = %u, last time = %u, need dealy = %d", row, now, m_lastPlayTime, delay);
        if (now - m_lastPlayTime < quint32(delay) * 1000u)
            return;
    } else {
        const QTime start = QTime::fromString(startItem->text(), QStringLiteral("hh:mm"));
        if (Now() < start) {
            qDebug("index = %d, current: %s < start time: %s, time is not up", row,
                   qPrintable(Now().toString(QStringLiteral("hh:mm:ss"))), qPrintable(startItem->text()));
            return;
        }
    }

    table->selectRow(row);
    if (content == kPriceReport) {
        qDebug("start task %d, this is a price mode task, now = %u", row, now);
        m_playPrice = true;
        emit StartPriceMode();
    } else {
        if (m_playPrice) {
            qDebug("stop price mode, now = %u", now);
            m_playPrice = false;
            emit StopPriceMode();
            m_lastPlayTime = now;
        }
        qDebug("start task %d, now = %u", row, now);
        PlayTaskText(content);
    }
    m_currentTaskRunning = true;
}

void TimerMode::PlayTaskText(const QString &text)
{
    m_readyForNext = false;
    emit Active(true);
    emit OutAudio(m_requestIndex, 1, QString::number(kLeadInMs), false);
    ++m_requestIndex;
    emit OutAudio(m_requestIndex, 0, text, true);
}

void TimerMode::ActionFinished(int index)
{
    QTableWidgetItem *end = m_taskIndex < ui->tableWidget->rowCount() ? ui->tableWidget->item(m_taskIndex, ColumnEnd)
                                                                       : nullptr;
    int repeats = 0;
    if (end) {
        const int value = end->data(Qt::UserRole).toInt() + 1;
        end->setData(Qt::UserRole, value);
        repeats = value % kCountFactor;
    } else {
        // The task's row was deleted while it spoke: nothing to count on.
        PLOG(LOG_WARNING, "report %x for task row %d, which no longer exists", index, m_taskIndex);
    }
    m_lastPlayTime = Tick();
    PLOG(LOG_DEBUG, "play finished, index = %x, repeat times = %d, now = %ld", index, repeats, long(m_lastPlayTime));
    m_readyForNext = true;
}

void TimerMode::SaveFile()
{
    if (g_restorePending)
        return;
    TiXmlDocument doc;
    auto *root = new TiXmlElement("TimerRecords"); // owned by the document once linked
    doc.LinkEndChild(root);
    if (ui->checkBox_dailyRestart->isChecked()) // absent: off, as in files without the option
        root->SetAttribute("dailyRestart", "true");
    const QTableWidget *table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *start = table->item(row, ColumnStart);
        const QTableWidgetItem *content = table->item(row, ColumnContent);
        const QTableWidgetItem *end = table->item(row, ColumnEnd);
        if (!start || !content || !end)
            continue;
        auto *record = new TiXmlElement("record");
        const QString text = content->data(Qt::UserRole).toString();
        const bool price = text == kPriceReport;
        record->SetAttribute("title",
                             (price ? kPriceReport : content->data(kTitleRole).toString()).toLocal8Bit().constData());
        if (!price)
            record->LinkEndChild(new TiXmlText(text.toLocal8Bit().constData()));
        const int delay = start->data(Qt::UserRole).toInt();
        record->SetAttribute("start", (delay ? QString::number(delay) + QLatin1Char('s') : start->text())
                                          .toLocal8Bit()
                                          .constData());
        const int total = end->data(Qt::UserRole).toInt() / kCountFactor;
        record->SetAttribute("end", (total ? QString::number(total) + QLatin1Char('s') : end->text())
                                        .toLocal8Bit()
                                        .constData());
        const int days = content->data(kWeekdaysRole).toInt();
        if (days != TimerTask::kEveryDay) { // absent: every day
            QString digits;
            for (int day = 0; day < 7; ++day)
                if (days & (1 << day))
                    digits += QString::number(day + 1);
            record->SetAttribute("days", digits.toLatin1().constData());
        }
        root->LinkEndChild(record);
    }
    qDebug("save file %s", XmlFile::Print(doc).constData());
    SAVE_STORED_FILE(*m_file, doc);
}

void TimerMode::LoadFile(const QString &fileName)
{
    QTableWidget *table = ui->tableWidget;
    table->setRowCount(0);
    TiXmlDocument doc;
    const XmlFile::ReadResult result = m_file->LoadFrom(fileName, &doc);
    if (result == XmlFile::ReadResult::Unusable) {
        PLOG(LOG_ERROR, "%s", "parse timer.xml file failed");
        return;
    }
    if (result == XmlFile::ReadResult::Missing)
        PLOG(LOG_ERROR, "open file failed, filename is %s", qPrintable(fileName));

    // The defaults are built as if read from a file.
    TiXmlElement defaults("TimerRecords");
    for (const DefaultTask &task : kDefaultTasks) {
        TiXmlElement record("record");
        record.SetAttribute("title", QString::fromUtf8(task.title).toLocal8Bit().constData());
        record.SetAttribute("start", task.start);
        record.SetAttribute("end", task.end);
        if (*task.text)
            record.InsertEndChild(TiXmlText(QString::fromUtf8(task.text).toLocal8Bit().constData()));
        defaults.InsertEndChild(record);
    }
    const TiXmlElement *root = result == XmlFile::ReadResult::Ok ? doc.FirstChildElement() : &defaults;
    const char *daily = root->Attribute("dailyRestart");
    ui->checkBox_dailyRestart->setChecked(daily && QByteArray(daily).compare("true", Qt::CaseInsensitive) == 0);
    int row = 0;
    for (const TiXmlElement *e = root->FirstChildElement(); e; e = e->NextSiblingElement(), ++row) {
        auto attribute = [e](const char *name) {
            const char *value = e->Attribute(name);
            return value ? QString::fromLocal8Bit(value) : QString();
        };
        const QString start = attribute("start"), end = attribute("end"), title = attribute("title");
        qDebug("start = %s, end = %s, title = %s", qPrintable(start), qPrintable(end), qPrintable(title));
        TimerTask task;
        ReadCondition(start, &task.startAtTime, &task.startTime, &task.timeAfterLastTask);
        ReadCondition(end, &task.endAtTime, &task.endTime, &task.lastTaskExecTimes);
        task.playPrice = title == kPriceReport;
        if (!task.playPrice) {
            task.title = title;
            task.text = XmlFile::ElementText(e);
        }
        if (const char *days = e->Attribute("days")) {
            task.weekdays = 0;
            for (const char *c = days; *c; ++c)
                if (*c >= '1' && *c <= '7')
                    task.weekdays |= 1 << (*c - '1');
            if (task.weekdays == 0) {
                PLOG(LOG_WARNING, "days \"%s\" of task %s names no weekday: every day", days, qPrintable(title));
                task.weekdays = TimerTask::kEveryDay;
            }
        }
        qDebug("load file, tile is %s", qPrintable(title));
        table->insertRow(row);
        table->selectRow(row);
        SetTaskRow(row, task);
    }
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

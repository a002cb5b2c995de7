#include "shop/TaskList.h"

#include "core/Log.h"
#include "core/XmlFile.h"
#include "shop/TextRules.h"

#include <QStringList>

#include <tinyxml.h>

namespace {

const char kPriceReport[] = "PriceReport";

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
    {"5s", kPriceReport, "", "12:00"},
    {"22:00", "下班通知",
     "各位亲爱的顾客您好,欢迎光临Marlowick超市，现在是晚上十点，离我们的下班时间还有十分钟，请您抓紧时间购物，"
     "我们依然为您提供满意的服务，祝您购物愉快，谢谢",
     "2s"},
};

int ClampCount(int value, const char *what)
{
    const int clamped = qBound(0, value, TaskList::kMaxCount);
    if (clamped != value)
        PLOG(LOG_WARNING, "%s %d out of range, taken as %d", what, value, clamped);
    return clamped;
}

// A stored start or end: seconds (or repetitions) + "s", else "hh:mm".
// Sets *atTime and either *time or *count.
void ReadCondition(const QString &value, bool *atTime, QTime *time, int *count, const char *what)
{
    const int s = value.indexOf(QLatin1Char('s'));
    *atTime = s < 0;
    if (*atTime) {
        *time = ClockFromText(value);
        if (!time->isValid())
            PLOG(LOG_WARNING, "time \"%s\" is no hh:mm time", qPrintable(value));
    } else {
        *count = ClampCount(value.left(s).toInt(), what);
    }
}

QByteArray Condition(bool atTime, const QTime &time, int count)
{
    return atTime ? ClockText(time).toLocal8Bit() : QByteArray::number(count) + 's';
}

// A campaign date "yyyy-MM-dd"; one that cannot be read is left open and logged.
void ReadDate(const TiXmlElement &e, const char *name, QDate *date, const QString &title)
{
    const char *value = e.Attribute(name);
    if (!value)
        return;
    *date = QDate::fromString(QString::fromLatin1(value), Qt::ISODate);
    if (!date->isValid())
        PLOG(LOG_WARNING, "%s \"%s\" of task %s is no date: left open", name, value, qPrintable(title));
}

TimerTask ReadTask(const TiXmlElement &e)
{
    auto attribute = [&e](const char *name) {
        const char *value = e.Attribute(name);
        return value ? QString::fromLocal8Bit(value) : QString();
    };
    const QString title = attribute("title");
    TimerTask task;
    ReadCondition(attribute("start"), &task.startAtTime, &task.startTime, &task.timeAfterLastTask, "delay");
    ReadCondition(attribute("end"), &task.endAtTime, &task.endTime, &task.lastTaskExecTimes, "repetition count");
    task.playPrice = title == QLatin1String(kPriceReport);
    if (!task.playPrice) {
        task.title = title;
        task.text = LimitTextLength(XmlFile::ElementText(&e));
    }
    if (const char *days = e.Attribute("days")) {
        task.weekdays = 0;
        for (const char *c = days; *c; ++c)
            if (*c >= '1' && *c <= '7')
                task.weekdays |= 1 << (*c - '1');
        if (task.weekdays == 0) {
            PLOG(LOG_WARNING, "days \"%s\" of task %s names no weekday: every day", days, qPrintable(title));
            task.weekdays = TimerTask::kEveryDay;
        }
    }
    ReadDate(e, "from", &task.from, title);
    ReadDate(e, "until", &task.until, title);
    return task;
}

void WriteDate(TiXmlElement *record, const char *name, const QDate &date)
{
    if (date.isValid()) // absent: open on that side, as in files without dates
        record->SetAttribute(name, date.toString(Qt::ISODate).toLatin1().constData());
}

} // namespace

QString ClockText(const QTime &time)
{
    if (!time.isValid())
        return QString();
    const int h = time.hour(), m = time.minute();
    const QChar text[] = {QChar('0' + h / 10), QChar('0' + h % 10), QLatin1Char(':'), QChar('0' + m / 10),
                          QChar('0' + m % 10)};
    return QString(text, 5);
}

QTime ClockFromText(const QString &text)
{
    auto digit = [&text](int i) { return text.at(i).unicode() - '0'; };
    auto isDigit = [&text](int i) { return text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); };
    if (text.size() == 5 && text.at(2) == QLatin1Char(':') && isDigit(0) && isDigit(1) && isDigit(3) && isDigit(4)) {
        const int h = digit(0) * 10 + digit(1), m = digit(3) * 10 + digit(4);
        if (h < 24 && m < 60)
            return QTime(h, m);
    }
    return QTime::fromString(text, QStringLiteral("hh:mm"));
}

int TaskList::RowOf(quint64 id) const
{
    for (int row = 0; row < m_tasks.size(); ++row)
        if (m_tasks[row].id == id)
            return row;
    return -1;
}

int TaskList::Insert(int row, TimerTask task)
{
    row = qBound(0, row, Size());
    task.id = m_nextId++;
    task.weekdays &= TimerTask::kEveryDay;
    m_tasks.insert(row, task);
    return row;
}

void TaskList::Replace(int row, TimerTask task)
{
    task.id = m_tasks[row].id;
    task.enabled = m_tasks[row].enabled;
    task.weekdays &= TimerTask::kEveryDay;
    m_tasks[row] = task;
}

void TaskList::SetEnabled(int row, bool enabled)
{
    m_tasks[row].enabled = enabled;
}

void TaskList::Adopt(int row, quint64 id)
{
    m_tasks[row].id = id;
    m_nextId = qMax(m_nextId, id + 1);
}

void TaskList::RenumberFrom(quint64 first)
{
    m_nextId = first;
    for (TimerTask &task : m_tasks)
        task.id = m_nextId++;
}

void TaskList::Remove(int row)
{
    m_tasks.removeAt(row);
}

void TaskList::Clear()
{
    m_tasks.clear();
}

QString TaskList::DatesText(const TimerTask &task, const QDate &today)
{
    auto shown = [&today](const QDate &date) {
        return date.toString(date.year() == today.year() ? QStringLiteral("MM-dd") : QStringLiteral("yyyy-MM-dd"));
    };
    if (task.from.isValid() && task.until.isValid())
        return shown(task.from) + QStringLiteral("至") + shown(task.until);
    if (task.from.isValid())
        return shown(task.from) + QStringLiteral("起");
    if (task.until.isValid())
        return QStringLiteral("至") + shown(task.until);
    return QString();
}

QString TaskList::TitleWithDays(const TimerTask &task, const QString &weekdays, const QDate &today)
{
    const QString title = task.playPrice ? QStringLiteral("播报价格") : task.title;
    QStringList limits;
    if (!weekdays.isEmpty())
        limits << weekdays;
    const QString dates = DatesText(task, today);
    if (!dates.isEmpty())
        limits << dates;
    return limits.isEmpty() ? title : title + QStringLiteral("（") + limits.join(QStringLiteral("，")) + QStringLiteral("）");
}

TaskList TaskList::Defaults()
{
    TiXmlElement root("TimerRecords");
    for (const DefaultTask &task : kDefaultTasks) {
        TiXmlElement record("record");
        record.SetAttribute("title", QString::fromUtf8(task.title).toLocal8Bit().constData());
        record.SetAttribute("start", task.start);
        record.SetAttribute("end", task.end);
        if (*task.text)
            record.InsertEndChild(TiXmlText(QString::fromUtf8(task.text).toLocal8Bit().constData()));
        root.InsertEndChild(record);
    }
    return FromXml(root);
}

TaskList TaskList::FromXml(const TiXmlElement &root)
{
    TaskList list;
    const char *daily = root.Attribute("dailyRestart");
    list.dailyRestart = daily && QByteArray(daily).compare("true", Qt::CaseInsensitive) == 0;
    for (const TiXmlElement *e = root.FirstChildElement(); e; e = e->NextSiblingElement())
        list.Insert(list.Size(), ReadTask(*e));
    return list;
}

void TaskList::ToXml(TiXmlDocument *doc) const
{
    auto *root = new TiXmlElement("TimerRecords"); // owned by the document once linked
    doc->LinkEndChild(root);
    if (dailyRestart) // absent: off, as in files without the option
        root->SetAttribute("dailyRestart", "true");
    for (const TimerTask &task : m_tasks) {
        auto *record = new TiXmlElement("record");
        record->SetAttribute("title", task.playPrice ? kPriceReport : task.title.toLocal8Bit().constData());
        if (!task.playPrice)
            record->LinkEndChild(new TiXmlText(task.text.toLocal8Bit().constData()));
        record->SetAttribute("start", Condition(task.startAtTime, task.startTime, task.timeAfterLastTask).constData());
        record->SetAttribute("end", Condition(task.endAtTime, task.endTime, task.lastTaskExecTimes).constData());
        if (task.weekdays != TimerTask::kEveryDay) { // absent: every day
            QByteArray digits;
            for (int day = 0; day < 7; ++day)
                if (task.weekdays & (1 << day))
                    digits += char('1' + day);
            record->SetAttribute("days", digits.constData());
        }
        WriteDate(record, "from", task.from);
        WriteDate(record, "until", task.until);
        root->LinkEndChild(record);
    }
}

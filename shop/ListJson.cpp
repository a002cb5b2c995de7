#include "shop/ListJson.h"

#include "shop/JsonNumbers.h"

#include "core/XmlFile.h"
#include "shop/TextRules.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <tinyxml.h>

namespace {

constexpr int kMaxUnitLength = 20;

bool Fail(ListJson::Fault *fault, int row, const QString &field, const QString &message)
{
    *fault = {row, field, message};
    return false;
}

// A text field: a string of at most kMaxTextLength characters, no NUL;
// blank only when allowed.
bool TextField(const QJsonObject &o, const char *name, bool blankAllowed, int row, QString *out,
               ListJson::Fault *fault, int maxLength = kMaxTextLength)
{
    const QJsonValue value = o.value(QLatin1String(name));
    if (value.isUndefined() && blankAllowed) {
        out->clear();
        return true;
    }
    if (!value.isString())
        return Fail(fault, row, QLatin1String(name), QStringLiteral("must be a string"));
    *out = value.toString();
    if (out->contains(QChar(0)))
        return Fail(fault, row, QLatin1String(name), QStringLiteral("holds a NUL character"));
    if (QStringView(*out).toUcs4().size() > maxLength)
        return Fail(fault, row, QLatin1String(name), QStringLiteral("longer than %1 characters").arg(maxLength));
    if (!blankAllowed && out->trimmed().isEmpty())
        return Fail(fault, row, QLatin1String(name), QStringLiteral("must not be blank"));
    return true;
}

bool BoolField(const QJsonObject &o, const char *name, bool fallback, int row, bool *out, ListJson::Fault *fault)
{
    const QJsonValue value = o.value(QLatin1String(name));
    if (value.isUndefined()) {
        *out = fallback;
        return true;
    }
    if (!value.isBool())
        return Fail(fault, row, QLatin1String(name), QStringLiteral("must be true or false"));
    *out = value.toBool();
    return true;
}

bool CountField(const QJsonObject &o, const char *name, int row, int *out, ListJson::Fault *fault)
{
    const std::optional<qint64> number = JsonNumbers::Whole(o.value(QLatin1String(name)), 0, TaskList::kMaxCount);
    if (!number)
        return Fail(fault, row, QLatin1String(name), QStringLiteral("must be a whole number from 0 to %1").arg(TaskList::kMaxCount));
    *out = int(*number);
    return true;
}

bool TimeField(const QJsonObject &o, const char *name, int row, QTime *out, ListJson::Fault *fault)
{
    *out = ClockFromText(o.value(QLatin1String(name)).toString());
    if (!out->isValid())
        return Fail(fault, row, QLatin1String(name), QStringLiteral("must be a time \"hh:mm\""));
    return true;
}

// An optional day "yyyy-MM-dd"; absent leaves it invalid (open).
bool DateField(const QJsonObject &o, const char *name, int row, QDate *out, ListJson::Fault *fault)
{
    const QJsonValue value = o.value(QLatin1String(name));
    if (value.isUndefined() || value.isNull())
        return true;
    *out = QDate::fromString(value.toString(), QStringLiteral("yyyy-MM-dd"));
    if (!value.isString() || !out->isValid())
        return Fail(fault, row, QLatin1String(name), QStringLiteral("must be a day \"yyyy-MM-dd\""));
    return true;
}

// The rows array of a list; false (with the fault) when it is not one.
bool RowsOf(const QJsonObject &json, const char *name, QJsonArray *rows, ListJson::Fault *fault)
{
    const QJsonValue value = json.value(QLatin1String(name));
    if (!value.isArray())
        return Fail(fault, -1, QLatin1String(name), QStringLiteral("must be an array"));
    *rows = value.toArray();
    return true;
}

// The list must also fit the stored file's limit.
bool FitsTheFile(qint64 bytes, ListJson::Fault *fault)
{
    if (bytes > XmlFile::kMaxBytes)
        return Fail(fault, -1, QStringLiteral("rows"),
                    QStringLiteral("the list would be larger than %1 bytes").arg(XmlFile::kMaxBytes));
    return true;
}

// At least as many bytes as a text takes in the stored file: every sign
// the printer escapes counted at its longest escape.
qint64 EscapedBound(const QString &text)
{
    qint64 bytes = text.toUtf8().size();
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c == QLatin1Char('&') || c == QLatin1Char('<') || c == QLatin1Char('>')
            || c == QLatin1Char('"') || c == QLatin1Char('\''))
            bytes += 5;
    return bytes;
}

// A bound on the stored file's size, without printing it (a list of tens
// of thousands of rows is checked in milliseconds).
qint64 FileBound(const PriceList &list)
{
    qint64 bytes = 64;
    for (const PriceRow &row : list.Rows())
        bytes += 64 + EscapedBound(row.text) + EscapedBound(row.name) + EscapedBound(row.price) + EscapedBound(row.unit);
    return bytes;
}

qint64 FileBound(const TaskList &list)
{
    qint64 bytes = 64;
    for (const TimerTask &task : list.Tasks())
        bytes += 96 + EscapedBound(task.title) + EscapedBound(task.text);
    return bytes;
}

template <typename List>
bool FitsTheFile(const List &list, ListJson::Fault *fault)
{
    return FitsTheFile(FileBound(list), fault);
}

} // namespace

QJsonObject ListJson::FromWords(const WordList &list)
{
    QJsonArray rows;
    for (const WordRow &row : list.Rows())
        rows.append(QJsonObject{{QStringLiteral("text"), row.text}});
    return {{QStringLiteral("loop"), list.loop}, {QStringLiteral("rows"), rows}};
}

QJsonObject ListJson::FromPrices(const PriceList &list)
{
    QJsonArray rows;
    for (const PriceRow &row : list.Rows()) {
        if (row.isText)
            rows.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("text")},
                                    {QStringLiteral("text"), row.text},
                                    {QStringLiteral("ticked"), row.ticked}});
        else
            rows.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("goods")},
                                    {QStringLiteral("name"), row.name},
                                    {QStringLiteral("price"), row.price},
                                    {QStringLiteral("unit"), row.unit},
                                    {QStringLiteral("ticked"), row.ticked}});
    }
    return {{QStringLiteral("loop"), list.recycle}, {QStringLiteral("rows"), rows}};
}

QJsonObject ListJson::FromTasks(const TaskList &list)
{
    QJsonArray tasks;
    for (const TimerTask &task : list.Tasks()) {
        QJsonObject o{{QStringLiteral("title"), task.title},
                      {QStringLiteral("text"), task.text},
                      {QStringLiteral("price"), task.playPrice},
                      {QStringLiteral("enabled"), task.enabled}};
        if (task.startAtTime)
            o.insert(QStringLiteral("start"), ClockText(task.startTime));
        else
            o.insert(QStringLiteral("after"), task.timeAfterLastTask);
        if (task.endAtTime)
            o.insert(QStringLiteral("end"), ClockText(task.endTime));
        else
            o.insert(QStringLiteral("times"), task.lastTaskExecTimes);
        QJsonArray days;
        for (int day = 0; day < 7; ++day)
            if (task.weekdays & (1 << day))
                days.append(day + 1);
        o.insert(QStringLiteral("weekdays"), days);
        if (task.from.isValid())
            o.insert(QStringLiteral("from"), task.from.toString(Qt::ISODate));
        if (task.until.isValid())
            o.insert(QStringLiteral("until"), task.until.toString(Qt::ISODate));
        tasks.append(o);
    }
    return {{QStringLiteral("dailyRestart"), list.dailyRestart}, {QStringLiteral("tasks"), tasks}};
}

bool ListJson::ToWords(const QJsonObject &json, WordList *list, Fault *fault)
{
    WordList read;
    QJsonArray rows;
    if (!BoolField(json, "loop", false, -1, &read.loop, fault) || !RowsOf(json, "rows", &rows, fault))
        return false;
    for (int i = 0; i < rows.size(); ++i) {
        if (!rows[i].isObject())
            return Fail(fault, i, QString(), QStringLiteral("must be an object"));
        QString text;
        if (!TextField(rows[i].toObject(), "text", false, i, &text, fault))
            return false;
        read.Insert(read.Size(), text.trimmed());
    }
    // The word list's file holds each row as an element of its own.
    qint64 bytes = 0;
    for (const WordRow &row : read.Rows())
        bytes += row.text.toUtf8().size() + 40;
    if (!FitsTheFile(bytes, fault))
        return false;
    *list = read;
    return true;
}

bool ListJson::ToPrices(const QJsonObject &json, PriceList *list, Fault *fault)
{
    static const QRegularExpression kPrice(QStringLiteral("^[0-9]{1,7}([.][0-9]{1,2})?$"));
    PriceList read;
    QJsonArray rows;
    if (!BoolField(json, "loop", false, -1, &read.recycle, fault) || !RowsOf(json, "rows", &rows, fault))
        return false;
    for (int i = 0; i < rows.size(); ++i) {
        if (!rows[i].isObject())
            return Fail(fault, i, QString(), QStringLiteral("must be an object"));
        const QJsonObject o = rows[i].toObject();
        const QString kind = o.value(QStringLiteral("kind")).toString();
        PriceRow row;
        if (kind == QLatin1String("text")) {
            QString text;
            if (!TextField(o, "text", false, i, &text, fault))
                return false;
            row = PriceRow::Text(text.trimmed());
        } else if (kind == QLatin1String("goods")) {
            QString name, price, unit;
            if (!TextField(o, "name", false, i, &name, fault) || !TextField(o, "price", false, i, &price, fault)
                || !TextField(o, "unit", true, i, &unit, fault, kMaxUnitLength))
                return false;
            if (!kPrice.match(price).hasMatch())
                return Fail(fault, i, QStringLiteral("price"), QStringLiteral("must be a price such as \"1.98\""));
            row = PriceRow::Goods(name, price, unit.trimmed());
        } else {
            return Fail(fault, i, QStringLiteral("kind"), QStringLiteral("must be \"goods\" or \"text\""));
        }
        if (!BoolField(o, "ticked", true, i, &row.ticked, fault))
            return false;
        read.Insert(read.Size(), row);
    }
    if (!FitsTheFile(read, fault))
        return false;
    *list = read;
    return true;
}

bool ListJson::ToTasks(const QJsonObject &json, TaskList *list, Fault *fault)
{
    TaskList read;
    QJsonArray tasks;
    if (!BoolField(json, "dailyRestart", false, -1, &read.dailyRestart, fault) || !RowsOf(json, "tasks", &tasks, fault))
        return false;
    for (int i = 0; i < tasks.size(); ++i) {
        if (!tasks[i].isObject())
            return Fail(fault, i, QString(), QStringLiteral("must be an object"));
        const QJsonObject o = tasks[i].toObject();
        TimerTask task;
        if (!BoolField(o, "price", false, i, &task.playPrice, fault) || !BoolField(o, "enabled", true, i, &task.enabled, fault))
            return false;
        if (!task.playPrice
            && (!TextField(o, "title", false, i, &task.title, fault) || !TextField(o, "text", false, i, &task.text, fault)))
            return false;
        const bool at = o.contains(QStringLiteral("start")), after = o.contains(QStringLiteral("after"));
        if (at == after)
            return Fail(fault, i, QStringLiteral("start"), QStringLiteral("give either \"start\" or \"after\""));
        task.startAtTime = at;
        if (at ? !TimeField(o, "start", i, &task.startTime, fault) : !CountField(o, "after", i, &task.timeAfterLastTask, fault))
            return false;
        const bool end = o.contains(QStringLiteral("end")), times = o.contains(QStringLiteral("times"));
        if (end == times)
            return Fail(fault, i, QStringLiteral("end"), QStringLiteral("give either \"end\" or \"times\""));
        task.endAtTime = end;
        if (end ? !TimeField(o, "end", i, &task.endTime, fault) : !CountField(o, "times", i, &task.lastTaskExecTimes, fault))
            return false;
        if (task.playPrice && !task.endAtTime)
            return Fail(fault, i, QStringLiteral("end"), QStringLiteral("a price task must end at a time"));
        if (o.contains(QStringLiteral("weekdays"))) {
            const QJsonArray days = o.value(QStringLiteral("weekdays")).toArray();
            task.weekdays = 0;
            for (const QJsonValue &day : days) {
                const std::optional<qint64> d = JsonNumbers::Whole(day, 1, 7);
                if (!d)
                    return Fail(fault, i, QStringLiteral("weekdays"), QStringLiteral("days are 1 (Monday) to 7 (Sunday)"));
                task.weekdays |= 1 << (*d - 1);
            }
            if (task.weekdays == 0)
                return Fail(fault, i, QStringLiteral("weekdays"), QStringLiteral("must name at least one day"));
        }
        if (!DateField(o, "from", i, &task.from, fault) || !DateField(o, "until", i, &task.until, fault))
            return false;
        if (task.from.isValid() && task.until.isValid() && task.until < task.from)
            return Fail(fault, i, QStringLiteral("until"), QStringLiteral("must not be before \"from\""));
        read.Insert(read.Size(), task);
    }
    if (!FitsTheFile(read, fault))
        return false;
    *list = read;
    return true;
}

#pragma once

#include "shop/PriceList.h"
#include "shop/TaskList.h"
#include "shop/WordList.h"

#include <QJsonObject>
#include <QStringList>

// The three lists as JSON with named fields, for other systems of the
// shop, and back. Reading checks every row against the limits the tabs
// and the stored files keep; the first fault names its row and field.
//   word:  {"loop": b, "rows": [{"text": s}]}
//   price: {"loop": b, "rows": [{"kind": "goods", "name": s, "price": "1.98", "unit": s, "ticked": b}
//                             | {"kind": "text", "text": s, "ticked": b}]}
//   timer: {"dailyRestart": b, "tasks": [{"title": s, "text": s, "price": b,
//           "start": "hh:mm" | "after": seconds, "end": "hh:mm" | "times": n,
//           "weekdays": [1..7], "from": "yyyy-MM-dd", "until": "yyyy-MM-dd", "enabled": b}]}
//          (from and until optional: a campaign's first and last day)
namespace ListJson {

struct Fault
{
    int row = -1;   // -1: the list as a whole
    QString field;
    QString message;
};

QJsonObject FromWords(const WordList &list);
QJsonObject FromPrices(const PriceList &list);
QJsonObject FromTasks(const TaskList &list);

bool ToWords(const QJsonObject &json, WordList *list, Fault *fault);
bool ToPrices(const QJsonObject &json, PriceList *list, Fault *fault);
bool ToTasks(const QJsonObject &json, TaskList *list, Fault *fault);

}

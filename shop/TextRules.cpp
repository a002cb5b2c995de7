#include "shop/TextRules.h"

#include <climits>

namespace TextRules {

namespace {

// The number between "延时" and the unit; unreadable text gives 0.
qint64 WaitNumber(QString text, const QString &unit)
{
    text.replace(QStringLiteral("延时"), QStringLiteral(" "));
    text.replace(unit, QStringLiteral(" "));
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    return ok ? n : 0;
}

int ClampToInt(qint64 number, qint64 factor)
{
    const qint64 limit = INT_MAX / factor;
    return int(qBound(-limit, number, limit) * factor);
}

} // namespace

int CharacterCount(const QString &text)
{
    int count = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++count)
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
    return count;
}

QString LimitTextLength(const QString &text)
{
    if (text.size() <= kMaxTextLength)
        return text;
    qsizetype units = 0;
    for (int count = 0; count < kMaxTextLength && units < text.size(); ++count)
        units += text.at(units).isHighSurrogate() && units + 1 < text.size() && text.at(units + 1).isLowSurrogate() ? 2 : 1;
    return text.left(units);
}

bool ParseWaitText(QString text, int *ms)
{
    if (!text.startsWith(QStringLiteral("延时")))
        return false;
    const QString second = QStringLiteral("秒"), minute = QStringLiteral("分");
    if (text.endsWith(second)) {
        *ms = ClampToInt(WaitNumber(text, second), 1000);
        return true;
    }
    if (text.endsWith(minute)) {
        *ms = ClampToInt(WaitNumber(text, minute), 60000);
        return true;
    }
    return false;
}

} // namespace TextRules

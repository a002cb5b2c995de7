#include "shop/PricePlayer.h"

#include "core/Log.h"
#include "shop/PriceListModel.h"
#include "shop/TextRules.h"

PricePlayer::PricePlayer(PriceListModel *list, int firstIndex, QObject *parent)
    : ListPlayer(list, PriceListModel::IdRole, firstIndex, parent), m_list(list)
{
}

QString PricePlayer::PriceToSpeech(const QString &price)
{
    const QStringList parts = price.split(QLatin1Char('.'));
    // An empty integer part (".5") is read as 0, not as a bare "块".
    const QString whole = parts.at(0).isEmpty() ? QStringLiteral("0") : parts.at(0);
    QString spoken;
    if (whole != QLatin1String("0"))
        spoken += whole == QLatin1String("2") ? QStringLiteral("两块") : whole + QStringLiteral("块");
    if (parts.size() < 2)
        return spoken;
    const QString fraction = parts.at(1);
    if (fraction.isEmpty() || fraction == QLatin1String("0") || fraction == QLatin1String("00"))
        return spoken;
    auto nonZeroDigit = [](QChar c) { return c >= QLatin1Char('1') && c <= QLatin1Char('9'); };
    const QChar first = fraction.at(0);
    if (nonZeroDigit(first)) {
        spoken += first + QStringLiteral("毛");
        if (fraction.size() > 1 && nonZeroDigit(fraction.at(1)))
            spoken += fraction.at(1);
    } else if (first == QLatin1Char('0') && fraction.size() > 1) {
        if (whole != QLatin1String("0"))
            spoken += QStringLiteral("零");
        spoken += fraction.at(1) + QStringLiteral("分");
    }
    return spoken;
}

bool PricePlayer::AnnouncementText(int row, QString *text) const
{
    const PriceRow &data = m_list->List().At(row);
    if (data.isText) {
        *text = data.text.trimmed();
        return true;
    }
    if (data.price.isEmpty()) {
        PLOG(LOG_WARNING, "row %d has no price", row);
        return false;
    }
    *text = data.name + PriceToSpeech(data.price) + data.unit;
    return true;
}

bool PricePlayer::Loops() const
{
    return m_list->List().recycle || m_underTimer;
}

bool PricePlayer::Skipped(int row) const
{
    return !m_list->List().At(row).ticked;
}

bool PricePlayer::Send(int row, int tag)
{
    QString text;
    if (!AnnouncementText(row, &text))
        return false;
    int waitMs = 0;
    if (ParseWaitText(text, &waitMs))
        emit OutAudio(tag, 1, QString::number(waitMs), true);
    else
        emit OutAudio(tag, 0, text, true);
    return true;
}

void PricePlayer::StartUnderTimer()
{
    m_underTimer = true;
    Play();
}

void PricePlayer::StopUnderTimer(bool cutNow)
{
    if (!m_underTimer)
        return;
    m_underTimer = false;
    StopAfterRow();
    if (cutNow)
        emit CancelSpeech();
}

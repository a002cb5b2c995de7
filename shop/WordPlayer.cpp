#include "shop/WordPlayer.h"

#include "shop/TextRules.h"
#include "shop/WordListModel.h"

WordPlayer::WordPlayer(WordListModel *list, int firstIndex, QObject *parent)
    : ListPlayer(list, WordListModel::IdRole, firstIndex, parent), m_list(list)
{
}

QString WordPlayer::Spoken(const QString &rowText)
{
    return rowText.trimmed() + QStringLiteral(", .");
}

bool WordPlayer::Loops() const
{
    return m_list->List().loop;
}

// A wait row becomes one wait request; a text row the text (reported)
// followed by a short gap (not reported).
bool WordPlayer::Send(int row, int tag)
{
    const QString text = m_list->List().At(row).text.trimmed();
    int ms = 0;
    if (ParseWaitText(text, &ms)) {
        emit OutAudio(tag, 1, QString::number(ms), true);
        return true;
    }
    emit OutAudio(tag, 0, Spoken(text), true);
    emit OutAudio(tag, 1, QString::number(kGapMs), false);
    return true;
}

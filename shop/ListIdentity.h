#pragma once

#include <QHash>
#include <QList>
#include <QString>

// A list replaced whole keeps who its rows were: each new row takes the id
// of the first unclaimed old row with the same content, so the row or task
// in hand is followed on. Linear in the two lists' lengths.
namespace ListIdentity {

template <typename Row, typename List, typename KeyOf>
void Carry(const QList<Row> &old, List *fresh, KeyOf keyOf)
{
    QHash<QString, QList<quint64>> idsByKey;
    idsByKey.reserve(old.size());
    for (const Row &row : old)
        idsByKey[keyOf(row)].append(row.id);
    QHash<QString, int> claimed;
    for (int i = 0; i < fresh->Size(); ++i) {
        const QString key = keyOf(fresh->At(i));
        const auto ids = idsByKey.constFind(key);
        if (ids == idsByKey.constEnd())
            continue;
        int &next = claimed[key];
        if (next < ids->size())
            fresh->Adopt(i, ids->at(next++));
    }
}

} // namespace ListIdentity

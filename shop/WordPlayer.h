#pragma once

#include "shop/ListPlayer.h"

class WordListModel;

// The word loop: each row read as one announcement (a text and a short
// gap, or a wait), once or round and round.
class WordPlayer : public ListPlayer
{
    Q_OBJECT

public:
    static constexpr int kGapMs = 800;

    WordPlayer(WordListModel *list, int firstIndex, QObject *parent = nullptr);
    // What a row is spoken as (and cached under).
    static QString Spoken(const QString &rowText);

protected:
    bool Loops() const override;
    bool Send(int row, int tag) override;

private:
    WordListModel *m_list;
};

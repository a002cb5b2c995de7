#pragma once

#include "shop/ListPlayer.h"

class PriceListModel;

// The price loop: goods read as price sentences (西瓜 1.98 一斤 →
// 西瓜1块9毛8一斤), text rows and waits between them, unticked rows passed
// over; once or in a loop. The timer can hold it: it then loops until the
// timer lets it go, and staff cannot pause it.
class PricePlayer : public ListPlayer
{
    Q_OBJECT

public:
    PricePlayer(PriceListModel *list, int firstIndex, QObject *parent = nullptr);

    // "1.98" → "1块9毛8", "2" → "两块", "3.05" → "3块零5分", "0" → "".
    static QString PriceToSpeech(const QString &price);
    // The sentence a row is read as; false when it cannot be read (no price).
    bool AnnouncementText(int row, QString *text) const;
    bool UnderTimer() const { return m_underTimer; }

public slots:
    // The timer's price task started: read in a loop from the row in hand.
    void StartUnderTimer();
    // The timer's price task ended: stop after the row being read (or at
    // once, the row cut, when the task became something else).
    void StopUnderTimer(bool cutNow = false);

protected:
    bool Loops() const override;
    bool Skipped(int row) const override;
    bool Send(int row, int tag) override;
    bool PauseRefused() const override { return m_underTimer; }

private:
    PriceListModel *m_list;
    bool m_underTimer = false;
};

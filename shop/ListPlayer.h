#pragma once

#include <QObject>

class QAbstractItemModel;

// What the word loop and the price loop share: the row in hand, read
// once or round and round through the speech road, paused and resumed,
// and followed on whatever staff or a remote list do around it. A row
// deleted while it is read hands over to the row that followed it.
class ListPlayer : public QObject
{
    Q_OBJECT

public:
    enum State { Stopped = 0, Playing = 1, Paused = 2 };

    State GetState() const { return m_state; }
    // The row in hand: the one being read, or the one reading starts from;
    // -1 when the list is empty.
    int Cursor() const;
    // Staff chose a row: reading starts from it (ignored while playing).
    void SetCursor(int row);

signals:
    // type 0 speaks content, type 1 waits content milliseconds.
    void OutAudio(int index, int type, QString content, bool needFinisheReport);
    // Cut this list's queued and current speech (a pause).
    void CancelSpeech();
    // The list is playing (true), or paused, stopped or emptied.
    void Active(bool playing);
    void StateChanged(int state);
    void CursorChanged(int row);

public slots:
    // Reads the row in hand (or resumes); false when there is nothing to read.
    bool Play();
    bool Pause();
    // The speech road's report for one of this list's requests.
    void ActionFinished(int index);

protected:
    ListPlayer(QAbstractItemModel *model, int idRole, int firstIndex, QObject *parent);
    // Read round and round (else one row and stop).
    virtual bool Loops() const = 0;
    // Rows a loop passes over (unticked ones).
    virtual bool Skipped(int row) const;
    // Hands the row's requests over, the reported one under tag; false
    // when the row cannot be read.
    virtual bool Send(int row, int tag) = 0;
    // Whether a pause from staff is refused now (the timer holds the list).
    virtual bool PauseRefused() const { return false; }
    int RowCount() const;
    void SetState(State state);
    // Stops after the row being read (or at once when none is).
    void StopAfterRow();
    bool ReadyForNext() const { return m_readyForNext; }

private:
    quint64 IdAt(int row) const;
    int RowOfId(quint64 id) const;
    void MoveCursor(int row, bool isNext);
    void RowsGoing(int first, int last);
    void ListReplaced();
    // Tries the rows from row on, wrapping round, each once, until one plays.
    void PlayFrom(int row);

    QAbstractItemModel *m_model;
    int m_idRole;
    int m_nextIndex;
    int m_sentIndex = -1; // the reported request out, -1 when none
    quint64 m_cursorId = 0;
    int m_cursorRow = 0;  // its row when last seen
    bool m_cursorIsNext = false; // the row in hand went: the cursor is already on the next
    bool m_readyForNext = true;
    bool m_stopAfterRow = false;
    State m_state = Stopped;
};

#include "shop/ListPlayer.h"

#include "core/Log.h"

#include <QAbstractItemModel>

ListPlayer::ListPlayer(QAbstractItemModel *model, int idRole, int firstIndex, QObject *parent)
    : QObject(parent), m_model(model), m_idRole(idRole), m_nextIndex(firstIndex)
{
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) { RowsGoing(first, last); });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this] {
        const int row = Cursor();
        emit CursorChanged(row);
        if (RowCount() == 0 && m_state == Playing && m_readyForNext) {
            SetState(Stopped);
            emit Active(false);
        }
    });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { emit CursorChanged(Cursor()); });
    connect(model, &QAbstractItemModel::modelReset, this, &ListPlayer::ListReplaced);
}

int ListPlayer::RowCount() const
{
    return m_model->rowCount();
}

quint64 ListPlayer::IdAt(int row) const
{
    return m_model->index(row, 0).data(m_idRole).toULongLong();
}

int ListPlayer::RowOfId(quint64 id) const
{
    if (id == 0)
        return -1;
    // Most lookups find the row where it was last seen.
    if (m_cursorRow < RowCount() && IdAt(m_cursorRow) == id)
        return m_cursorRow;
    for (int row = 0; row < RowCount(); ++row)
        if (IdAt(row) == id)
            return row;
    return -1;
}

int ListPlayer::Cursor() const
{
    if (RowCount() == 0)
        return -1;
    const int row = RowOfId(m_cursorId);
    return row >= 0 ? row : qMin(m_cursorRow, RowCount() - 1);
}

void ListPlayer::MoveCursor(int row, bool isNext)
{
    m_cursorRow = qMax(0, row);
    m_cursorId = row >= 0 && row < RowCount() ? IdAt(row) : 0;
    m_cursorIsNext = isNext;
    emit CursorChanged(Cursor());
}

void ListPlayer::SetCursor(int row)
{
    if (m_state == Playing || row < 0 || row >= RowCount())
        return;
    MoveCursor(row, false);
}

// The row in hand is going: the row after the removed ones takes its
// place (the first row when they were the last), already counted as next.
void ListPlayer::RowsGoing(int first, int last)
{
    const int row = RowOfId(m_cursorId);
    if (row < first || row > last) {
        if (row > last)
            m_cursorRow = row - (last - first + 1);
        return;
    }
    const int after = last + 1 < RowCount() ? last + 1 : (first > 0 ? 0 : -1);
    m_cursorId = after >= 0 ? IdAt(after) : 0;
    m_cursorRow = after >= 0 ? (after > last ? first : 0) : 0;
    m_cursorIsNext = true;
}

// A list replaced whole: a row that is still there kept its id; else the
// row now at the old place is taken up from its start.
void ListPlayer::ListReplaced()
{
    const int row = RowOfId(m_cursorId);
    if (row >= 0)
        m_cursorRow = row;
    else
        MoveCursor(qMin(m_cursorRow, qMax(0, RowCount() - 1)), true);
    if (RowCount() == 0 && m_state == Playing && m_readyForNext) {
        SetState(Stopped);
        emit Active(false);
    }
    emit CursorChanged(Cursor());
}

void ListPlayer::SetState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit StateChanged(state);
}

bool ListPlayer::Skipped(int) const
{
    return false;
}

bool ListPlayer::Play()
{
    if (RowCount() == 0)
        return false;
    m_stopAfterRow = false;
    if (m_state == Playing)
        return true;
    if (m_readyForNext) {
        const int row = qMax(0, Cursor());
        const int tag = m_nextIndex++;
        if (!Send(row, tag))
            return false;
        MoveCursor(row, false);
        m_sentIndex = tag;
        m_readyForNext = false;
    }
    SetState(Playing);
    emit Active(true);
    return true;
}

bool ListPlayer::Pause()
{
    if (PauseRefused())
        return false;
    emit CancelSpeech();
    if (m_state != Playing)
        return false;
    SetState(Paused);
    emit Active(false);
    return true;
}

void ListPlayer::StopAfterRow()
{
    if (m_readyForNext) {
        emit CancelSpeech();
        SetState(Stopped);
        emit Active(false);
        return;
    }
    m_stopAfterRow = true;
}

void ListPlayer::ActionFinished(int index)
{
    if (index != m_sentIndex)
        return; // a report of a request this list has since given up
    m_sentIndex = -1;
    m_readyForNext = true;
    if (m_stopAfterRow || !Loops()) {
        m_stopAfterRow = false;
        SetState(Stopped);
    } else if (m_state != Paused) {
        SetState(Stopped);
        const int row = Cursor();
        if (row >= 0)
            PlayFrom(m_cursorIsNext ? row : (row + 1) % RowCount());
    }
    if (m_state != Playing)
        emit Active(false);
}

void ListPlayer::PlayFrom(int start)
{
    const int count = RowCount();
    for (int i = 0; i < count; ++i) {
        const int row = (start + i) % count;
        if (Skipped(row))
            continue;
        MoveCursor(row, false);
        if (Play())
            return;
        PLOG(LOG_WARNING, "row %d cannot be read; the next is tried", row);
    }
}

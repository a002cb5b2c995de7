#pragma once

#include "modes/TimerTask.h"

#include <QWidget>

#include <memory>

class QTimer;
class SaveTimer;
class StoredFile;
namespace Ui {
class TimerMode;
}

// Timer mode: a table of tasks worked through in order, once a second
// while it plays. A task starts at a clock time or some seconds after the
// last announcement, announces its text over and over (or runs price
// mode) and ends at a clock time or after a number of repetitions. The
// table is the task list; its item data carry the scheduler's state.
class TimerMode : public QWidget
{
    Q_OBJECT

public:
    enum Column { ColumnCheck = 0, ColumnStart = 1, ColumnContent = 2, ColumnEnd = 3 };
    static constexpr int kCountFactor = 10000; // column 3: total × 10000 + done
    static constexpr int kLeadInMs = 900;
    // Column 2 keeps the title and the weekdays beside the content.
    static constexpr int kTitleRole = Qt::UserRole + 1;
    static constexpr int kWeekdaysRole = Qt::UserRole + 2;

    explicit TimerMode(int firstRequestIndex, QWidget *parent = nullptr);
    ~TimerMode() override;

    static QString FilePath();
    void LoadFile(const QString &fileName);
    // Writes a task into a row, creating its check box and items where missing.
    void SetTaskRow(int row, const TimerTask &task);
    // One step of the scheduler (run by TimerOut()).
    void RunSchedule();
    int PlayState() const { return m_playState; }
    bool SaveFailed() const;
    // "一二三四五" for Monday to Friday; empty for every day.
    static QString WeekdayText(int mask);

signals:
    void OutAudio(int index, int type, QString content, bool needFinisheReport);
    void DelRecord(int index);
    void StartPlay();
    // Cut this mode's queued and current speech (a pause).
    void CancelSpeech();
    // A task is being announced (true), or the timer is paused or idle.
    void Active(bool playing);
    void StartPriceMode();
    void StopPriceMode();

public slots:
    void InsertTask();
    void DelItem();
    void DelAll();
    void ProcessTableDoubleClick(int row, int col);
    void SaveFile();
    bool Pause();
    bool Play();
    void TimerOut();
    void ActionFinished(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    bool RowEnabled(int row) const;
    void SetRowEnabled(int row, bool enabled);
    int ItemInt(int row, int col) const;
    // The task of a row, as the editor shows it.
    TimerTask TaskOfRow(int row) const;
    // Runs the editor; true (and *task) when it was accepted.
    bool EditTask(TimerTask *task, bool fill);
    void EndTask(int row);
    // A new day with the daily restart on: every task again from the top.
    void StartNewDayIfDue();
    void PlayTaskText(const QString &text);
    void ConnectDoubleClick(bool on);

    std::unique_ptr<Ui::TimerMode> ui;
    int m_taskIndex = 0;
    int m_requestIndex;
    bool m_readyForNext = true;
    bool m_currentTaskRunning = false;
    bool m_playPrice = false;
    quint32 m_lastPlayTime = 0;
    QDate m_lastStartDay; // the latest day the tasks were started for
    int m_playState = 0; // 1 playing, 2 stopped, 0 never started
    QTimer *m_tickTimer;
    SaveTimer *m_saveTimer;
    std::unique_ptr<StoredFile> m_file;
};

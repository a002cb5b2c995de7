#pragma once

#include <QWidget>

#include <memory>

class Shop;
class TaskListModel;
class TimerSchedule;
struct TimerTask;
namespace Ui {
class TimerMode;
}

// The timer tab: a view and editor of the shop's tasks and of the timer's
// day (开启 starts it, 停止 stops it).
class TimerMode : public QWidget
{
    Q_OBJECT

public:
    TimerMode(Shop *shop, QWidget *parent = nullptr);
    ~TimerMode() override;

public slots:
    void InsertTask();
    void DelItem();
    void DelAll();
    void SaveFile();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Runs the editor; true (and *task) when it was accepted.
    bool EditTask(TimerTask *task, bool fill);
    void EditRow(int row);
    void ShowState(int state);
    int CurrentRow() const;

    std::unique_ptr<Ui::TimerMode> ui;
    TaskListModel *m_tasks;
    TimerSchedule *m_schedule;
    bool m_editing = false;
};

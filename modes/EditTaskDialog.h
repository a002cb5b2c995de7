#pragma once

#include <QDialog>
#include <QList>
#include <QDate>
#include <QTime>

class QCheckBox;

#include <memory>

namespace Ui {
class EditTaskDialog;
}

// The editor of one timer task: start (clock time or seconds after the
// previous task), content (a text with its title, or the price list) and
// end (clock time or repetitions). Its widgets are its state; the caller
// fills it through the setters, runs exec() and reads the getters.
class EditTaskDialog : public QDialog
{
    Q_OBJECT

public:
    explicit EditTaskDialog(QWidget *parent = nullptr);
    ~EditTaskDialog() override;

    // True for a clock start (time set), false for a delay (seconds set).
    bool GetStartCondition(QTime *time, int *seconds) const;
    // True for a clock end (time set), false for repetitions (times set).
    bool GetEndCondition(QTime *time, int *times) const;
    // False for a price task (title "PriceReport"), true for a text task.
    bool GetTitle(QString *title) const;
    QString GetText() const;
    // The ticked days: bit 0 Monday … bit 6 Sunday.
    int GetWeekdays() const;
    // The campaign's first and last day; invalid when not ticked (open).
    QDate GetFrom() const;
    QDate GetUntil() const;

    void SetStartTime(QTime time);
    void SetTimeAfterLastTask(int seconds);
    void SetPlayPrice(bool playPrice);
    void SetTitle(const QString &title);
    void SetText(const QString &text);
    void SetEndTime(QTime time);
    void SetLastTaskExecTimes(int times);
    void DisableAfterLastTask();
    void SetWeekdays(int mask);
    // Ticks and fills the date edits of the valid dates.
    void SetDates(const QDate &from, const QDate &until);

public slots:
    void SaveTask();
    void CancelTask();
    void StartConditionChanged(bool);
    void EndConditionChanged(bool);
    void ShowPlayText(int index);
    void ProcessStartTimeChanged(QTime time);
    void ProcessEndTimeChanged(QTime time);

private:
    void FillTitlePresets();
    // Refuses the task with a critical message; the dialog stays open.
    void Refuse(const QString &text);

    QList<QCheckBox *> DayBoxes() const;

    std::unique_ptr<Ui::EditTaskDialog> ui;
};

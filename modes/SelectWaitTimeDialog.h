#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class SelectWaitTimeDialog;
}

// Asks for a delay: a number from 0 to 1000 and a unit, seconds or minutes.
class SelectWaitTimeDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SelectWaitTimeDialog(QWidget *parent);
    ~SelectWaitTimeDialog() override;

    // The number entered; 0 when the field is empty.
    int WaitValue() const;
    // The chosen unit, "秒" or "分".
    QString WaitUnit() const;

public slots:
    void SelectOK();
    void SelectCancel();

private:
    std::unique_ptr<Ui::SelectWaitTimeDialog> ui;
};

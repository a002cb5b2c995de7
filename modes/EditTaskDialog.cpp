#include "modes/EditTaskDialog.h"
#include "ui_EditTaskDialog.h"

#include "modes/ModeHelpers.h"

#include <QFontMetrics>
#include <QCheckBox>
#include <QDateEdit>
#include <QMessageBox>
#include <QStyle>
#include <QRegularExpressionValidator>

namespace {

struct Preset
{
    const char *title;
    const char *text;
};

const Preset kPresets[] = {
    {"员工准备通知",
     "各位同事早上好，还有五分钟，我们的超市就要开始营业了，请大家整理好自己的仪容仪表，各就各位，让我们以饱满的精神，"
     "温馨的服务，去迎接每一位顾客的到来。祝大家在新的一天里，工作愉快，谢谢！"},
    {"欢迎通知",
     "亲爱的顾客朋友，大家好！欢迎光临Marlowick超市，为答谢广大顾客朋友对我超市的支持与厚爱，我们始终以优良的商品，"
     "优惠的价格和最佳的服务满足您的需求。为了给大家提供温馨舒适的购物环境，请您理解并配合我们，不要在超市内吸烟，拍照，"
     "抄写价格，不要随意拆开商品包装，不需要的商品请放回原位，同时请您保管好身边的财物及已结账的商品"},
    {"下班通知",
     "各位亲爱的顾客您好,欢迎光临Marlowick超市，现在是晚上十点，离我们的下班时间还有十分钟，请您抓紧时间购物，"
     "我们依然为您提供满意的服务，祝您购物愉快，谢谢"},
};

// Whole numbers only: a letter typed into a count would silently read as
// 0 and end the task before it speaks.
constexpr char kWholeNumber[] = "[0-9]{0,5}";

// Lays the number field over the run of blanks in the radio button's
// text, so that the two read as one sentence with a field in it.
void PlaceOverGap(QRadioButton *radio, QLineEdit *edit)
{
    const QString text = radio->text();
    const int gapStart = text.indexOf(QLatin1Char(' '));
    const int gapEnd = text.lastIndexOf(QLatin1Char(' ')) + 1;
    if (gapStart < 0)
        return;
    const QFontMetrics metrics(radio->font());
    QStyle *style = radio->style();
    const int textLeft = style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, radio)
                         + style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, radio);
    const int left = radio->x() + textLeft + metrics.horizontalAdvance(text.left(gapStart));
    const int width = metrics.horizontalAdvance(text.mid(gapStart, gapEnd - gapStart));
    edit->setGeometry(left + 1, radio->y(), qMax(width - 2, 20), radio->height());
    radio->resize(textLeft + metrics.horizontalAdvance(text) + 4, radio->height());
}

} // namespace

EditTaskDialog::EditTaskDialog(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::EditTaskDialog>())
{
    ui->setupUi(this);
    setFixedSize(size());
    ui->timeEdit_startTime->setCurrentSection(QDateTimeEdit::HourSection);
    PlaceOverGap(ui->radioButton_afterLastTask, ui->lineEdit_timeAfterLastTask);
    PlaceOverGap(ui->radioButton_lastTaskExecTimes, ui->lineEdit_lastTaskExecTimes);
    for (QLineEdit *edit : {ui->lineEdit_timeAfterLastTask, ui->lineEdit_lastTaskExecTimes})
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QLatin1String(kWholeNumber)), edit));

    connect(ui->radioButton_startTime, &QRadioButton::toggled, this, &EditTaskDialog::StartConditionChanged);
    connect(ui->radioButton_afterLastTask, &QRadioButton::toggled, this, &EditTaskDialog::StartConditionChanged);
    connect(ui->radioButton_endTime, &QRadioButton::toggled, this, &EditTaskDialog::EndConditionChanged);
    connect(ui->radioButton_lastTaskExecTimes, &QRadioButton::toggled, this, &EditTaskDialog::EndConditionChanged);
    connect(ui->timeEdit_startTime, &QTimeEdit::timeChanged, this, &EditTaskDialog::ProcessStartTimeChanged);
    connect(ui->timeEdit_endTime, &QTimeEdit::timeChanged, this, &EditTaskDialog::ProcessEndTimeChanged);
    connect(ui->pushButton_yes, &QPushButton::clicked, this, &EditTaskDialog::SaveTask);
    connect(ui->pushButton_cancel, &QPushButton::clicked, this, &EditTaskDialog::CancelTask);
    connect(ui->comboBox_title, &QComboBox::currentIndexChanged, this, &EditTaskDialog::ShowPlayText);
    for (auto [box, edit] : {std::pair{ui->checkBox_from, ui->dateEdit_from}, std::pair{ui->checkBox_until, ui->dateEdit_until}}) {
        edit->setDate(QDate::currentDate());
        connect(box, &QCheckBox::toggled, edit, &QDateEdit::setEnabled);
    }
    FillTitlePresets();
}

EditTaskDialog::~EditTaskDialog() = default;

void EditTaskDialog::FillTitlePresets()
{
    for (const Preset &preset : kPresets)
        ui->comboBox_title->addItem(QString::fromUtf8(preset.title));
    ui->comboBox_title->setCurrentIndex(0);
}

bool EditTaskDialog::GetStartCondition(QTime *time, int *seconds) const
{
    if (ui->radioButton_startTime->isChecked()) {
        *time = ui->timeEdit_startTime->time();
        return true;
    }
    *seconds = ui->lineEdit_timeAfterLastTask->text().toInt(nullptr, 10);
    return false;
}

bool EditTaskDialog::GetEndCondition(QTime *time, int *times) const
{
    if (ui->radioButton_endTime->isChecked()) {
        *time = ui->timeEdit_endTime->time();
        return true;
    }
    *times = ui->lineEdit_lastTaskExecTimes->text().toInt(nullptr, 10);
    return false;
}

bool EditTaskDialog::GetTitle(QString *title) const
{
    if (!ui->radioButton_playText->isChecked()) {
        *title = QStringLiteral("PriceReport");
        return false;
    }
    *title = ui->comboBox_title->currentText();
    return true;
}

QString EditTaskDialog::GetText() const
{
    return LimitTextLength(ui->textEdit->toPlainText());
}

void EditTaskDialog::SetStartTime(QTime time)
{
    ui->radioButton_startTime->setChecked(true);
    ui->timeEdit_startTime->setTime(time);
}

void EditTaskDialog::SetTimeAfterLastTask(int seconds)
{
    ui->radioButton_afterLastTask->setChecked(true);
    ui->lineEdit_timeAfterLastTask->setText(QString::number(seconds));
}

void EditTaskDialog::SetPlayPrice(bool playPrice)
{
    (playPrice ? ui->radioButton_playPrice : ui->radioButton_playText)->setChecked(true);
}

void EditTaskDialog::SetTitle(const QString &title)
{
    ui->comboBox_title->setEditText(title);
}

void EditTaskDialog::SetText(const QString &text)
{
    ui->textEdit->setPlainText(text);
}

void EditTaskDialog::SetEndTime(QTime time)
{
    ui->radioButton_endTime->setChecked(true);
    ui->timeEdit_endTime->setTime(time);
    qDebug("end time set to %s", qPrintable(time.toString(QStringLiteral("hh:mm"))));
}

void EditTaskDialog::SetLastTaskExecTimes(int times)
{
    ui->radioButton_lastTaskExecTimes->setChecked(true);
    ui->lineEdit_lastTaskExecTimes->setText(QString::number(times));
}

void EditTaskDialog::DisableAfterLastTask()
{
    ui->radioButton_afterLastTask->setEnabled(false);
}

QList<QCheckBox *> EditTaskDialog::DayBoxes() const
{
    return {ui->checkBox_day1, ui->checkBox_day2, ui->checkBox_day3, ui->checkBox_day4,
            ui->checkBox_day5, ui->checkBox_day6, ui->checkBox_day7};
}

int EditTaskDialog::GetWeekdays() const
{
    int mask = 0;
    const QList<QCheckBox *> boxes = DayBoxes();
    for (int day = 0; day < boxes.size(); ++day)
        if (boxes[day]->isChecked())
            mask |= 1 << day;
    return mask;
}

void EditTaskDialog::SetWeekdays(int mask)
{
    const QList<QCheckBox *> boxes = DayBoxes();
    for (int day = 0; day < boxes.size(); ++day)
        boxes[day]->setChecked(mask & (1 << day));
}

QDate EditTaskDialog::GetFrom() const
{
    return ui->checkBox_from->isChecked() ? ui->dateEdit_from->date() : QDate();
}

QDate EditTaskDialog::GetUntil() const
{
    return ui->checkBox_until->isChecked() ? ui->dateEdit_until->date() : QDate();
}

void EditTaskDialog::SetDates(const QDate &from, const QDate &until)
{
    ui->checkBox_from->setChecked(from.isValid());
    if (from.isValid())
        ui->dateEdit_from->setDate(from);
    ui->checkBox_until->setChecked(until.isValid());
    if (until.isValid())
        ui->dateEdit_until->setDate(until);
}

void EditTaskDialog::StartConditionChanged(bool)
{
    const bool atTime = ui->radioButton_startTime->isChecked();
    ui->timeEdit_startTime->setEnabled(atTime);
    ui->lineEdit_timeAfterLastTask->setEnabled(!atTime);
}

void EditTaskDialog::EndConditionChanged(bool)
{
    const bool atTime = ui->radioButton_endTime->isChecked();
    ui->timeEdit_endTime->setEnabled(atTime);
    ui->lineEdit_lastTaskExecTimes->setEnabled(!atTime);
}

void EditTaskDialog::ShowPlayText(int index)
{
    if (index >= 0 && index < int(std::size(kPresets)))
        ui->textEdit->setPlainText(QString::fromUtf8(kPresets[index].text));
}

void EditTaskDialog::ProcessStartTimeChanged(QTime time)
{
    if (ui->timeEdit_endTime->time() < time)
        ui->timeEdit_endTime->setTime(time);
}

void EditTaskDialog::ProcessEndTimeChanged(QTime time)
{
    if (time < ui->timeEdit_startTime->time())
        ui->timeEdit_startTime->setTime(time);
}

void EditTaskDialog::Refuse(const QString &text)
{
    QMessageBox::critical(nullptr, QStringLiteral("错误"), text);
}

void EditTaskDialog::SaveTask()
{
    const bool playText = ui->radioButton_playText->isChecked();
    if (playText && (ui->comboBox_title->currentText().isEmpty() || ui->textEdit->toPlainText().isEmpty())) {
        Refuse(QStringLiteral("请输入标题和播放内容！"));
        return;
    }
    if (ui->radioButton_startTime->isChecked() && ui->radioButton_endTime->isChecked()
        && ui->timeEdit_endTime->time() < ui->timeEdit_startTime->time()) {
        Refuse(QStringLiteral("结束时间必须晚于开始时间！"));
        return;
    }
    if (ui->radioButton_playPrice->isChecked() && !ui->radioButton_endTime->isChecked()) {
        Refuse(QStringLiteral("播报价格时必须设置结束时间！"));
        return;
    }
    if (GetWeekdays() == 0) {
        Refuse(QStringLiteral("请至少选择一个执行日！"));
        return;
    }
    if (GetFrom().isValid() && GetUntil().isValid() && GetUntil() < GetFrom()) {
        Refuse(QStringLiteral("活动结束日期不能早于开始日期！"));
        return;
    }
    accept();
}

void EditTaskDialog::CancelTask()
{
    reject();
}

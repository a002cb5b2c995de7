#include "modes/SelectWaitTimeDialog.h"
#include "ui_SelectWaitTimeDialog.h"

#include <QValidator>

namespace {

constexpr int kMaxWait = 1000;

// The field's one rule, used both to accept keystrokes and to read the
// value: ASCII digits only (no sign, no group separators), at most 1000.
// Empty reads as 0.
bool ReadWaitNumber(const QString &text, int *value)
{
    if (text.size() > 4)
        return false;
    int number = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        number = number * 10 + (c.unicode() - '0');
    }
    if (number > kMaxWait)
        return false;
    *value = number;
    return true;
}

class WaitValueValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &) const override
    {
        int value = 0;
        if (!ReadWaitNumber(input, &value))
            return Invalid;
        return input.isEmpty() ? Intermediate : Acceptable;
    }
};

} // namespace

SelectWaitTimeDialog::SelectWaitTimeDialog(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::SelectWaitTimeDialog>())
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("设置延时时间"));
    // An empty field is Intermediate and OK still accepts it; WaitValue() reads it as 0.
    ui->lineEdit->setValidator(new WaitValueValidator(this));
    connect(ui->okButton, &QPushButton::clicked, this, &SelectWaitTimeDialog::SelectOK);
    connect(ui->cancelButton, &QPushButton::clicked, this, &SelectWaitTimeDialog::SelectCancel);
}

SelectWaitTimeDialog::~SelectWaitTimeDialog() = default;

int SelectWaitTimeDialog::WaitValue() const
{
    int value = 0;
    return ReadWaitNumber(ui->lineEdit->text(), &value) ? value : 0;
}

QString SelectWaitTimeDialog::WaitUnit() const
{
    return ui->comboBox->currentText();
}

void SelectWaitTimeDialog::SelectOK()
{
    accept();
}

void SelectWaitTimeDialog::SelectCancel()
{
    reject();
}

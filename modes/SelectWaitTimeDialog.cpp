#include "SelectWaitTimeDialog.h"
#include "ui_SelectWaitTimeDialog.h"

#include <QIntValidator>

namespace {

// QIntValidator only calls a value above top Intermediate while it has no
// more digits than top, so "1001" could still be typed and confirmed.
// Refuse anything above top outright.
class WaitValueValidator : public QIntValidator
{
public:
    using QIntValidator::QIntValidator;

    State validate(QString &input, int &pos) const override
    {
        const State state = QIntValidator::validate(input, pos);
        if (state == Intermediate) {
            bool ok = false;
            const int value = locale().toInt(input, &ok);
            if (ok && value > top())
                return Invalid;
        }
        return state;
    }
};

} // namespace

SelectWaitTimeDialog::SelectWaitTimeDialog(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::SelectWaitTimeDialog>())
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("设置延时时间"));
    // An empty field is Intermediate and OK still accepts it; WaitValue() reads it as 0.
    ui->lineEdit->setValidator(new WaitValueValidator(0, 1000, this));
    connect(ui->okButton, &QPushButton::clicked, this, &SelectWaitTimeDialog::SelectOK);
    connect(ui->cancelButton, &QPushButton::clicked, this, &SelectWaitTimeDialog::SelectCancel);
}

SelectWaitTimeDialog::~SelectWaitTimeDialog() = default;

int SelectWaitTimeDialog::WaitValue() const
{
    bool ok = false;
    const int value = ui->lineEdit->text().toInt(&ok, 10);
    return ok ? value : 0;
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

#include "GetEditString.h"
#include "ui_GetEditString.h"

GetEditString::GetEditString(QString text, QWidget *parent, Qt::WindowFlags flags)
    : QDialog(nullptr), ui(std::make_unique<Ui::DialogGetEditString>())
{
    Q_UNUSED(parent);
    Q_UNUSED(flags);
    ui->setupUi(this); // installs gridLayout as the dialog's layout
    // setText, not setPlainText: text that looks like rich text is shown formatted.
    ui->textEdit->setText(text);
    connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

GetEditString::~GetEditString() = default;

QString GetEditString::EditedText() const
{
    return ui->textEdit->toPlainText().trimmed();
}

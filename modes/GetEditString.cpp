#include "modes/GetEditString.h"
#include "ui_GetEditString.h"

#include "modes/ModeHelpers.h"

#include <QLabel>
#include <QTextDocument>

GetEditString::GetEditString(QString text, QWidget *parent, Qt::WindowFlags flags)
    : QDialog(nullptr), ui(std::make_unique<Ui::DialogGetEditString>())
{
    Q_UNUSED(parent);
    Q_UNUSED(flags);
    ui->setupUi(this); // installs gridLayout as the dialog's layout
    // Row texts are plain text: markup and entities are kept as typed.
    ui->textEdit->setAcceptRichText(false);
    m_original = LimitTextLength(text);
    ui->textEdit->setPlainText(m_original);
    m_shown = ui->textEdit->document()->toRawText();
    // The length limit, shown with the count so far.
    m_count = new QLabel(this);
    ui->hboxLayout->insertWidget(0, m_count, 1);
    connect(ui->textEdit, &QTextEdit::textChanged, this, &GetEditString::KeepWithinLimit);
    KeepWithinLimit();
    connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

GetEditString::~GetEditString() = default;

QString GetEditString::EditedText() const
{
    // Unchanged, the row keeps its exact characters (a carriage return or a
    // no-break space would not survive the editor's document).
    QString text = ui->textEdit->document()->toRawText();
    if (text == m_shown)
        return m_original.trimmed();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n')).replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text.trimmed();
}

void GetEditString::KeepWithinLimit()
{
    const QString text = ui->textEdit->toPlainText();
    if (text.size() > kMaxTextLength) {
        const QString cut = LimitTextLength(text);
        ui->textEdit->setPlainText(cut); // re-enters through textChanged
        ui->textEdit->moveCursor(QTextCursor::End);
        return;
    }
    m_count->setText(QStringLiteral("%1/%2字").arg(text.size()).arg(kMaxTextLength));
}

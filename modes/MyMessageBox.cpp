#include "MyMessageBox.h"
#include "ui_MyMessageBox.h"

MyMessageBox::MyMessageBox(QString title, QString text, QWidget *parent, Qt::WindowFlags flags)
    : QWidget(nullptr), ui(std::make_unique<Ui::MyMessageBoxClass>())
{
    Q_UNUSED(parent);
    Q_UNUSED(flags);
    ui->setupUi(this); // installs gridLayout as the widget's layout
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    ui->label->setText(text);
    setFixedSize(360, 250);
    connect(ui->pushButton, &QPushButton::clicked, this, &MyMessageBox::Done);
}

MyMessageBox::~MyMessageBox() = default;

void MyMessageBox::ShowNotice(const QString &title, const QString &text)
{
    // Deleted by WA_DeleteOnClose when the user closes it.
    (new MyMessageBox(title, text))->show();
}

void MyMessageBox::Done()
{
    close();
}

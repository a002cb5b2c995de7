#include "modes/MyMessageBox.h"
#include "ui_MyMessageBox.h"

#include "core/Notices.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QScreen>

MyMessageBox::MyMessageBox(QString title, QString text, QWidget *parent, Qt::WindowFlags flags)
    : QWidget(nullptr), ui(std::make_unique<Ui::MyMessageBoxClass>())
{
    Q_UNUSED(parent);
    Q_UNUSED(flags);
    ui->setupUi(this); // installs gridLayout as the widget's layout
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    ui->label->setText(text);
    // Taller when the text needs it, so no line is cut off.
    const QMargins margins = layout()->contentsMargins();
    const int textWidth = 360 - margins.left() - margins.right();
    const int needed = ui->label->heightForWidth(textWidth) + margins.top() + margins.bottom() + 60;
    setFixedSize(360, qMax(250, needed));
    connect(ui->pushButton, &QPushButton::clicked, this, &MyMessageBox::Done);
}

MyMessageBox::~MyMessageBox() = default;

void MyMessageBox::ShowNotice(const QString &title, const QString &text)
{
    // Deleted by WA_DeleteOnClose when the user closes it.
    auto *notice = new MyMessageBox(title, text);
    notice->CentreOnMainWindow();
    notice->show();
    notice->activateWindow();
}

void MyMessageBox::CentreOnMainWindow()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMainWindow *>(window) && window->isVisible()) {
            move(window->frameGeometry().center() - QPoint(width() / 2, height() / 2));
            return;
        }
    }
    // Before the main window shows (a notice from start-up): the screen's
    // centre, until the window re-centres it as it appears.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

void MyMessageBox::ShowRaisedNotices()
{
    Notices::SetHandler([](const QString &title, const QString &text) { ShowNotice(title, text); });
}

void MyMessageBox::CentreAllOnMainWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *notice = qobject_cast<MyMessageBox *>(widget))
            notice->CentreOnMainWindow();
}

void MyMessageBox::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        Done();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void MyMessageBox::Done()
{
    close();
}

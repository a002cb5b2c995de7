#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

// Answers every message box that comes up while it lives: "是"/OK, or
// "否"/Cancel while answerNo is set. Keeps the texts it saw.
class MessageAnswerer : public QObject
{
public:
    bool answerNo = false;
    QStringList seen;

    MessageAnswerer()
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen << box->text();
            QAbstractButton *no = box->button(QMessageBox::Cancel);
            if (answerNo && no)
                no->click();
            else if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->accept();
        });
        m_poll.start(5);
    }

private:
    QTimer m_poll;
};

#pragma once

#include "modes/MyMessageBox.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Answers the next modal dialog a call opens: once it is up, hands it to
// the answer (which fills it in and accepts or rejects it).
inline void AnswerNextDialog(std::function<void(QWidget *)> answer)
{
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [answer, poll] {
        if (QWidget *dialog = QApplication::activeModalWidget())
            answer(dialog);
        else
            QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(0, *poll);
}

// Closes the notices now shown (they free themselves); how many there were.
inline int CloseNotices()
{
    int closed = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *notice = qobject_cast<MyMessageBox *>(w); notice && notice->isVisible()) {
            notice->close();
            ++closed;
        }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return closed;
}

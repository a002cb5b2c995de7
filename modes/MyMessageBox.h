#pragma once

#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class MyMessageBoxClass;
}

// An application-modal notice with one 确定 button, shown without waiting.
// It owns itself: closing it (button, Enter, Esc or window close) deletes
// it, so callers keep no pointer.
class MyMessageBox : public QWidget
{
    Q_OBJECT

public:
    // parent and flags are accepted for call compatibility but ignored:
    // the notice is always its own top-level window.
    MyMessageBox(QString title, QString text, QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~MyMessageBox() override;

    // Creates and shows a self-deleting notice, centred on the main window.
    static void ShowNotice(const QString &title, const QString &text);
    void CentreOnMainWindow();
    // From now on, notices raised below the window floor are shown here
    // (those raised earlier at once).
    static void ShowRaisedNotices();
    // Every open notice, once the main window has its place.
    static void CentreAllOnMainWindow();

public slots:
    void Done();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::unique_ptr<Ui::MyMessageBoxClass> ui;
};

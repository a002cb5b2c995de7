#pragma once

#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class MyMessageBoxClass;
}

// An application-modal notice with one 确定 button. It owns itself:
// closing it (button or window close) deletes it, so callers keep no pointer.
class MyMessageBox : public QWidget
{
    Q_OBJECT

public:
    // parent and flags are accepted for call compatibility but ignored:
    // the notice is always its own top-level window.
    MyMessageBox(QString title, QString text, QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~MyMessageBox() override;

    // Creates and shows a self-deleting notice.
    static void ShowNotice(const QString &title, const QString &text);

public slots:
    void Done();

private:
    std::unique_ptr<Ui::MyMessageBoxClass> ui;
};

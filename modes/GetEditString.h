#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QLabel;

namespace Ui {
class DialogGetEditString;
}

// A top-level editor for one piece of plain text, at most kMaxTextLength
// characters: 保存 accepts, 放弃 or the
// window's close button rejects. Run it with exec() and read EditedText()
// when the result is Accepted.
class GetEditString : public QDialog
{
    Q_OBJECT

public:
    // parent and flags are accepted for call compatibility but ignored:
    // the editor is always its own top-level window.
    explicit GetEditString(QString text, QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~GetEditString() override;

    // The edited text as plain text, leading and trailing blanks removed.
    QString EditedText() const;

private slots:
    // Cuts the text to the modes' maximum length and shows the count.
    void KeepWithinLimit();

private:
    QLabel *m_count = nullptr;
    QString m_original; // the row's text as given
    QString m_shown;    // the same as the editor holds it
    std::unique_ptr<Ui::DialogGetEditString> ui;
};

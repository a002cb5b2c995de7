#include "modes/ModeHelpers.h"

#include "core/SettingsValues.h"

#include <QAction>
#include <QTimer>
#include <QListWidget>
#include <QShortcut>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>


namespace {

// The colour a button is to show, applied once control is back in the
// event loop: a mode that passes through another colour on its way
// (plain after a row, lit again for the next) changes nothing on screen.
class PendingColor : public QObject
{
public:
    explicit PendingColor(QWidget *button) : QObject(button), m_button(button) {}
    void Want(const QString &hex)
    {
        m_wanted = hex;
        if (m_shown.isEmpty()) { // the first colour shows at once
            Apply();
            return;
        }
        if (!m_scheduled) {
            m_scheduled = true;
            QTimer::singleShot(0, this, [this] { Apply(); });
        }
    }

private:
    void Apply()
    {
        m_scheduled = false;
        if (m_wanted == m_shown)
            return;
        m_shown = m_wanted;
        m_button->setStyleSheet(QStringLiteral("background-color:#") + m_shown);
    }

    QWidget *m_button;
    QString m_wanted, m_shown;
    bool m_scheduled = false;
};

} // namespace

// Each style-sheet change keeps memory of its own (drawn buttons cached
// per style), so the sheet changes only when the colour shown changes.
void SetButtonColor(QWidget *button, QString hex)
{
    auto *pending = button->findChild<PendingColor *>(QString(), Qt::FindDirectChildrenOnly);
    if (!pending)
        pending = new PendingColor(button); // owned by the button
    pending->Want(hex);
}

bool ConfirmWarning(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), text, QMessageBox::Ok | QMessageBox::Cancel);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("是"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("否"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void SelectOnlyRow(QListWidget *list, int row)
{
    list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

void AddContextMenu(QWidget *view, QObject *owner, const std::vector<MenuEntry> &entries)
{
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (const MenuEntry &entry : entries) {
        auto *action = new QAction(QIcon(QString::fromUtf8(entry.icon)), QString::fromUtf8(entry.text), owner);
        QObject::connect(action, &QAction::triggered, owner, entry.run);
        view->addAction(action);
    }
}

void AddWindowShortcut(QWidget *owner, const QKeySequence &keys, std::function<void()> run)
{
    auto *shortcut = new QShortcut(keys, owner, nullptr, nullptr, Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, owner, std::move(run));
}

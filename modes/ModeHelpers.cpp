#include "modes/ModeHelpers.h"

#include "core/SettingsValues.h"

#include <QAction>
#include <QListWidget>
#include <QShortcut>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

void SetButtonColor(QWidget *button, QString hex)
{
    button->setStyleSheet(QStringLiteral("background-color:#") + hex);
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

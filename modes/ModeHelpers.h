#pragma once

#include "shop/TextRules.h"

#include <QString>

#include <QKeySequence>

#include <functional>
#include <vector>

class QListWidget;
class QObject;
class QWidget;

// Button colours of the list modes: the button of the current state is lit.
inline const QString kColorLit = QStringLiteral("00FF00");
inline const QString kColorPlain = QStringLiteral("DFF7F3");

// Sets the button's background to "#" + six hex digits: the first colour
// at once, later ones when control returns to the event loop, and only
// when the colour then wanted differs from the one shown.
void SetButtonColor(QWidget *button, QString hex);
// A parentless warning with "是"/"否", "否" the default (Enter and Esc
// answer no); true only when "是" was chosen.
bool ConfirmWarning(const QString &text);
// Makes row the current row and the only selected one. A list with
// contiguous selection would otherwise add the row to the old selection.
void SelectOnlyRow(QListWidget *list, int row);

// One entry of a mode's context menu.
struct MenuEntry
{
    const char *text;
    const char *icon;
    std::function<void()> run;
};
// Gives view a context menu of these entries (the widget's actions), owned by owner.
void AddContextMenu(QWidget *view, QObject *owner, const std::vector<MenuEntry> &entries);
// A shortcut on owner active while owner is shown in the active window.
void AddWindowShortcut(QWidget *owner, const QKeySequence &keys, std::function<void()> run);

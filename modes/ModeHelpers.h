#pragma once

#include <QString>

class QWidget;

// Button colours of the list modes: the button of the current state is lit.
inline const QString kColorLit = QStringLiteral("00FF00");
inline const QString kColorPlain = QStringLiteral("DFF7F3");

// A row text starting with "延时" and ending with "秒" or "分" is a wait;
// *ms receives its length, clamped to what an int holds.
bool ParseWaitText(QString text, int *ms);
// Sets the button's background to "#" + six hex digits.
void SetButtonColor(QWidget *button, QString hex);
// A parentless warning with "是"/"否"; true only when "是" was chosen.
bool ConfirmWarning(const QString &text);

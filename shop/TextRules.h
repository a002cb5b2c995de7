#pragma once

#include <QString>

// The rules every road into the shop applies to a text: the tabs, the
// stored files and the remote interface count and cut the same way.
namespace TextRules {
// The longest text a row, a task or a remote announcement holds, in
// characters (an emoji is one): a few minutes of speech, far above any
// shop announcement, short enough that synthesis stays quick and small.
constexpr int kMaxTextLength = 2000;
// Characters, not UTF-16 units.
int CharacterCount(const QString &text);
// The text cut to kMaxTextLength characters.
QString LimitTextLength(const QString &text);
// A row text starting with "延时" and ending with "秒" or "分" is a wait;
// *ms receives its length, clamped to what an int holds.
bool ParseWaitText(QString text, int *ms);
}

using TextRules::kMaxTextLength;
using TextRules::LimitTextLength;
using TextRules::ParseWaitText;

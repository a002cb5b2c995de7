#pragma once

#include <QString>

// Rewrites a shop text the way an announcer reads it, before synthesis.
// Numbers are read by category, each recognised in its context and tried
// in a fixed order: telephone (digit by digit, groups apart), code
// (orders, pickups, cards, rooms, plates, parking bays; 1 as yāo, dashes
// as 杠), date, time, range and ratio (到, 比), shares (fractions,
// percentages, discounts, 元/斤 as 元每斤), then whole numbers and decimals
// (两 before a measure word, 二 in ordinals and digit strings). Signs
// between words become words or pauses. Words are read by a lexicon
// generated from maintained dictionaries (see tools/lexicon_table.cpp),
// divided into their likeliest words, with a small hand table over it; 一
// and 不 change tone as announcers say them; capital abbreviations are
// spelled in Mandarin, words a voice can say (COSTA) stay words.
namespace TextNormalizer {
QString Normalize(const QString &text);
// Only what the voices read: CJK characters and punctuation, Latin letters,
// digits, ASCII signs and the units and signs the normaliser knows. Every
// other character becomes a blank (some scripts crash the synthesizer);
// *dropped counts them.
QString KeepReadable(const QString &text, int *dropped);
// Only the numbers (for voices that are not Mandarin: the characters are
// read in their own language).
QString NormalizeNumbers(const QString &text);

// The operator's own readings: "word=reading" lines (reading in characters
// or pinyin with tone digits), kept in the data directory. They take
// precedence over the built-in table. Malformed lines are logged and
// skipped. Reloaded when the file changes. The line "1=yi1" makes codes
// and phone numbers read 1 as yī instead of yāo.
QString OperatorFilePath();
// The operator's file is a regular file of at most this size and lines.
constexpr qint64 kOperatorFileMaxBytes = 1024 * 1024;
constexpr int kOperatorFileMaxLines = 5000;
void UseOperatorFile(const QString &path); // tests; empty restores the default

// Whole-number reading: 105 → 一百零五, 20000 → 两万 (when leadingTwo).
QString ReadInteger(qint64 n, bool leadingTwo = true);
}

#pragma once

#include <QString>
#include <QStringView>

// Words read by the built-in table: a lexicon generated from maintained
// dictionaries (speech/Lexicon.inc, made by tools/lexicon_table.cpp) with a
// small hand table over it. A run of CJK characters is divided into its
// likeliest words; each word the voice would misread becomes its pinyin
// with tone digits, set off by blanks (" huan2shu1 ").
namespace WordReadings {
QString ReadRun(QStringView run);
// The size of the table's text in the program (bytes).
qsizetype TableBytes();
}

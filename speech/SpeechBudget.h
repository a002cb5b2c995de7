#pragma once

#include <QString>

// How long the synthesis will speak a text, estimated on what is really
// read: the normaliser's output (numbers, units and signs become their
// words, abbreviations their letters), one syllable per character or
// pinyin syllable, pauses at punctuation, at the speed set. Meant for
// budgets: within a factor of two of the engine's own length.
namespace SpeechBudget {

double Seconds(const QString &text);
// The same, rounded up to whole seconds (at least 1).
int WholeSeconds(const QString &text);

}

#pragma once

#include <QString>

// Synthesized speech, one WAV per text, named by the MD5 of the text.
namespace SpeechCache {
constexpr int kTrimAbove = 1005;
constexpr int kTrimCount = 5;

// The cache file of a text: lower-case hex MD5 of its 8-bit form + ".wav".
QString PathFor(const QString &text);
// Deletes the kTrimCount oldest files when the folder holds more than kTrimAbove.
void Trim(const QString &dir);
}

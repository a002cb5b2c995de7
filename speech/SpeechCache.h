#pragma once

#include <QString>

// Synthesized speech, one WAV per text and way of saying it, named by an
// MD5 of the text, its reading, the voice, the speed and the volume.
namespace SpeechCache {
constexpr int kTrimAbove = 1005;
constexpr int kTrimCount = 5;

// The cache file of a text as the current voice, speed and volume say it.
QString PathFor(const QString &text);
QString PathFor(const QString &text, const QString &voice, int speed, int volume);
// Deletes the kTrimCount oldest files when the folder holds more than kTrimAbove.
void Trim(const QString &dir);
}

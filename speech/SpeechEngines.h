#pragma once

#include <QString>

#include <atomic>

namespace SpeechEngines {
enum class Engine { None, Local, Cloud };

struct Choice
{
    Engine engine = Engine::None;
    QString voice; // the part after the first "_": voice name or number
};

// "xf_<name>" → local engine, "tx_<number>" → cloud engine, else none.
Choice Choose(const QString &voiceId);

// Synthesizes a text to the WAV path with the engine of the current voice.
bool SynthesizeToFile(const QString &text, const QString &path, const std::atomic<bool> *abort = nullptr);
}

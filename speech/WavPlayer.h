#pragma once

#include <QString>

#include <atomic>
#include <functional>

namespace WavPlayer {
constexpr int kTailMs = 800;

// Waits ms milliseconds in 1 ms steps, calling onTick at each step.
// Returns false as soon as abort is seen, true when the time ran out.
bool WaitUnlessInterrupted(qint64 ms, const std::atomic<bool> *abort = nullptr,
                           const std::function<void()> &onTick = {});

// Silences the speech channel at once, without waiting for the player's
// thread to see its abort flag; that thread still does.
void HaltNow();

// Plays a WAV on the speech channel and returns after its length plus
// 800 ms, or at once when abort is seen,
// halting the sound. False only when the file cannot be opened. A header
// with byte rate 0 or a file shorter than a header plays nothing. The file
// is streamed, so its length does not matter.
// tailMs is the quiet waited after the sound (800 ms for speech).
// onAudibleEnd, when given, is called once as the last audible sample is
// played (the file's trailing quiet and the tail still to come), or at the
// end when the sound is cut before it.
bool PlayWav(const QString &path, const std::atomic<bool> *abort = nullptr, qint64 tailMs = kTailMs,
             const std::function<void()> &onAudibleEnd = {});
}

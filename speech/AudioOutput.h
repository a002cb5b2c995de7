#pragma once

#include <QByteArray>

#include <functional>

// The one sound device of the process, shared by speech and music.
namespace AudioOutput {
// The mixer channel kept for speech; music uses the mixer's music stream.
constexpr int kSpeechChannel = 0;

// Opens the device unless it is open. Every open tries the real device
// first (SDL's choice, or SDL_AUDIODRIVER); when that fails it falls back
// to SDL's "dummy" driver with a warning, so that announcements keep their
// timing, and the next open tries the real device again. False only if
// even the dummy driver fails.
bool Open();
// Closes the device when nothing plays and no music is loaded: an open
// device costs CPU all day (SDL's mixer wakes some 40 times a second). The
// next Open() reopens it.
void CloseIfIdle();
// Runs a mixer operation with the device open, under the device's one
// lock, so that it never interleaves with CloseIfIdle() on another thread.
// False (and op is not run) when no device opens.
bool WithDevice(const std::function<void()> &op);
// While music is loaded the device stays open.
void SetMusicLoaded(bool loaded);
// Stops the speech channel at once (from any thread); nothing when closed.
void HaltSpeech();
// Closes the device whatever plays (before the program starts anew).
void Shutdown();
bool IsOpen();
// The driver the open device runs on ("alsa", "pulseaudio", "dummy", ...);
// empty while closed.
QByteArray DriverName();
}

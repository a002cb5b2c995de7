#pragma once

// The one sound device of the process, shared by speech and music.
namespace AudioOutput {
// The mixer channel kept for speech; music uses the mixer's music stream.
constexpr int kSpeechChannel = 0;

// Opens the device unless it is open. When no device opens, falls back to
// SDL's "dummy" driver with a warning, so that announcements keep their
// timing. False only if even that fails.
bool Open();
// Closes the device when nothing plays: an open device costs CPU all day
// (SDL's mixer wakes some 40 times a second). The next Open() reopens it.
void CloseIfIdle();
bool IsOpen();
// Changes whenever the device is reopened with another sample format, so
// that audio converted for the old one is not played on the new one.
int FormatGeneration();
}

#pragma once

// The one sound device of the process, shared by speech and music.
namespace AudioOutput {
// The mixer channel kept for speech; music uses the mixer's music stream.
constexpr int kSpeechChannel = 0;

// Opens the device once (later calls return at once). When no device
// opens, falls back to SDL's "dummy" driver with a warning, so that
// announcements keep their timing. False only if even that fails.
bool Open();
// Name of the SDL audio driver in use, empty before Open().
const char *DriverName();
}

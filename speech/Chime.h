#pragma once

#include <QString>

#include <atomic>

// The optional sound before an announcement: none, a built-in two-tone
// chime (generated here, no sound file of anyone else's), or a file the
// operator picked. Played by the speech worker before a spoken text that
// follows at least kQuietMs of quiet.
namespace Chime {
constexpr qint64 kQuietMs = 5000;
// The setting's value for the built-in chime; "" is none, anything else a file.
inline const QString kBuiltIn = QStringLiteral("builtin");

// The built-in chime as a WAV in the speech cache's format (written once).
QString BuiltInPath();
// Writes the built-in chime; false when it cannot be written.
bool WriteBuiltIn(const QString &path);
// Plays the chime the setting names, to its end or until the interrupt
// flag (or abort) is seen. False when there is none or it cannot be played.
bool Play(const QString &setting, const std::atomic<bool> *abort = nullptr);
}

#pragma once

#include <QList>
#include <QString>

#include <atomic>
#include <functional>

// The cloud engine: a separate program per text, started in a private
// working folder under the speech cache with the text in its "tmp.txt" and
// the arguments
// <cache path> <voice number> <speed value> <volume>; it writes a WAV to the
// cache path, which is watched until its size stays put.
namespace CloudEngine {
constexpr int kWatchChecks = 60;
constexpr int kWatchIntervalMs = 200;

// speed × 0.2 − 0.9999 with six significant digits: 0 → "-0.9999", 5 → "0.0001".
QString SpeedValue(int speed);
// The companion program beside the running executable.
QString ProgramPath();
QStringList Arguments(const QString &wavPath, const QString &voiceNumber, int speed, int volume);
// Watches the file every kWatchIntervalMs until its header says it is
// complete, the program (when programRunning is given) has ended, or, for
// a writer that is not watched, four readings in a row show the same
// non-zero size; at most kWatchChecks readings, or until abort is set.
void WaitUntilStable(const QString &path, const std::atomic<bool> *abort,
                     const std::function<bool()> &programRunning = {});
// The pattern of the per-request working folders (QTemporaryDir).
QString WorkFolderTemplate();
// Writes tmp.txt in a new working folder, starts the program there and
// watches the file; returns when the file is stable, after about 12
// seconds, or when abort is set. False (and no program started) when the
// text cannot be handed over; otherwise whether a file was written.
bool Synthesize(const QString &text, const QString &voiceNumber, const QString &wavPath,
                const std::atomic<bool> *abort = nullptr);
// Ids of the programs this process started that still run as our
// tcloud_tts; ids of ended programs are forgotten.
QList<qint64> StartedProcesses();
// Ends the programs of StartedProcesses() (before the cache is cleaned).
// Never signals an id that is not our running tcloud_tts.
int EndStartedProcesses();
void ForgetProcesses();
}

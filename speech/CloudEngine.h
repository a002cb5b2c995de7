#pragma once

#include <QList>
#include <QString>

#include <atomic>

// The cloud engine: a separate program per text, started with the text in
// "tmp.txt" in the current directory and the arguments
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
// Writes tmp.txt, starts the program and watches the file; returns when
// the file is stable, after about 12 seconds, or when abort is set.
// Watches the file every kWatchIntervalMs until four readings in a row show
// the same non-zero size (the program finished writing), at most
// kWatchChecks readings, or until abort is set.
void WaitUntilStable(const QString &path, const std::atomic<bool> *abort);
void Synthesize(const QString &text, const QString &voiceNumber, const QString &wavPath,
                const std::atomic<bool> *abort = nullptr);
// Ids of the programs this process started, for ending them before the
// cache is cleaned.
QList<qint64> StartedProcesses();
void ForgetProcesses();
}

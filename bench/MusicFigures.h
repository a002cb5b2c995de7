#pragma once

#include <QString>

// Figures of the background music and the settings file.
namespace MusicFigures {
// Process CPU while a track plays and nothing else happens, in percent of one core.
double MusicIdleCpuPercent(const QString &workDir);
// From MusicSmaller's volume change to the music falling in the captured
// output (SDL's disk driver); the fall itself then takes 300 ms.
double DuckLatencyMs(const QString &workDir);
// Writing settings.xml with a 100-track play list.
double SettingsSaveMs(const QString &workDir);
}

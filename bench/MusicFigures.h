#pragma once

#include <QString>

#include <cmath>

// Figures of the background music and the settings file.
namespace MusicFigures {
// Process CPU while a track plays and nothing else happens, in percent of one core.
double MusicIdleCpuPercent(const QString &workDir);
// With music playing and turned down while speech is heard, a silent text
// through the announcer, the music captured on SDL's disk driver: from the
// sound's start to the music starting to fall (the fall then takes
// 300 ms), and from the sound's end to the music back at its level.
struct Duck
{
    double duckLatencyMs = NAN;
    double restoreAfterQuietMs = NAN;
};
Duck DuckTimes(const QString &workDir);
// Writing settings.xml with a 100-track play list.
double SettingsSaveMs(const QString &workDir);
}

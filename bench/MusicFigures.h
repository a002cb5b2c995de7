#pragma once

#include <QString>

#include <cmath>

// Figures of the background music and the settings file.
namespace MusicFigures {
// Process CPU while a track plays and nothing else happens, in percent of one core.
double MusicIdleCpuPercent(const QString &workDir);
// With music playing and turned down while speech is heard, a spoken text
// (with the synthesizer's trailing quiet) through the announcer, the music
// captured on SDL's disk driver: from the sound's start to the music
// starting to fall (the fall then takes 300 ms), from the sound's end as
// the worker reports it, and from the text's last audible sample, to the
// music back at its level.
struct Duck
{
    double duckLatencyMs = NAN;
    double restoreAfterQuietMs = NAN;
    double musicBackAfterQuietMs = NAN;
};
Duck DuckTimes(const QString &workDir);
// Writing settings.xml with a 100-track play list.
double SettingsSaveMs(const QString &workDir);
}

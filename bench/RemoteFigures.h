#pragma once

#include <QString>

// Figures of the remote control interface; they need a QApplication.
namespace RemoteFigures {
struct Remote
{
    double sayP99Ms = -1;    // POST /api/say → 202 (queued), 99th percentile
    double sayP99UnderSlowlorisMs = -1; // the same while 64 slow tokenless connections from 8 addresses are held
    double sayToSoundMs = -1; // POST of a new text → its first sound, median
    double idleCpuPercent = -1; // interface on, no traffic
    double listsPut10kMs = -1;  // PUT of 10,000 price rows → 200 (checked, shown, saved)
    double listsPutTimer30kMs = -1; // PUT of 30,000 tasks over 30,000 → 200
    double phonePageKb = -1;    // the phone page and its files
};
Remote Measure();

struct Headless
{
    double startupMs = -1; // process start to the interface answering
    double rssMb = -1;     // resident memory after start and 2 s idle
};
// Runs a copy of the program (parlivo --headless) in workDir, with the
// remote interface on in a settings.xml beside it.
Headless HeadlessFigures(const QString &program, const QString &workDir);
}

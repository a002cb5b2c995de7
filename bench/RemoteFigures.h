#pragma once

// Figures of the remote control interface; they need a QApplication.
namespace RemoteFigures {
struct Remote
{
    double sayP99Ms = -1;    // POST /api/say → 202 (queued), 99th percentile
    double sayP99UnderSlowlorisMs = -1; // the same while 64 slow tokenless connections from 8 addresses are held
    double sayToSoundMs = -1; // POST of a new text → its first sound, median
    double idleCpuPercent = -1; // interface on, no traffic
    double listsPut10kMs = -1;  // PUT of 10,000 price rows → 200 (checked, shown, saved)
    double phonePageKb = -1;    // the phone page and its files
};
Remote Measure();
}

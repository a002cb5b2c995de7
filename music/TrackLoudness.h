#pragma once

#include <QString>

#include <optional>

// Loudness of music tracks, so that tracks of very different loudness
// play alike: measured once per track with FFmpeg's ebur128 filter (in the
// background) and kept in the cache folder by path, size and modification
// time. The gain brings a track to kTargetLufs, within kMinGainDb..kMaxGainDb.
namespace TrackLoudness {
constexpr double kTargetLufs = -18.0;
constexpr double kMinGainDb = -15.0;
constexpr double kMaxGainDb = 6.0;

// The gain for a track measured before; nothing when it is not known yet.
std::optional<double> GainDb(const QString &path);
// Measures a track in the background unless it is known or being measured.
void MeasureLater(const QString &path);
// Measures a track now (waits for FFmpeg); false when it cannot be measured.
bool MeasureNow(const QString &path);
// The music volume (0–100) with a gain in decibels on top, within 0–100.
int Apply(int volume, double gainDb);
}

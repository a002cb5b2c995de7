#pragma once

#include <QString>

namespace AppPaths {
// The per-user data location; the data directory is this + "/Parlivo".
QString DataLocation();
// DataLocation() + "/Parlivo": the mode files and their backups.
QString DataDir();
// Creates the data location and the data directory when they are missing.
void EnsureDataDir();
// The per-user cache location + "/Parlivo/", created owner-only on demand.
QString SpeechCacheDir();
// Creates the speech cache directory (owner-only). False when it cannot be made.
bool EnsureSpeechCacheDir();
}

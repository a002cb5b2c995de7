#include "SettingsValues.h"

SettingsValues g_settings;
std::atomic<bool> g_speechInterrupt{false};
bool g_restorePending = false;

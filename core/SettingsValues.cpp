#include "core/SettingsValues.h"

SettingsValues g_settings;
bool g_restorePending = false;

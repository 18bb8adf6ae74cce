// What kvroster keeps for the whole run beside the screen: its settings,
// whether they changed since the last save, and the browse layout in use.
#pragma once

#include "roster/settings.h"

namespace kv::roster {

struct Session {
    RosterSettings settings;
    bool settingsChanged = false;
    int layout = 0;  // browse layout in use, 0-4
};
Session& State();

// DataDir/kvconfig.kvr.
std::string SettingsPath();
// Loads the settings at start: the defaults (and settingsChanged) when the
// file is missing or short; else the file's, with its default layout in use.
void LoadRosterSettings();
bool SaveRosterSettings();
// The defaults, marked changed; the layout in use stays as it is.
void DefaultRosterSettings();

}  // namespace kv::roster

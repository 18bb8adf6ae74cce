#include "roster/session.h"

#include "common/runtime.h"

namespace kv::roster {

Session& State() {
    static Session s;
    return s;
}

std::string SettingsPath() { return Config().DataDir + "/" + kSettingsFile; }

void DefaultRosterSettings() {
    State().settings = DefaultSettings();
    State().settingsChanged = true;
}

void LoadRosterSettings() {
    bool fromDefaults = true;
    RosterSettings s = ReadSettingsFile(SettingsPath(), fromDefaults);
    if (fromDefaults) {
        DefaultRosterSettings();
        return;
    }
    State().settings = s;
    State().layout = s.DefaultLayout;
}

bool SaveRosterSettings() { return WriteSettingsFile(SettingsPath(), State().settings); }

}  // namespace kv::roster

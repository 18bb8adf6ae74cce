// The setup menu: kvroster's own settings, edited on screen and saved to
// "kvconfig.kvr" when the sysop agrees.
#pragma once

namespace kv::roster {

// The main-menu entry " Setup "; returns 0.
int RosterSetup();

}  // namespace kv::roster

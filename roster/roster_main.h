// kvroster, the sysop's full-screen editor of the user database.
#pragma once

#include <string>
#include <vector>

namespace kv::roster {

// The options: "-v" prints the version banner (printVersion); every other
// leading "-..." argument is dropped.  Options are only looked at while
// more than one argument remains, as the program always has read them.
struct RosterOptions {
    bool printVersion = false;
};
RosterOptions ParseRosterOptions(std::vector<std::string> args);

// Reads "kvconfig.bbs" from the working directory, else the file KIVOCNF
// names, and installs it; false unless a whole record was read.
bool LoadRosterConfig();

// The program; argv as main got it.  Exit status 0, or 1 when the
// configuration cannot be loaded, the terminal is too small or was lost.
int RosterMain(int argc, char** argv);

}  // namespace kv::roster

// The watchdog message: when somebody has typed a wrong password for an
// account as often as the board allows, its owner gets a private message
// from the sysop in the watchdog area, the sysop's words of "watchdog.msg"
// (in TextDir) followed by the passwords that were tried, each on a line of
// its own.  Failures go to the activity log only; the log-in goes on.
#pragma once

#include <string>

namespace kv::caller {

// Posts the message to the current user record's owner.  triedList: a
// file of the passwords tried, one a line, which stays the caller's to
// remove; empty for none.
void PostWatchdogMessage(const std::string& triedList);

// A temporary text of path's lines, then text 710 and the passwords of
// list: path becomes its name (the caller removes it).  Unchanged when it
// cannot be made.
void BuildWatchdogText(std::string& path, const std::string& list);

// Stores the text file as a private message from the sysop to the current
// user in area (0-99).
void PostWatchdogFile(const std::string& path, int area);

}  // namespace kv::caller

// The log-in of a caller, the system's last-caller file and the bulletins.
#pragma once

#include <string>

#include "caller/term/last_call.h"

namespace kv::caller {

// "lastcall.bbs" of this line.
std::string LastCallPath();

// Names, password or registration, and every check that may still refuse
// the call.  1 when the caller is in, -1 when the call is refused.  For
// the whole dialogue the call's own inactivity limit is 120 seconds.
int Login();

// False when the caller has used up today's calls; a call on a new day
// first zeroes today's calls, minutes and kilobytes.
bool CheckDailyCalls();

// Counts this call into "lastcall.bbs" and keeps the record as it was in
// CallState's PreviousCall; 1 on success, 0 when the file cannot be read or
// written.  A missing or empty file means there was no last caller.
int UpdateLastCall();

// Menu command 6: the display file name, then the bulletins name+answer
// the caller asks for, until an empty answer.
void ShowBulletins(const std::string& name);

}  // namespace kv::caller

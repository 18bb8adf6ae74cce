// The caller's user record during a call.
//
// The record of the caller (CallState's User) is read at log-in or made by
// registration, changed in memory by the commands and written back at
// log-off.  Its number in "users.bbs" is CallState's CurrentUserNumber (-1
// while there is none).  The file itself is reached only through
// common/users.h.  What goes with the record for the length of a call
// lives here, beside it, where every floor of the caller program reads it.
#pragma once

#include <string>

#include "common/lastread.h"
#include "common/user_record.h"

namespace kv::caller {

// The caller's last-read numbers, read at log-in, written at log-off.
LastReadRecord& CallerLastRead();

// The password as last typed correctly in this call (a changed password
// must differ from it).
std::string& CurrentPassword();

// Records in "users.bbs" as last counted.
int UserCount();

// A fresh record and no user number; the start of every call.
void ClearUserRecord();
// Counts the records of "users.bbs" again.
void UpdateUserCount();

// The caller's own clear-screen bytes from the record (empty: none).
std::string CallerClearCodes();

}  // namespace kv::caller

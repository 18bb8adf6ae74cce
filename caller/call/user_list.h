// Menu command 13: the users of "users.bbs" whose names match a pattern
// the caller types, one line each:
//   columns 0-24 name, 25-44 location, 46-51 level, 52-59 calls,
//   60-67 last-call date, 70-77 last-call time.
// A pattern with "*" or "?" is a wildcard pattern; any other pattern finds
// the names that contain it as typed or with its words capitalised; an
// empty one lists everybody.  Record 0, the sysop, is listed only with
// ShowSysop.  "S" stops the list, "P" pauses it; with the caller's page
// pause the list stops every screen length less 3 lines.
#pragma once

#include <string>

#include "common/user_record.h"

namespace kv::caller {

constexpr size_t kUserLineWidth = 79;

void ListUsers();
// 1 when "users.bbs" could be read, 0 when not.
int ListMatchingUsers(const std::string& pattern);
void ShowUserListHeader();
// The line of a user, kUserLineWidth characters; every field is cut to
// its column.
std::string FormatUserLine(const UserRecord& record);

}  // namespace kv::caller

// The main-menu commands that change the set or the order of the user
// records, and the global edit.  Each returns 0.
#pragma once

namespace kv::roster {

int DeleteUsers();
int PackUsers();
int SortUsers();
int AddBlankRecord();
int MoveUser();
int GlobalEdit();

}  // namespace kv::roster

// The find and mark commands on screen.
#pragma once

namespace kv::roster {

// 1 when a record was found (it is then the current entry).
int FindRecord(bool fromBrowse);
int FindFromMenu();
// Fills the search criteria through its dialogs.
void EnterSearchCriteria();
// Forgets the criteria (after a rewrite of the user files).
void ClearSearchCriteria();
// Main-menu " Marked "; 0.
int MarkRecords();

}  // namespace kv::roster

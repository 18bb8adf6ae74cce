// The list window: the current-record line, the page of twelve rows in the
// layout in use, the browse list's keys and the main-menu commands that
// move through the records.
#pragma once

#include "common/user_record.h"
#include "roster/user_base.h"

namespace kv::roster {

struct BrowseState {
    UserBase base;
    UserRecord current;   // the record of the entry being worked on
    int currentPos = 0;   // index position of the current entry
    int top = 0;          // index position on the first list row
};
BrowseState& Browser();

inline constexpr int kPageRows = 12;

// Reads entry pos into the current record and shows its line and the page
// from pos.  1.
int ShowRecord(int pos);
void ShowCurrentLine(int pos);
void ShowListPage(int top);
void ShowColumnHeader(int layout);
// The next browse layout (4 is followed by 0); header and page redrawn.
int NextLayout();

// The main-menu entries of this screen; each returns 0.
int BrowseList();
int NextPage();
int PreviousPage();
int TopRecord();
int BottomRecord();
int ResetLimits();

}  // namespace kv::roster

// The record form with its sub-screens (attributes, flag sets, the scan
// selection and the last-read numbers) and the extended record screen.
// Changes are made in the current record and written back only when the
// sysop agrees.
#pragma once

#include <string>

#include "roster/curses_wide.h"

namespace kv::roster {

// mode 2 from the main menu's " Edit ", 0 from the browse list; returns 0.
int EditRecordForm(int mode);
// mode 0 from the browse list, 2 from the main menu's " Comment " and from
// the form (fromForm: the form decides about saving).  1 when a field was
// edited.
int EditExtendedRecord(int mode, bool fromForm = false);
// combined: the current record's scan selection; else the current entry's
// last-read record, saved by itself.  1 when something was edited.
int EditLastRead(WINDOW* caller, bool combined);
int EditAttributes(WINDOW* w);
int EditFlagSets(WINDOW* w, const std::string& statusText);

// The main-menu entries.
int EditRecordFromMenu();
int CommentFromMenu();
int LastReadFromMenu();

}  // namespace kv::roster

// The main menu bar of kvroster and the screen behind it.
#pragma once

namespace kv::roster {

// The whole session on the user files: opens them, runs the main menu and
// closes them; the refusal popup when "users.bbs" cannot be opened.
void RunUserEditor();
// Whether "users.bbs" can be opened for writing; "lastread.bbs" is made
// empty when it is missing.
bool OpenUserFiles();
// The main menu: 4 rows of 6 entries on row 0 of the status window.
int RunMainMenu();
// Draws the list window's current line, page and column header and the
// menu's help line again (after a screen that covered them).
void RedrawMainScreen();

}  // namespace kv::roster

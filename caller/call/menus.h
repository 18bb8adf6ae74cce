// The menu loop: the whole of a call after log-in.
//
// Menus are the sysop's files in MenuDir (common/menu_record.h).  The loop
// starts at "top.mnu", draws the current menu, reads the caller's choice and
// either hands the chosen line to DoMenuCommand or moves to another menu.
// Menus are kept on a stack of 24 entries, so that a called menu can return
// to the one that called it.  The loop ends at log-off (code 9), when the
// call time is used up, or when not even "top.mnu" can be loaded.
//
// For the loaded menu the loop keeps, per line, a key and a working code:
//   key   the line's HotKey, 0 for a text line or an AutoRun line, and
//         kHiddenLine for a line this caller may not use;
//   code  the line's Command, negated for an AutoRun line, kHiddenLine for a
//         line the caller may not use.
// Line i of these (from 0) is record i + 1 of the file.
//
// Text codes in a line's or the prompt's Text:
//   ^   switches between the line's colours and the prompt record's
//       alternate pair (in the prompt: its main and alternate pair); dropped
//       without colour
//   ~   the caller's minutes left
//   @   the name of the caller's current file area
//   `   the name of the caller's current message area
//   ;   (menu lines only) not printed; the line ends without a line end, so
//       the next line goes on on the same row.  A line whose text starts
//       with ";" is not drawn at all.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "caller/term/prompts.h"
#include "common/menu_record.h"

namespace kv::caller {

constexpr int kMenuStackSize = 24;
constexpr size_t kMenuEntryWidth = 15;                       // name, ".mnu" and a NUL
constexpr size_t kMenuNameMax = kMenuEntryWidth - 1 - 4;     // 10 characters before ".mnu"
constexpr char kTopMenu[] = "top.mnu";

// Entries are menu file names with their ".mnu"; the current menu is the
// entry at Depth (0-23).
struct MenuStack {
    std::array<std::string, kMenuStackSize> Entries;
    int Depth = 0;
    const std::string& Current() const { return Entries[size_t(Depth)]; }
};

// The call's menu loop; returns the record count "top.mnu" had at the start.
int MenuLoop();

// Reads up to 50 records of the menu file name in MenuDir into records;
// the count read, 0 when the file is missing, unreadable or empty.
int LoadMenu(const std::string& name, std::vector<MenuRecord>& records);

// Keys and working codes of the n lines (records 1..n of a menu).
void MenuLineKeys(int n, std::string& keys, std::vector<int16_t>& codes, std::span<const MenuRecord> lines);
// Marks the lines this caller may not use (level and flags A-D) with
// kHiddenLine in key and code.  The sysop (level 64000 and above) sees every
// line when started with -f and either on the console or with
// RemoteSysopMenus set.
void FilterMenuLines(std::string& keys, std::vector<int16_t>& codes, int n, std::span<const MenuRecord> lines);

// Menu codes 1-4: the area switch of the argument ("name /F=n", "name /M+")
// and the move on the stack.
void ChangeMenu(MenuStack& stack, const MenuRecord& line, int code);
// The menu name of an argument as the stack keeps it: cut at "/", without
// trailing blanks, at most kMenuNameMax characters, with ".mnu".
std::string MenuFileName(std::string_view argument);

// Draws the menu (records: the prompt and its n lines) and runs its AutoRun
// lines.  The line chosen while drawing (a hot key, or an AutoRun menu
// change or log-off), else kNoChoice.
int RunFullScreenMenu(std::string& keys, std::vector<int16_t>& codes, int n, const std::vector<MenuRecord>& records);
// The prompt, then the caller's choice: with hot keys one key, else keys
// ended by Enter.  The line chosen, or kNoChoice.
int ReadMenuKey(bool hotKeys, int n, std::string_view keys, const MenuRecord& prompt);
// The prompt record's text with its codes, in the prompt's colours.
void PrintMenuText(const MenuRecord& prompt);

// The caller's minutes left, the name of a file area and of a message area;
// each returns the characters printed.
int ShowMinutesLeft();
int ShowFileAreaName(int area);
int ShowMessageAreaName(int area);

// Moves the caller's current area: "+" the next usable one after it, "-"
// the one before it, a number n the first usable one from area n on.
void SelectFileArea(std::string_view value);
void SelectMessageArea(std::string_view value);

}  // namespace kv::caller

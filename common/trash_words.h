// The word lists of forbidden names, aliases and passwords in DataDir:
// "trashcan.ctl", "alitrash.ctl" and "pwdtrash.ctl".
//
// One word a line; lines beginning "#" are comments.  Only the line end is
// taken off a line, so the last line of a file keeps its last letter when
// no line feed follows it, and a long word is compared whole.  A missing
// list forbids nothing.
#pragma once

#include <string_view>

namespace kv {

enum TrashList { kTrashNames = 1, kTrashAliases = 2, kTrashPasswords = 3 };

// The list file of a kind: 1 names, 2 aliases, any other passwords.
const char* TrashListFile(int kind);

// Whether word is listed: a line equals the word's first part (up to its
// first blank), or a non-empty second part (after it), or, capitalised
// like a name, the whole word.  So the line "Sysop" refuses "Sysop Jones".
bool IsTrashWord(int kind, std::string_view word);

}  // namespace kv

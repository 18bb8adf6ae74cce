// The searches over every file area the caller may list: by keyword
// (menu command 35), by file-name pattern (36), and the files newer than a
// date (37).  Each matching entry is shown as the described list shows it,
// under a heading that names its area.
#pragma once

#include <string>

#include "caller/term/listing_pager.h"

namespace kv::caller {

enum FileSearchMode { kSearchKeyword = 0, kSearchPattern = 1, kSearchDate = 2 };

// mode kSearchKeyword or kSearchPattern.
void SearchFiles(int mode);
// The argument of the menu line is not used.
void ShowNewFiles(const std::string& argument);

// Shows the entries of area (0-49) that match text (a keyword, a pattern or
// a date text, by mode), counting lines and pausing through pager, which
// the areas share.  true when the caller stopped the output.
bool SearchArea(int area, ListingPager& pager, int mode, const std::string& text);

// Asks for a keyword (mode 0) or a pattern (mode 1) of up to 16
// characters; true when something was typed.
bool AskSearchText(std::string& text, int mode);

}  // namespace kv::caller

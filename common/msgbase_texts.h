// Numbered texts that the message-base code logs.
//
// The library has no texts of its own: it takes text n from the program's
// table (LookupText).  A program without a table, or with an empty entry,
// still gets a readable line from the English words below.
#pragma once

#include <string>

#include "common/runtime.h"
#include "common/textfmt.h"

namespace kv {

// Text n of the program's table, or its English words when the table has
// none.
std::string LibraryText(int n);

// Logs text n formatted with the values (through the checked formatter:
// a sysop's text with wrong codes shows its plain words).
template <class... Args>
void ReportText(int n, const Args&... args) {
    LogService(FormatChecked(LibraryText(n), args...));
}

}  // namespace kv

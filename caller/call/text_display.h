// The text display commands: a plain text file typed out (code 38) and a
// display file shown with or without a wait for Enter (codes 39, 45, 46,
// and the bulletins at log-in).
#pragma once

#include <string>

namespace kv::caller {

// Types a text file.  The argument is a path, or "/F" (the current file
// area) or "$F" and an area number, each followed by a file name in that
// area's directory; "/N" anywhere makes the typing non-stop.  When the
// argument names a directory the caller is asked for a file name in it,
// which must be a single name.
void TypeTextFile(const std::string& argument);

// Shows a display file (inTextDir: a name in TextDir, else a path) and,
// with wait, waits for Enter after it.  A missing file gives text 99.
void ShowFileAndWait(const std::string& name, bool wait, bool inTextDir);

}  // namespace kv::caller

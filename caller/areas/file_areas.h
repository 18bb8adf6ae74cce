// File areas: who may use one, which directory a menu argument names, and
// the pieces every file command shares.
//
// A file area is a directory the configuration describes (areas 0-49 inside
// the program, typed from 1).  Menu lines name the directory of a file
// command in one of three ways, and every file command reads them through
// FileAreaArgument:
//
//   "/F"      (any case) the caller's current file area;
//   "$F" n    (any case) area n, after the range, in-use and access tests
//             of ResolveFileArea;
//   other     a directory path, used as it stands.
//
// The caller's file names are single path components: FileNameIsSafe says
// whether a typed name may be joined to an area directory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv::caller {

// Modes of CanUseFileArea.
enum FileAreaUse { kFileList = 0, kFileDownload = 1 };

// 1 when the caller may use area (0-49): kFileList to list and enter it,
// kFileDownload to download as well; else 0.  An open area is granted
// whatever the caller's level and flags.
int CanUseFileArea(int area, int mode);

// The area number after the first two characters of argument ("$F12"):
// the area (0-based) with its directory in directory, or -1 with directory
// empty after telling the caller why (texts 429-431).
int ResolveFileArea(std::string_view argument, std::string& directory);

// Whether the argument begins with "/F" or "$F" (case ignored).
bool IsCurrentAreaArgument(std::string_view argument);
bool IsAreaNumberArgument(std::string_view argument);

// The directory a file command's argument names (see above).  area gets
// the area (0-based) for "/F" and "$F", -1 for a path or a refused "$F".
// Empty when an area was refused (the caller has been told) or the current
// area has no directory.
std::string FileAreaArgument(std::string_view argument, int& area);

// Whether a name a caller typed is one path component: not empty, no '/',
// not "." or "..".
bool FileNameIsSafe(std::string_view name);

// Whether the second date text is later than the first.  Each text is read
// as three two-digit fields in the configured date order; a two-digit year
// from 80 on is 19xx, below 80 it is 20xx.
bool IsLaterDate(std::string_view first, std::string_view second);

// The next piece of text for word wrapping: the leading white space and the
// word after it, up to the first blank after the word, the end of text, or
// width characters in all.  An empty view at the end of the text.  The
// piece is a view into text, so its size is the number of characters taken.
std::string_view CopyNextWord(std::string_view text, size_t width);

// The names in directory dir that match a wildcard pattern, in the sorted
// order of the directory listing.  "." is never listed; other directories
// only when directories is set, then with a '/' after the name (but "..",
// which is listed as it stands).  Empty when nothing matches or the
// directory cannot be read.
std::vector<std::string> ExpandPattern(std::string_view pattern, bool directories, const std::string& dir = ".");

}  // namespace kv::caller

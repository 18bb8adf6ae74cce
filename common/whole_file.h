// Whole-file rewrites: the new contents go to a temporary file beside the
// target (a name from mkstemp), are synced, and the temporary is renamed
// over the target.  A reader meets the old file or the new one, never half
// of either; a failure at any step leaves the old file as it was.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv {

// A temporary file beside target, open for writing: fd and its name.
struct TempFile {
    int fd = -1;
    std::string path;
};
// Makes one ("<target>.XXXXXX"); fd -1 and why filled on failure.
TempFile MakeTempBeside(const std::string& target, std::string* why = nullptr);
// Syncs and closes the temporary, then renames it over target.  On failure
// the temporary is removed and why says what failed.
bool CommitTemp(TempFile& tmp, const std::string& target, std::string* why = nullptr);
// Closes and removes an unfinished temporary.
void DiscardTemp(TempFile& tmp);

// The temporaries of MakeTempBeside still lying in dir beside each of the
// files named ("<name>.XXXXXX"): what a program killed in its rewrite left.
std::vector<std::string> TempFilesBeside(const std::string& dir, const std::vector<const char*>& names);

// The whole sequence for one file: the new file keeps the old one's mode.
// false with errno set on failure.
bool WriteFileWhole(const std::string& target, std::string_view data, std::string* why = nullptr);

}  // namespace kv

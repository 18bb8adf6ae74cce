// kvprune's log: "* date time text" lines appended to a file in DataDir.
#pragma once

#include <fmt/printf.h>

#include <string>
#include <string_view>

namespace kv::prune {

// The log file's path: DataDir + "/" + the -f name, or else the configured
// line-log name, which on a multi-line system gets "0" before its extension.
std::string PruneLogPath(const std::string& optionName);

// Directs the log (and the shared library's failure reports) to the file.
void OpenPruneLog(const std::string& path);

// One line; when the file cannot be opened the line goes to standard error.
void PruneLog(std::string_view text);

// A line of one of kvprune's fixed formats with its values.
template <class... Args>
void PruneLogF(const char* format, const Args&... args) {
    PruneLog(fmt::sprintf(format, args...));
}

}  // namespace kv::prune

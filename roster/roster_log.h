// kvroster's log: "* date time text" lines appended to "kvroster.log" in
// DataDir.  While curses owns the terminal nothing may go to standard error
// (it would land over the screen), so the shared library's failure reports
// are sent here too.
#pragma once

#include <fmt/printf.h>

#include <string>
#include <string_view>

namespace kv::roster {

inline constexpr const char* kRosterLogFile = "kvroster.log";

// Directs the log, and the shared library's reports, to DataDir.
void OpenRosterLog(const std::string& dataDir);
void RosterLogLine(std::string_view text);

// A line of one of kvroster's own fixed formats with its values.
template <class... Args>
void RosterLog(const char* format, const Args&... args) {
    RosterLogLine(fmt::sprintf(format, args...));
}

}  // namespace kv::roster

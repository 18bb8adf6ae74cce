#include "roster/roster_log.h"

#include <cstdio>

#include "common/dates.h"
#include "common/runtime.h"

namespace kv::roster {
namespace {

std::string& LogPath() {
    static std::string path;
    return path;
}

}  // namespace

void OpenRosterLog(const std::string& dataDir) {
    LogPath() = dataDir + "/" + kRosterLogFile;
    SetLogWriter([](std::string_view line) { RosterLogLine(line); });
}

void RosterLogLine(std::string_view text) {
    std::string line = fmt::sprintf("* %s %s %s\n", DateString(), TimeString(), text);
    std::FILE* f = LogPath().empty() ? nullptr : std::fopen(LogPath().c_str(), "a");
    if (f == nullptr) return;  // never onto the screen
    std::fputs(line.c_str(), f);
    std::fclose(f);
}

}  // namespace kv::roster

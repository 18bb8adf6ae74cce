#include "tools/kvprune/prune_log.h"

#include <algorithm>
#include <cstdio>

#include "common/dates.h"
#include "common/runtime.h"

namespace kv::prune {
namespace {

std::string& LogPath() {
    static std::string path;
    return path;
}

}  // namespace

std::string PruneLogPath(const std::string& optionName) {
    const ConfigRecord& c = Config();
    std::string name = optionName;
    if (name.empty()) {
        name = c.LineLogName;
        if (c.MultiLine) {
            size_t dot = std::min(name.rfind('.'), name.size());
            name = name.substr(0, dot) + "0" + name.substr(dot);
        }
    }
    return c.DataDir + "/" + name;
}

void OpenPruneLog(const std::string& path) {
    LogPath() = path;
    SetLogWriter([](std::string_view line) { PruneLog(line); });
}

void PruneLog(std::string_view text) {
    std::string line = fmt::sprintf("* %s %s %s\n", DateString(), TimeString(), text);
    FILE* f = LogPath().empty() ? nullptr : std::fopen(LogPath().c_str(), "a");
    if (f == nullptr) {
        std::fputs(line.c_str(), stderr);
        return;
    }
    std::fputs(line.c_str(), f);
    std::fclose(f);
}

}  // namespace kv::prune

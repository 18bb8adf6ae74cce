#include "common/limits_file.h"

#include <cstdio>

#include "common/runtime.h"

namespace kv {
namespace {

constexpr size_t kLimitsLineRoom = 79;

}  // namespace

bool ParseLimitsLine(const std::string& line, LevelLimits& out) {
    LevelLimits l;
    long level = 0;
    int n = std::sscanf(line.c_str(), "%ld %d %d %d %d %d %d %d %d %d", &level, &l.Minutes, &l.DownloadKb[0],
                        &l.DownloadKb[1], &l.DownloadKb[2], &l.DownloadKb[3], &l.DownloadKb[4], &l.Unused,
                        &l.FileRatio, &l.ByteRatio);
    l.Level = n >= 1 ? int32_t(level) : 0;
    out = l;
    return n >= 1;
}

bool ReadLimitsFile(bool skipComments, std::vector<LevelLimits>& out) {
    out.clear();
    std::string path = Config().DataDir + "/" + kLimitsFile;
    FILE* f = std::fopen(path.c_str(), "re");
    if (f == nullptr) return false;
    char buf[kLimitsLineRoom + 1];
    while (std::fgets(buf, sizeof buf, f) != nullptr) {
        if (skipComments && buf[0] == '#') continue;
        LevelLimits l;
        ParseLimitsLine(buf, l);
        out.push_back(l);
    }
    std::fclose(f);
    return true;
}

}  // namespace kv

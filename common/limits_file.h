// "limits.ctl" in DataDir: one line per security level, ten numbers
// separated by blanks:
//   level  minutes/day  KB/day at 300  1200  2400  4800  other speeds
//          (unused)  file ratio  byte ratio
// kivo takes the first line whose level equals the caller's; without one the
// defaults hold (30 minutes, 50/100/150/200/300 KB, 800, 5, 10).  kivo skips
// no line as a comment: a line that does not start with a number counts as
// level 0.  kvroster's statistics skip lines that begin with '#'.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

inline constexpr const char* kLimitsFile = "limits.ctl";

struct LevelLimits {
    int32_t Level = 0;
    int32_t Minutes = 30;                               // per day
    int32_t DownloadKb[5] = {50, 100, 150, 200, 300};  // 300, 1200, 2400, 4800, other bps
    int32_t Unused = 800;
    int32_t FileRatio = 5;
    int32_t ByteRatio = 10;
};

// One line of "limits.ctl" over the defaults; false when it does not start
// with a level (the line then counts as level 0 with the defaults).
bool ParseLimitsLine(const std::string& line, LevelLimits& out);

// The lines of DataDir/limits.ctl in file order, read in pieces of at most
// 79 characters as the file has always been read; with skipComments, lines
// that begin with '#' are left out.  False when the file cannot be opened.
bool ReadLimitsFile(bool skipComments, std::vector<LevelLimits>& out);

}  // namespace kv

// The limits of a call: "limits.ctl", the cut before closing time and the
// time-left warnings.
//
// "limits.ctl" in DataDir holds one line per security level, ten numbers
// separated by blanks:
//   level  minutes/day  KB/day at 300  1200  2400  4800  other speeds
//          (unused)  file ratio  byte ratio
// The first line whose level equals the caller's applies; without one the
// defaults do (30 minutes, 50/100/150/200/300 KB, 800, 5, 10).  No line is
// skipped as a comment: a line that does not start with a number counts as
// level 0.
#pragma once

#include <cstdint>
#include <string>

namespace kv::caller {

struct LevelLimits {
    int32_t Level = 0;
    int32_t Minutes = 30;            // per day
    int32_t DownloadKb[5] = {50, 100, 150, 200, 300};  // 300, 1200, 2400, 4800, other bps
    int32_t Unused = 800;
    int32_t FileRatio = 5;
    int32_t ByteRatio = 10;
};

// One line of "limits.ctl" over the defaults; false when it does not start
// with a level (the line then counts as level 0 with the defaults).
bool ParseLimitsLine(const std::string& line, LevelLimits& out);

// The download field for a line speed (0 counts as 300 bps).
int32_t DownloadLimitFor(const LevelLimits& limits, long bps);

// Loads the caller's level line into CallState: CallMinutes, the download
// limit for the line speed and the two ratios; 0 (nothing changed) when
// "limits.ctl" cannot be opened.
int LoadLimits(int32_t level, long bps);

// Shortens CallMinutes so that a call ends 5 minutes before the end of
// OpenHours, and tells the caller when it did.
void ClosingTimeCut();
// The cut alone: minutes left for a log-on at minute onMinute of the day
// with closing at closeMinute (both 0-1439).
int ClosingTimeMinutes(int onMinute, int closeMinute, int minutes);

// True while the call has time left; shows the two-minute and the
// one-minute warnings once each.
bool CheckTimeLeft();

}  // namespace kv::caller

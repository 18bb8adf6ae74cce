// The limits of a call: the caller's line of "limits.ctl"
// (common/limits_file.h), the cut before closing time and the time-left
// warnings.
#pragma once

#include <cstdint>
#include <string>

#include "common/limits_file.h"

namespace kv::caller {

// A number of "limits.ctl" in one of the call's 16-bit fields: one beyond
// the field's range (a hand-edited 99999 minutes) stands at its end instead
// of wrapping round to another, perhaps negative, value.
int16_t FitInt16(int32_t value);

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

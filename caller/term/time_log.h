// The usage time log of a line: "timelog.bbs" in DataDir, or on a
// multi-line system "timelog<n>.bbs" for line n ("timelog3.bbs").  One
// record of 136 bytes; integers are little-endian:
//   offset  width  field
//   0       12     Date     text, the day the counting started (8 used)
//   12      96     Hours    uint32[24], minutes of calls by hour of log-on
//   108     28     Days     uint32[7], minutes by weekday of log-on, 0 Sunday
//
// A call's minutes all count for the hour and the weekday it started in,
// however long it lasted.  The counters only grow; deleting the file starts
// a new count under a new date.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/record_io.h"

namespace kv::caller {

struct TimeLogRecord {
    static constexpr size_t kSize = 136;
    std::string Date;                  // text[12]; empty: no time log read
    std::array<uint32_t, 24> Hours{};  // minutes by hour of day 0-23
    std::array<uint32_t, 7> Days{};    // minutes by weekday, 0 = Sunday
};
template <class IO> constexpr void Visit(IO& io, TimeLogRecord& r) {
    io.Field("Date", 0, 12, r.Date);
    for (size_t i = 0; i < r.Hours.size(); ++i) {
        io.Enter("Hours", int(i), 12 + 4 * i);
        io.Field("Minutes", 0, 4, r.Hours[i]);
        io.Leave();
    }
    for (size_t i = 0; i < r.Days.size(); ++i) {
        io.Enter("Days", int(i), 108 + 4 * i);
        io.Field("Minutes", 0, 4, r.Days[i]);
        io.Leave();
    }
}
static_assert(LayoutIsSound<TimeLogRecord>());

// The time log file of line.
std::string TimeLogPath(int line);

// Reads line's record; a missing file is made with today's date and zero
// counters.  1, or 0 when the file cannot be read (a short record included)
// or made.
int ReadTimeLog(int line, TimeLogRecord& record);

// Adds this call's minutes (since LogonTime) to record's counters of the
// log-on hour and weekday and writes the file anew; 1 when written whole.
// Runs at log-off: the end signals are ignored from here on.
int UpdateTimeLog(int line, const TimeLogRecord& record);

}  // namespace kv::caller

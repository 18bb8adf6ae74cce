// Menu commands 8 and 10: the credits screen, and the usage graph of a
// line, a bar chart of the minutes of calls by hour of day from the line's
// time log (time_log.h).  The busiest hour is the full height of 20 rows;
// every other hour is scaled to it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "caller/term/time_log.h"

namespace kv::caller {

constexpr int kGraphRows = 20;
constexpr int kGraphHours = 24;
// grid[row][hour], row 0 at the bottom; 1 where the bar stands.
using UsageGraph = std::array<std::array<uint8_t, kGraphHours>, kGraphRows>;

void ShowCredits();
// argument: empty, or a line number (9 or less) whose time log is shown.
void ShowUsageGraph(const std::string& argument);
void DrawUsageGraph(const UsageGraph& grid, const TimeLogRecord& record, int line, uint32_t busiest);
void FillGraphColumn(UsageGraph& grid, int hour, int rows);
void ClearGraph(UsageGraph& grid);
// The hour with the most minutes (the earliest of equals) and its minutes,
// or -1 when no hour has any.
int BusiestHour(uint32_t& count, const TimeLogRecord& record);
// The rows of each hour's bar, scaled to the busiest hour.
void ScaleGraph(UsageGraph& grid, const TimeLogRecord& record, int busiestHour, uint32_t busiest);

}  // namespace kv::caller

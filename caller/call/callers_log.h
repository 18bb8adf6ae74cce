// The daily callers log: one text file per weekday in DataDir,
// "sun_call.tdy" ... "sat_call.tdy", one line per call that ended:
//   name|line|speed|log-on time|log-off time|total calls|location
// A "|" in the name or the location is written as "!", so that every line
// splits into its seven fields.
//
// At the first start-up or log-off of a day, yesterday's file moves to its
// name with ".B" appended; a file of today's weekday left from an earlier
// week (after days without calls) moves there too, so a day's file only
// ever holds that day's calls.
#pragma once

#include <string>
#include <vector>

namespace kv::caller {

// Today's file for offset 0; an offset moves the weekday, wrapping.
std::string CallersLogName(int dayOffset);
void RotateCallersLog();
// Appends this call at log-off (the sysop's only with ShowSysop).
void LogCaller();
// Menu command 51: today's callers; an argument "%" lists this line only,
// a number that line, nothing every line.
void ListCallers(const std::string& argument);

// One line of the file, without its line end, and its fields back (always
// seven; those a line lacks are empty).
std::string FormatCallerLogLine(const std::string& name, int line, long speed, const std::string& logon,
                                const std::string& logoff, long calls, const std::string& location);
std::vector<std::string> SplitCallerLogLine(const std::string& line);

}  // namespace kv::caller

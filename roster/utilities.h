// The main-menu commands that look at the system without changing the
// user records: the sysop's utility commands, the statistics by level and
// the list of callers on line.
#pragma once

#include <string>
#include <vector>

#include "common/limits_file.h"
#include "common/online_status.h"
#include "common/user_record.h"
#include "roster/curses_wide.h"

namespace kv::roster {

// A utility line with its '!' replaced by the sysop's answer, given to the
// shell quoted as one word whatever it holds.  A line without '!' stays.
std::string UtilityCommand(const std::string& line, const std::string& answer);
// The program of a command: the text up to its first blank.
std::string UtilityProgram(const std::string& command);

// The statistics of "users.bbs".
struct LevelCount {
    long level = 0;
    long users = 0;
};
struct UserTotals {
    long records = 0, deleted = 0;
    long downloadFiles = 0, downloadKb = 0, uploadFiles = 0, uploadKb = 0, calls = 0, posted = 0;
    std::vector<LevelCount> levels;  // highest level first
};
// The level table of "limits.ctl" (comment lines skipped), highest first;
// empty when the file is missing or holds no level.
std::vector<LevelCount> LoadLevels();
// Counts every record of "users.bbs" into totals (its levels set already):
// a user counts for the first entry of its level, none when the level is
// not in the table.
bool CountUsers(UserTotals& totals);
// A total per record; 0 for a file without records.
double AveragePerUser(long total, long records);

// One row of the on-line list.
std::string OnlineRow(const OnlineCaller& c, const UserRecord& r);

// The main-menu handlers; each returns 0.
int RunUtilities();
int ShowStatistics();
int ShowOnline();
// Runs utility '1'-'9' or '0' (the tenth) with its output paged in w.
void RunUtility(WINDOW* w, int digit);

}  // namespace kv::roster

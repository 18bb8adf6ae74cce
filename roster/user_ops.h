// The commands that find, mark, reorder, drop and add user records, as
// plain functions over the index and the files: no screen here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/user_record.h"
#include "roster/user_base.h"

namespace kv::roster {

// The search of the find and mark commands.  Fields 0-14: name, location,
// password, data phone, home phone, last date, flags, then the numbers
// level, calls, uploaded files and kilobytes, downloaded files and
// kilobytes, highest read, posted.  The index key type of field f is f + 1.
enum SearchField { kFindName = 0, kFindLocation, kFindPassword, kFindDataPhone, kFindHomePhone, kFindDate,
                   kFindFlags, kFindLevel, kFindLastNumber = 14 };
enum Operator { kLess = 0, kLessEqual, kGreater, kGreaterEqual, kEqual, kDifferent };

struct SearchCriteria {
    int Direction = 0;   // 0 forward, 1 reverse
    int Field = -1;      // -1: no criteria
    int Operator = 0;    // -1: the entry was abandoned
    std::string Value;   // as typed
    bool DirectionAsked = false;
    uint8_t FlagSet = 0;
    uint8_t FlagValue = 0;
};

// Whether the entry's key (filled for the field) matches.
bool MatchRecord(const IndexEntry& e, const SearchCriteria& c);
// The first match after (forward) or before (reverse) position from, or -1.
int SearchFrom(const UserBase& base, const SearchCriteria& c, int from);
// Marks every entry that matches; others keep their marks.  The count.
int MarkMatching(UserBase& base, const SearchCriteria& c);

// Whether "online.ctl" shows a caller on some line (a live process with a
// user number).  fileMissing tells when the file could not be read.
bool SomeoneOnLine(bool& fileMissing);

// The sort orders: the key type each fills, or -1 for no sort.
int SortKeyType(int order);
// Sorts entries 1..last of the index by the keys of that type (filled
// already) as the sort order wants; entry 0 keeps its place.  Equal keys
// are ordered by name (the records give the names).
void SortIndex(std::vector<IndexEntry>& index, int keyType, int dateOrder, const NameTable& names);

// Takes entry a out and puts it right after entry b; false (nothing
// changed) when a is already b + 1, a is 0, or either is out of range.
bool MoveEntry(std::vector<IndexEntry>& index, int a, int b);

// Rewrites "users.bbs" and "lastread.bbs" in the order of the record
// numbers given (with pack, records that have USER_DELETED are dropped;
// record 0 never).  Records appended since the index was made come after
// the given ones, never dropped.  Both new files are written beside the old
// ones and synced, then swapped in as one journalled step, the old files
// kept as ".B" backups; any failure before that leaves both files as they
// were.  The whole run holds the users lock and the message-base lock.
// A caller on line by the swap (one who came on while the sysop answered
// the command's questions) stops it there: callers write their own record
// by its number, which the new files give to someone else.
struct DroppedUser {
    std::string name, location;
    int position = 0;  // index position
};
struct RewriteResult {
    bool ok = false;
    bool callerOnLine = false;  // refused, nothing changed
    std::vector<DroppedUser> dropped;
};
RewriteResult RewriteUsers(const std::vector<int32_t>& order, bool pack);

// A blank record as the add command makes it.
UserRecord BlankUserRecord();
// Appends a blank record and a last-read record of zeros; the new record's
// number (taken from the file as it is now), or -1.
int AppendBlankRecord();

// Global edit: a plan per bit of a flag set.
enum PlanEntry : uint8_t { kLeave = 0, kOff = 1, kOn = 2 };
using FlagPlan = std::array<PlanEntry, 8>;
struct GlobalChange {
    int field = 0;      // 0-3 flag sets A-D, 4-12 option bits, 13 message area, 14 file area
    FlagPlan plan{};    // fields 0-3
    bool on = false;    // fields 4-12
    int area = 0;       // fields 13, 14
};
// Changes one record as the global edit does.
void ApplyChange(UserRecord& r, const GlobalChange& c);
// Over the marked entries or all; each record read, changed and written back
// in place.  The number written.
int ApplyGlobalEdit(UserBase& base, bool markedOnly, const GlobalChange& c);

}  // namespace kv::roster

// The age of a message in days, as the purge measures it.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>

namespace kv::prune {

// The day number of a date (year in full) by the board's traditional
// formula; only differences between two of them mean anything.
long DayNumber(int day, int month, int year);

// The day number of a date text in the given DateOrder (two-digit year read
// as 1900 + year); nothing when the text is not a date of that order.
std::optional<long> DateTextDayNumber(std::string_view text, int dateOrder);

// The day number of a moment, read through the same two-digit year so that
// it compares with the date texts.
long MomentDayNumber(time_t t);

// Days from a message's date to today.  A message whose date text cannot be
// read is dated by WrittenAt; so is today when the DateOrder gives no texts.
long MessageAgeDays(std::string_view dateText, int32_t writtenAt, std::string_view todayText, time_t now,
                    int dateOrder);
// The same with today's day number worked out once for a whole run.
long TodayDayNumber(std::string_view todayText, time_t now, int dateOrder);
long MessageAgeDays(std::string_view dateText, int32_t writtenAt, long today, int dateOrder);

}  // namespace kv::prune

// Date and time texts in the configured order, and the four time windows.
//
// A date text is "%02d/%02d/%02d" in the order DateOrder gives (0 y/m/d,
// 1 m/d/y, 2 and 3 d/m/y); its year field is the year modulo 100, so every
// date text is 8 characters and fits the 9-byte date fields on disk.  Any
// other DateOrder gives an empty text.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "common/config_record.h"

namespace kv {

std::string FormatDate(const std::tm& t, int dateOrder);
std::string FormatDate(const std::tm& t);  // in Config().DateOrder
std::string FormatTime(const std::tm& t);  // "HH:MM:SS"
std::string DateString();                  // today
std::string TimeString();                  // now
int32_t SecondsSince(time_t t);

// Packed MS-DOS archive dates and times.
std::string FormatDosDate(uint16_t packed, int dateOrder);
std::string FormatDosDate(uint16_t packed);
std::string FormatDosTime(uint16_t packed);  // "%02dh%02d:%02d"

// A news article date such as "9 Mar 1996"; empty when it has not that form.
std::string ConvertTextDate(std::string_view src, int dateOrder);
std::string ConvertTextDate(std::string_view src);

// Whether hour:minute lies inside the window (start exclusive and end
// inclusive, or the other way round for a window that wraps past midnight).
bool InWindow(const TimeWindow& w, int hour, int minute);
// Window n (kPagingHours ... kOpenHours) of the configuration, at now.
int InTimeWindow(int n);

}  // namespace kv

#include "common/dates.h"

#include <cstdio>
#include <cstdlib>

#include "common/runtime.h"

namespace kv {
namespace {

const char kMonthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

std::string ThreeFields(int year, int month, int day, int dateOrder) {
    char buf[32];
    year %= 100;
    if (year < 0) year += 100;
    switch (dateOrder) {
    case 0: std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", year, month, day); break;
    case 1: std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", month, day, year); break;
    case 2:
    case 3: std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", day, month, year); break;
    default: return {};
    }
    return buf;
}

// The decimal number at the start of a text, as atoi reads it.
int LeadingNumber(std::string_view s) {
    std::string copy(s.substr(0, 16));
    return std::atoi(copy.c_str());
}

}  // namespace

std::string FormatDate(const std::tm& t, int dateOrder) {
    return ThreeFields(t.tm_year, t.tm_mon + 1, t.tm_mday, dateOrder);
}

std::string FormatDate(const std::tm& t) { return FormatDate(t, Config().DateOrder); }

std::string FormatTime(const std::tm& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string DateString() { return FormatDate(LocalNow()); }
std::string TimeString() { return FormatTime(LocalNow()); }

int32_t SecondsSince(time_t t) { return static_cast<int32_t>(Now() - t); }

std::string FormatDosDate(uint16_t packed, int dateOrder) {
    int year = (packed >> 9) + 80;
    int month = (packed >> 5) & 0x0f;
    int day = packed & 0x1f;
    return ThreeFields(year, month, day, dateOrder);
}

std::string FormatDosDate(uint16_t packed) { return FormatDosDate(packed, Config().DateOrder); }

std::string FormatDosTime(uint16_t packed) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02dh%02d:%02d", packed >> 11, (packed >> 5) & 0x3f, (packed & 0x1f) * 2);
    return buf;
}

std::string ConvertTextDate(std::string_view src, int dateOrder) {
    size_t b1 = src.find(' ');
    if (b1 == std::string_view::npos) return {};
    size_t b2 = src.find(' ', b1 + 1);
    if (b2 == std::string_view::npos) return {};
    std::string_view word = src.substr(b1 + 1, b2 - b1 - 1);
    if (word.empty()) return {};
    size_t at = std::string_view(kMonthNames).find(word);
    if (at == std::string_view::npos) return {};
    int day = LeadingNumber(src.substr(0, b1));
    // A day that no calendar has would widen the date text past its 8 characters.
    if (day < 0 || day > 31) day = 0;
    int month = int(at / 3) + 1;
    int year = LeadingNumber(src.substr(b2 + 1));
    if (year > 1900) year -= 1900;
    return ThreeFields(year, month, day, dateOrder);
}

std::string ConvertTextDate(std::string_view src) { return ConvertTextDate(src, Config().DateOrder); }

bool InWindow(const TimeWindow& w, int hour, int minute) {
    int sh = LeadingNumber(w.Start), sm = w.Start.size() > 3 ? LeadingNumber(std::string_view(w.Start).substr(3)) : 0;
    int eh = LeadingNumber(w.End), em = w.End.size() > 3 ? LeadingNumber(std::string_view(w.End).substr(3)) : 0;
    int now = hour * 60 + minute, start = sh * 60 + sm, end = eh * 60 + em;
    if (end < start) return now >= start || now < end;  // wraps past midnight
    return now > start && now <= end;
}

int InTimeWindow(int n) {
    const ConfigRecord& c = Config();
    const TimeWindow* w = nullptr;
    switch (n) {
    case kPagingHours: w = &c.PagingHours; break;
    case kDownloadHours: w = &c.DownloadHours; break;
    case kLowSpeedHours: w = &c.LowSpeedHours; break;
    case kOpenHours: w = &c.OpenHours; break;
    default: return 0;
    }
    std::tm t = LocalNow();
    return InWindow(*w, t.tm_hour, t.tm_min) ? 1 : 0;
}

}  // namespace kv

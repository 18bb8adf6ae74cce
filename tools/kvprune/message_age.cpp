#include "tools/kvprune/message_age.h"

#include <cmath>

namespace kv::prune {
namespace {

// One or two decimal digits.
bool TwoDigits(std::string_view s, int& v) {
    if (s.empty() || s.size() > 2) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    return true;
}

}  // namespace

long DayNumber(int day, int month, int year) {
    double y = year, m = month;
    if (m < 3) {
        y -= 1;
        m += 12;
    }
    double e = y < 1 ? 0.75 : 0;
    // The board has always used -6 here, not 2 - A + A/4; kept so that ages
    // stay what they were (a constant offset, differences are unchanged).
    double b = 0;
    if (y * 10000 + m * 100 + day >= 15821015) b = std::trunc(std::trunc(y / 100) / 4) - 6;
    return long(std::trunc(365.25 * y - e) + std::trunc(30.6001 * (m + 1)) + day + 1720994 + b);
}

std::optional<long> DateTextDayNumber(std::string_view text, int dateOrder) {
    size_t s1 = text.find('/');
    size_t s2 = s1 == std::string_view::npos ? s1 : text.find('/', s1 + 1);
    if (s2 == std::string_view::npos) return std::nullopt;
    int f[3];
    if (!TwoDigits(text.substr(0, s1), f[0]) || !TwoDigits(text.substr(s1 + 1, s2 - s1 - 1), f[1]) ||
        !TwoDigits(text.substr(s2 + 1), f[2]))
        return std::nullopt;
    int day, month, year;
    switch (dateOrder) {
    case 0: year = f[0]; month = f[1]; day = f[2]; break;
    case 1: month = f[0]; day = f[1]; year = f[2]; break;
    case 2:
    case 3: day = f[0]; month = f[1]; year = f[2]; break;
    default: return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
    return DayNumber(day, month, 1900 + year);
}

long MomentDayNumber(time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return DayNumber(tm.tm_mday, tm.tm_mon + 1, 1900 + tm.tm_year % 100);
}

long MessageAgeDays(std::string_view dateText, int32_t writtenAt, std::string_view todayText, time_t now,
                    int dateOrder) {
    return MessageAgeDays(dateText, writtenAt, TodayDayNumber(todayText, now, dateOrder), dateOrder);
}

long TodayDayNumber(std::string_view todayText, time_t now, int dateOrder) {
    std::optional<long> today = DateTextDayNumber(todayText, dateOrder);
    return today ? *today : MomentDayNumber(now);
}

long MessageAgeDays(std::string_view dateText, int32_t writtenAt, long today, int dateOrder) {
    // The clock is asked only for a date text that cannot be read: it
    // costs more than the text.
    std::optional<long> written = DateTextDayNumber(dateText, dateOrder);
    return today - (written ? *written : MomentDayNumber(time_t(writtenAt)));
}

}  // namespace kv::prune

#include <gtest/gtest.h>

#include "common/dates.h"
#include "common/runtime.h"

using namespace kv;

namespace {

std::tm Day(int year, int month, int day, int h = 0, int m = 0, int s = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    return t;
}

uint16_t Dos(int year, int month, int day) { return uint16_t(((year - 1980) << 9) | (month << 5) | day); }

TEST(Dates, FormatsInEveryOrder) {
    struct Case {
        std::tm t;
        int order;
        const char* want;
    } cases[] = {
        {Day(1996, 3, 9), 0, "96/03/09"}, {Day(1996, 3, 9), 1, "03/09/96"},
        {Day(1996, 3, 9), 2, "09/03/96"}, {Day(1996, 3, 9), 3, "09/03/96"},
        // From 2000 on the year field is the year modulo 100: always 8 characters.
        {Day(2000, 1, 1), 0, "00/01/01"}, {Day(2000, 1, 1), 1, "01/01/00"},
        {Day(2026, 12, 10), 2, "10/12/26"}, {Day(1996, 3, 9), 4, ""}, {Day(1996, 3, 9), 200, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatDate(c.t, c.order), c.want) << c.want;
    EXPECT_EQ(FormatTime(Day(1996, 3, 9, 7, 5, 3)), "07:05:03");
}

TEST(Dates, PackedArchiveDatesAndTimes) {
    EXPECT_EQ(FormatDosDate(Dos(1996, 3, 9), 2), "09/03/96");
    EXPECT_EQ(FormatDosDate(Dos(2000, 1, 1), 1), "01/01/00");
    EXPECT_EQ(FormatDosDate(Dos(2000, 1, 1), 0), "00/01/01");
    EXPECT_EQ(FormatDosDate(Dos(2000, 1, 1), 9), "");
    EXPECT_EQ(FormatDosTime(uint16_t((13 << 11) | (45 << 5) | 10)), "13h45:20");
}

TEST(Dates, NewsArticleDates) {
    struct Case {
        const char* src;
        int order;
        const char* want;
    } cases[] = {
        {"9 Mar 1996", 2, "09/03/96"}, {"9 Mar 96", 0, "96/03/09"}, {"9 March 1996", 2, ""},
        {"9 ar 1996", 2, "09/03/96"},  {"9 nF 1996", 2, "09/01/96"}, {"9Mar 1996", 2, ""},
        {"9 Mar", 2, ""},              {"1 Jan 2026", 1, "01/01/26"}, {"9 Mar 1996", 5, ""},
        // A day no month has reads as 0, so the text keeps its width.
        {"123 r ", 2, "00/03/00"}, {"-2147483648 Mar 96", 0, "96/03/00"}, {"31 Dec 99", 2, "31/12/99"},
    };
    for (const auto& c : cases) EXPECT_EQ(ConvertTextDate(c.src, c.order), c.want) << c.src;
}

TEST(Dates, TimeWindows) {
    struct Case {
        const char *start, *end;
        int h, m;
        bool inside;
    } cases[] = {
        {"22:00", "06:00", 22, 0, true},  {"22:00", "06:00", 6, 0, false}, {"22:00", "06:00", 3, 0, true},
        {"22:00", "06:00", 12, 0, false}, {"08:00", "17:00", 8, 0, false}, {"08:00", "17:00", 17, 0, true},
        {"08:00", "17:00", 8, 1, true},   {"10:00", "10:00", 10, 0, false}, {"10:00", "10:00", 3, 0, false},
        {"00:00", "24:00", 0, 0, false},  {"00:00", "24:00", 0, 1, true},  {"00:00", "24:00", 23, 59, true},
    };
    for (const auto& c : cases) {
        TimeWindow w{c.start, c.end};
        EXPECT_EQ(InWindow(w, c.h, c.m), c.inside) << c.start << "-" << c.end << " at " << c.h << ":" << c.m;
    }
}

TEST(Dates, NowComesFromTheInstalledClock) {
    ConfigRecord c;
    c.DateOrder = 1;
    c.OpenHours = {"08:00", "17:00"};
    SetConfig(c);
    std::tm noon = Day(2026, 12, 10, 12, 0, 0);
    time_t t = mktime(&noon);
    SetClock([t] { return t; });
    EXPECT_EQ(DateString(), "12/10/26");
    EXPECT_EQ(TimeString(), "12:00:00");
    EXPECT_EQ(InTimeWindow(kOpenHours), 1);
    EXPECT_EQ(SecondsSince(t - 90), 90);
    SetClock(nullptr);
    SetConfig(ConfigRecord{});
}

}  // namespace

// The pure pieces of the call limits: a "limits.ctl" line, the download
// field by line speed, the cut before closing time.
#include <gtest/gtest.h>

#include "caller/term/limits.h"

namespace kv::caller {
namespace {

TEST(Limits, ALevelLineFillsItsFieldsOverTheDefaults) {
    LevelLimits l;
    EXPECT_TRUE(ParseLimitsLine("100 90 10 20 30 40 50 800 3 7\n", l));
    EXPECT_EQ(l.Level, 100);
    EXPECT_EQ(l.Minutes, 90);
    EXPECT_EQ(l.DownloadKb[2], 30);
    EXPECT_EQ(l.FileRatio, 3);
    EXPECT_EQ(l.ByteRatio, 7);
    // A short line keeps the defaults of what it leaves out.
    EXPECT_TRUE(ParseLimitsLine("5 45", l));
    EXPECT_EQ(l.Minutes, 45);
    EXPECT_EQ(l.DownloadKb[4], 300);
    // A comment is no comment: it counts as level 0 with the defaults.
    EXPECT_FALSE(ParseLimitsLine("# level minutes ...", l));
    EXPECT_EQ(l.Level, 0);
    EXPECT_EQ(l.Minutes, 30);
}

TEST(Limits, TheLineSpeedPicksTheDownloadField) {
    LevelLimits defaults;
    struct Case {
        long bps;
        int32_t kb;
    } cases[] = {{0, 50}, {300, 50}, {1200, 100}, {2400, 150}, {4800, 200}, {9600, 300}, {38400, 300}};
    for (const Case& c : cases) EXPECT_EQ(DownloadLimitFor(defaults, c.bps), c.kb) << c.bps;
}

// The call's minutes and download limit are 16-bit: a larger number of
// the file stands at the field's end instead of wrapping round.
TEST(Limits, ANumberBeyondTheCallsFieldStandsAtItsEnd) {
    struct Case {
        int32_t value;
        int16_t want;
    } cases[] = {{90, 90}, {32767, 32767}, {99999, 32767}, {65566, 32767}, {-5, -5}, {-70000, -32768}};
    for (const Case& c : cases) EXPECT_EQ(FitInt16(c.value), c.want) << c.value;
}

TEST(Limits, ACallEndsFiveMinutesBeforeClosing) {
    struct Case {
        int on, close, minutes, want;
    } cases[] = {
        {22 * 60 + 40, 23 * 60, 30, 15},  // 22:40 + 30 passes 23:00 by 10: 10 + 5 off
        {23 * 60 + 30, 60, 120, 85},      // closing at 01:00 tomorrow
        {8 * 60, 23 * 60, 30, 30},        // far from closing: no cut
        {22 * 60 + 30, 23 * 60, 30, 25},  // ending right at closing is cut too
    };
    for (const Case& c : cases) EXPECT_EQ(ClosingTimeMinutes(c.on, c.close, c.minutes), c.want) << c.on;
}

}  // namespace
}  // namespace kv::caller

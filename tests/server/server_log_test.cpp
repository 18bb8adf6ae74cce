// "server.log": the banner of a new file, the line frame, the cut at 127
// characters, and values that are never read as formats.
#include <gtest/gtest.h>

#include "common/runtime.h"
#include "server/server_log.h"
#include "tests/support/board.h"

using namespace kv;

TEST(ServerLog, NewFileGetsBannerThenLines) {
    test::TempBoard b;
    ConfigRecord c = b.config();
    c.DateOrder = 1;
    SetConfig(c);
    std::tm t{};
    t.tm_year = 96, t.tm_mon = 2, t.tm_mday = 9, t.tm_hour = 10, t.tm_min = 15, t.tm_sec = 7, t.tm_isdst = -1;
    time_t when = mktime(&t);
    SetClock([when] { return when; });

    WriteServerLog("Timeout = %d min", 60);
    WriteServerLog("Alias \"%s\" not found", "100%s%n");
    WriteServerLog("%s", std::string(200, 'z'));
    SetClock(nullptr);

    std::string want = "*\n* @(#)server.log " + std::string(kNoticeText) +
                       "\n* LOG FILE CREATED: 03/09/96 10:15:07\n*\n\n"
                       "* 03/09/96 10:15:07 Timeout = 60 min\n"
                       "* 03/09/96 10:15:07 Alias \"100%s%n\" not found\n"
                       "* 03/09/96 10:15:07 " + std::string(127, 'z') + "\n";
    EXPECT_EQ(b.ReadFile(b.DataDir() / "server.log"), want);
}

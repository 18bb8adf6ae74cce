// The pieces of the user list, the callers log and the usage graph that
// need no call: the line layouts and the graph's scaling.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "caller/call/callers_log.h"
#include "caller/call/usage_graph.h"
#include "caller/call/user_list.h"
#include "caller/term/call_state.h"
#include "common/runtime.h"

namespace kv::caller {
namespace {

TEST(UserLine, EveryFieldStaysInItsColumn) {
    UserRecord r;
    r.Name = "Terry Tester";
    r.Location = "Testville";
    r.SecurityLevel = 10;
    r.TotalCalls = 123;
    r.LastCallDate = "01/02/24";
    r.LastCallTime = "18:30:00";
    EXPECT_EQ(FormatUserLine(r),
              "Terry Tester             Testville            10    123     01/02/24  18:30:00 ");

    // Too wide for their columns: each is cut where the next begins.
    r.Name = "Bartholomew Maximilian Fitzgerald";
    r.Location = "Llanfairpwllgwyngyll on Sea";
    r.SecurityLevel = 1234567890;
    r.TotalCalls = 4000000000u;
    std::string line = FormatUserLine(r);
    ASSERT_EQ(line.size(), kUserLineWidth);
    EXPECT_EQ(line.substr(0, 25), "Bartholomew Maximilian Fi");
    EXPECT_EQ(line.substr(25, 21), "Llanfairpwllgwyngyll ");
    EXPECT_EQ(line.substr(46, 6), "123456");
    EXPECT_EQ(line.substr(52, 8), "40000000");
    EXPECT_EQ(line.substr(60, 8), "01/02/24");
}

TEST(CallerLogLine, BarsInNamesCannotSplitALine) {
    std::string line = FormatCallerLogLine("Bob|Smith", 2, 38400, "10:15:00", "10:22:30", 7, "Here|There");
    EXPECT_EQ(line, "Bob!Smith|2|38400|10:15:00|10:22:30|7|Here!There");
    EXPECT_EQ(SplitCallerLogLine(line),
              (std::vector<std::string>{"Bob!Smith", "2", "38400", "10:15:00", "10:22:30", "7", "Here!There"}));
    // Lines another writer left short, or without any "|".
    EXPECT_EQ(SplitCallerLogLine("Ann|1|2400"), (std::vector<std::string>{"Ann", "1", "2400", "", "", "", ""}));
    EXPECT_EQ(SplitCallerLogLine("no bars"), (std::vector<std::string>{"no bars", "", "", "", "", "", ""}));
    // A location keeps whatever bars come after the seventh field.
    EXPECT_EQ(SplitCallerLogLine("a|1|2|3|4|5|x|y")[6], "x|y");
}

// A log-off line the disk has no room for leaves no part of itself: the
// next call's line would run on from it and both would read wrong.
TEST(CallersLog, ALineThatDoesNotFitLeavesNoPart) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("kvcallers." + std::to_string(getpid()));
    fs::create_directories(dir);
    ConfigRecord c;
    c.DataDir = dir.string();
    SetConfig(c);
    Call().User.Name = "Terry Tester";
    Call().User.Location = "Testville";
    const std::string path = CallersLogName(0);
    const std::string before = "Ann Other|1|2400|09:00:00|09:10:00|3|Elsewhere\n";
    std::ofstream(path) << before;
    auto logOff = [](rlim_t room) {
        pid_t pid = fork();
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit r{room, room};
            if (room != RLIM_INFINITY) setrlimit(RLIMIT_FSIZE, &r);
            LogCaller();
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    auto contents = [&] {
        std::ifstream in(path);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    };
    ASSERT_TRUE(logOff(before.size() + 10));
    EXPECT_EQ(contents(), before);
    ASSERT_TRUE(logOff(RLIM_INFINITY));
    std::string after = contents();
    ASSERT_EQ(after.substr(0, before.size()), before);
    std::string line = after.substr(before.size());
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    EXPECT_EQ(SplitCallerLogLine(line.substr(0, line.size() - 1))[0], "Terry Tester");
    fs::remove_all(dir);
    Call().User = UserRecord{};
    SetConfig(ConfigRecord{});
}

// The bar heights of a time log: the busiest hour full, the others scaled
// down to whole rows.
std::vector<int> Heights(const TimeLogRecord& r, int& busiestHour) {
    uint32_t busiest = 0;
    busiestHour = BusiestHour(busiest, r);
    UsageGraph grid;
    ScaleGraph(grid, r, busiestHour, busiest);
    std::vector<int> heights(kGraphHours, 0);
    for (int h = 0; h < kGraphHours; ++h)
        for (int row = 0; row < kGraphRows; ++row) heights[size_t(h)] += grid[size_t(row)][size_t(h)];
    return heights;
}

TEST(UsageGraph, BarsScaleToTheBusiestHour) {
    TimeLogRecord r;
    int busiest = 0;
    EXPECT_EQ(Heights(r, busiest), std::vector<int>(kGraphHours, 0));
    EXPECT_EQ(busiest, -1);

    r.Hours[14] = 30;
    r.Hours[9] = 10;
    std::vector<int> h = Heights(r, busiest);
    EXPECT_EQ(busiest, 14);
    EXPECT_EQ(h[14], 20);
    EXPECT_EQ(h[9], 6);  // 10 * 20 / 30, rounded down

    r.Hours[20] = 30;  // a tie goes to the earlier hour
    EXPECT_EQ(Heights(r, busiest)[20], 20);
    EXPECT_EQ(busiest, 14);

    // Counters a door wrote near the top of their range still scale.
    TimeLogRecord big;
    big.Hours[1] = std::numeric_limits<uint32_t>::max();
    big.Hours[2] = std::numeric_limits<uint32_t>::max() / 2;
    h = Heights(big, busiest);
    EXPECT_EQ(h[1], 20);
    EXPECT_EQ(h[2], 9);
}

}  // namespace
}  // namespace kv::caller

// The main loop's timed mail pass, run in this process with a clock of the
// test's own: each nap moves the clock on by the nap's length.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "common/runtime.h"
#include "server/command_pipe.h"
#include "server/server_loop.h"
#include "tests/support/server_process.h"

using namespace kv;
using namespace kv::server;

namespace {

struct PassCase {
    uint8_t mailOut, mailQueued;
    int wantSends;
};

TEST(TimedPass, ComesOneTimeoutAfterStartAndSendsOnlyWithMailOut) {
    const std::vector<PassCase> cases = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 2}};
    test::TempBoard b;
    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(b.root());
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "MailOut " << int(c.mailOut) << ", queued " << int(c.mailQueued));
        ServerSettings s;
        s.Timeout = 1;
        s.NapTime = 15;
        s.MailOut = c.mailOut;
        s.MailQueued = c.mailQueued;
        ASSERT_EQ(OpenServer(s), 1);

        const time_t start = 1'000'000'000;
        time_t now = start;
        SetClock([&now] { return now; });
        std::vector<time_t> imports;
        int sends = 0, naps = 0;
        LoopHooks hooks;
        hooks.importIncomingMail = [&] { imports.push_back(now - start); };
        hooks.sendQueuedMail = [&] { ++sends; };
        hooks.nap = [&](int seconds) {
            now += seconds;
            // Three minutes on, the sysop asks for the stop.
            if (++naps == 12) {
                int fd = open(FifoPath().c_str(), O_WRONLY | O_NONBLOCK);
                ServerCommand cmd;
                cmd.Code = CMD_SHUTDOWN;
                auto rec = EncodeRecord(cmd);
                EXPECT_EQ(write(fd, rec.data(), rec.size()), ssize_t(rec.size()));
                close(fd);
            }
        };
        EXPECT_EQ(RunMainLoop(s, hooks), StopReason::Request);
        CloseServer(StopReason::Request);
        SetClock(nullptr);

        EXPECT_EQ(imports, (std::vector<time_t>{60, 120}));
        EXPECT_EQ(sends, c.wantSends);
        EXPECT_EQ(naps, 12);
        EXPECT_LT(test::SegmentId(), 0);
    }
    std::filesystem::current_path(cwd);
}

// A running program follows the clock file at every reading.
TEST(TestClock, FollowsTheClockFile) {
    test::TempBoard b;
    std::string file = (b.root() / "clock").string();
    setenv("KV_TEST_CLOCK_FILE", file.c_str(), 1);
    SetClock(nullptr);
    b.WriteFile("clock", "1000000000\n");
    EXPECT_EQ(Now(), 1000000000);
    b.WriteFile("clock", "1000003600\n");
    EXPECT_EQ(Now(), 1000003600);
    b.WriteFile("clock", "garbage");
    EXPECT_GT(Now(), 1500000000);  // back on the real clock
    unsetenv("KV_TEST_CLOCK_FILE");
}

}  // namespace

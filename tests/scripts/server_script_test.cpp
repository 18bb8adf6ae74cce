// The board's server as a sysop keeps it: the start command brings a server
// that was killed back in one go, and the README's systemd unit is one that
// starts it again after a failure and lets callers in only after it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <cstring>

#include "tests/support/readme.h"
#include "tests/support/server_process.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

class ServerScript : public ServerTest {
protected:
    RunResult Script(const std::string& what, const TempBoard& b) {
        return RunProgram({"/bin/bash", SourcePath("scripts/board-server.sh"), what, "--bin", KV_BIN_DIR,
                           b.root().string()},
                          b.root());
    }
    // The server the start command noted, made ours to wait for.
    pid_t NotedServer(const TempBoard& b) {
        pid_t pid = 0;
        std::ifstream(b.root() / "state" / "server.pid") >> pid;
        if (pid > 0) running_.push_back(pid);
        return pid;
    }
};

// Whether or not the killed server was collected yet: where nothing reaps
// the dead, it stays a zombie of its PID and name, which runs no more.
TEST_F(ServerScript, OneStartBringsAKilledServerBack) {
    for (bool reaped : {true, false}) {
        SCOPED_TRACE(reaped ? "reaped" : "a zombie");
        TempBoard b;
        RunResult first = Script("start", b);
        ASSERT_EQ(first.status, 0) << first.err;
        pid_t killed = NotedServer(b);
        ASSERT_GT(killed, 0) << first.out;
        ASSERT_EQ(kill(killed, SIGKILL), 0);
        if (reaped) {
            EXPECT_EQ(WaitForExit(killed), 128 + SIGKILL);
        } else {
            ASSERT_TRUE(WaitUntil([&] {
                siginfo_t si{};
                return waitid(P_PID, id_t(killed), &si, WEXITED | WNOHANG | WNOWAIT) == 0 && si.si_pid == killed;
            }));
        }
        ASSERT_GE(SegmentId(), 0) << "the killed server's segment is left";

        RunResult again = Script("start", b);
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_NE(again.out.find("with PID " + std::to_string(killed) + " is taken over\n"), std::string::npos)
            << again.out;
        pid_t pid = NotedServer(b);
        EXPECT_GT(pid, 0);
        EXPECT_NE(pid, killed);
        EXPECT_NE(again.out.find("started with PID = " + std::to_string(pid) + "\n"), std::string::npos)
            << again.out;
        if (!reaped) {
            EXPECT_EQ(WaitForExit(killed), 128 + SIGKILL);
        }

        RunResult stop = Script("stop", b);
        EXPECT_EQ(stop.status, 0) << stop.err;
        EXPECT_EQ(WaitForExit(pid), 0);
        EXPECT_LT(SegmentId(), 0);
    }
}

TEST(ReadmeUnit, StartsTheServerAgainAfterAFailureAndBeforeSshd) {
    std::string unit = ReadmeBlock("[Unit]");
    ASSERT_NE(unit.find("[Service]\n"), std::string::npos) << unit;
    for (const char* line : {"Before=ssh.service ssh.socket", "Type=forking", "Restart=on-failure",
                             "ExecStart=/opt/kivo/scripts/board-server.sh start /srv/board",
                             "PIDFile=/srv/board/state/server.pid"})
        EXPECT_NE(unit.find("\n" + std::string(line) + "\n"), std::string::npos) << line << "\n" << unit;

    // Where systemd's own tool is installed, it reads every line of the
    // unit without a complaint (the scripts stand in for the board's, which
    // it wants to find).
    if (access("/usr/bin/systemd-analyze", X_OK) != 0) return;
    char dir[] = "/tmp/kvunitXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string local = unit;
    for (size_t at; (at = local.find("/opt/kivo/scripts/board-server.sh")) != std::string::npos;)
        local.replace(at, std::strlen("/opt/kivo/scripts/board-server.sh"), "/bin/true");
    fs::path file = fs::path(dir) / "kivo-board.service";
    std::ofstream(file) << local;
    RunResult r = RunProgram({"/usr/bin/systemd-analyze", "verify", file.string()}, dir, {}, 60);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("kivo-board.service"), std::string::npos) << r.err;
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kv::test

// The callers' account as the README makes it: no password (ssh callers
// give none) and the line entry as its login shell.  A local user's su to
// it lands in the board like a caller, never in a shell and never running a
// command or an environment of the user's choosing; an ssh call without a
// password or key still reaches the log-in.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/shm.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "common/online_status.h"
#include "common/runtime.h"
#include "tests/support/caller_fixture.h"
#include "tests/support/readme.h"
#include "tests/support/server_process.h"
#include "tests/support/sshd.h"
#include "tests/support/system_user.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

class CallersAccount : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanMakeUsers()) GTEST_SKIP() << "needs root, to make the account and a local user";
        board_ = std::make_unique<TempBoard>();
        account_ = std::make_unique<ThrowAwayUser>("bbs", ProgramPath("kvline"), board_->root().string());
        local_ = std::make_unique<ThrowAwayUser>("loc", "/bin/sh");
        ASSERT_TRUE(account_->ok() && local_->ok());
        ASSERT_EQ(RunProgram({"/usr/bin/passwd", "-d", account_->name()}, "/").status, 0);
        account_->Own(board_->root());
        if (RunProgram(account_->As({"/usr/bin/test", "-x", ProgramPath("kvline")}), "/").status != 0)
            GTEST_SKIP() << "the programs of this build are out of other users' reach";
        RunResult r = RunProgram({"/bin/bash", SourcePath("scripts/board-server.sh"), "start", "--bin", KV_BIN_DIR,
                                  board_->root().string()},
                                 "/");
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        SetConfig(board_->config());
        mark_ = "/tmp/kvmark." + std::to_string(getpid());
        fs::remove(mark_);
    }
    void TearDown() override {
        if (board_ && account_ && account_->ok())
            RunProgram({"/bin/bash", SourcePath("scripts/board-server.sh"), "stop", "--bin", KV_BIN_DIR,
                        board_->root().string()}, "/");
        if (int id = SegmentId(); id >= 0) shmctl(id, IPC_RMID, nullptr);
        std::error_code ec;
        fs::remove(mark_, ec);
    }

    // The call reached the board's log-in as the account, with the
    // account's own environment; then it hangs up and the line is free.
    void ExpectACallOfTheBoard(Caller& c) {
        ASSERT_TRUE(c.Expect("is line 0.")) << c.Rest();
        ASSERT_TRUE(c.Expect("Your full name: ")) << c.Rest();
        OnlineEntry e;
        ASSERT_TRUE(ReadOnlineEntry(0, e));
        EXPECT_EQ(ProcessUser(e.Pid), account_->uid());
        std::ifstream environ("/proc/" + std::to_string(e.Pid) + "/environ");
        std::string env((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
        EXPECT_NE(env.find(std::string("PATH=/usr/local/bin:/usr/bin:/bin") + '\0'), std::string::npos);
        EXPECT_EQ(env.find("BASH_ENV="), std::string::npos);
        EXPECT_EQ(env.find("KV_TEST_NOW="), std::string::npos);
        c.session().Hangup();
        c.Wait();
        EXPECT_TRUE(WaitUntil([&] { return !fs::exists(board_->root() / "state" / "line.0"); }));
    }

    std::unique_ptr<TempBoard> board_;
    std::unique_ptr<ThrowAwayUser> account_, local_;
    std::string mark_;
};

TEST_F(CallersAccount, ALocalUsersSuLandsInTheBoardAndRunsNothingOfItsOwn) {
    const std::string command = "id > " + mark_;
    const std::string& account = account_->name();
    const std::vector<std::vector<std::string>> ways = {
        {account},
        {"-c", command, account},
        {"-s", "/bin/bash", "-c", command, account},  // a restricted shell: -s is not for the user
        {"-", account, "-c", command},
        {"-p", account, "-c", command},
    };
    for (const auto& way : ways) {
        std::string line = "su";
        for (const auto& a : way) line += " " + a;
        SCOPED_TRACE(line);
        PtyOptions o;
        o.argv = local_->As({"/usr/bin/su"});
        o.argv.insert(o.argv.end(), way.begin(), way.end());
        o.env = {"BASH_ENV=" + mark_, "KV_TEST_NOW=0", "SHELL=/bin/bash", "PATH=/tmp:/usr/bin:/bin"};
        Caller su(o);
        ExpectACallOfTheBoard(su);
        EXPECT_FALSE(fs::exists(mark_));
        EXPECT_EQ(su.session().Output().find("uid="), std::string::npos);
    }
}

// Replaces every from in text.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

// The README's sshd settings for the account, as printed (its account, its
// programs and its board made this test's), with Debian's PAM.
TEST_F(CallersAccount, AnSshCallWithoutPasswordOrKeyReachesTheLogIn) {
    std::string match = ReadmeBlock("Match User bbs");
    ASSERT_NE(match.find("ForceCommand /opt/kivo/bin/kvline /srv/board\n"), std::string::npos) << match;
    match = Replaced(match, "Match User bbs", "Match User " + account_->name());
    match = Replaced(Replaced(match, "/opt/kivo/bin", KV_BIN_DIR), "/srv/board", board_->root().string());
    TestSshd sshd;
    ASSERT_TRUE(sshd.Start("UsePAM yes\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n" + match))
        << sshd.Log();
    PtyOptions o;
    o.argv = sshd.Client(account_->name(), {"-o", "BatchMode=yes", "-o", "PubkeyAuthentication=no"});
    Caller call(o);
    ExpectACallOfTheBoard(call);
    EXPECT_NE(sshd.Log().find("Accepted none for " + account_->name()), std::string::npos) << sshd.Log();
}

// The account the README makes is the one these tests make: the entry as
// its shell, the board as its home, and no shell of /etc/shells.
TEST(CallersAccountInTheReadme, HasTheEntryForItsShellAndTheBoardForItsHome) {
    std::string adduser = ReadmeLineWith("adduser ");
    EXPECT_NE(adduser.find(" --shell /opt/kivo/bin/kvline "), std::string::npos) << adduser;
    EXPECT_NE(adduser.find(" --home /srv/board "), std::string::npos) << adduser;
    EXPECT_EQ(adduser.find("/bin/bash"), std::string::npos) << adduser;
    std::ifstream shells("/etc/shells");
    for (std::string line; std::getline(shells, line);) EXPECT_NE(line, "/opt/kivo/bin/kvline");
}

}  // namespace
}  // namespace kv::test

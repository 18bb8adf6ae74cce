// Callers over the network as they come in: OpenSSH's sshd of this test on
// 127.0.0.1, configured with the board's entry program as its forced
// command, a real kvhubd, and ssh clients on pseudo-terminals of the
// harness.  The sysop's console runs on a pseudo-terminal too.
// "online.ctl", "bbsline.ctl" and the entry program's state are read
// afterwards.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "common/online_status.h"
#include "sample/tools/builders.h"
#include "tests/support/caller_fixture.h"
#include "tests/support/sshd.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

class SshLines : public CallerTest {
protected:
    void SetUp() override {
        CallerTest::SetUp();
        if (geteuid() != 0) GTEST_SKIP() << "sshd logs callers in only when it runs as root";
        ASSERT_TRUE(sshd_.Start("UsePAM no\nStrictModes no\nPermitRootLogin prohibit-password\n"
                                "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                "AcceptEnv LANG LC_*\nForceCommand " +
                                ProgramPath("kvline") + " " + board().root().string() + "\n"))
            << sshd_.Log();
        StartBoard();
        SetConfig(board().config());
    }
    void TearDown() override {
        calls_.clear();
        CallerTest::TearDown();
    }

    std::string SshdLog() { return sshd_.Log(); }

    // A call: ssh with a terminal, the caller's locale sent along.
    Caller& Call(const std::string& lang = "C") {
        PtyOptions o;
        o.argv = sshd_.Client(getpwuid(geteuid())->pw_name, {"-o", "SendEnv=LANG"});
        o.env = {"LANG=" + lang};
        calls_.push_back(std::make_unique<Caller>(o));
        return *calls_.back();
    }
    // The client dies: its connection, and so the line, goes.
    void HangUp(Caller& c) {
        kill(c.session().pid(), SIGKILL);
        c.session().Wait();
    }

    OnlineEntry Entry(int line) {
        OnlineEntry e;
        ReadOnlineEntry(line, e);
        return e;
    }
    bool LineFree(int line) {
        return !fs::exists(board().root() / "state" / ("line." + std::to_string(line))) && Entry(line).Pid == -1;
    }
    std::string Lines() { return board().ReadFile(board().DataDir() / "bbsline.ctl"); }

    TestSshd sshd_;
    std::vector<std::unique_ptr<Caller>> calls_;
};

// Two callers at once, each on a line of their own; they find each other
// and chat; both hang up and their lines are free, bbsline.ctl no longer
// than the two entries they needed; the next call gets a freed line, which
// is free again when its kivo is killed.
TEST_F(SshLines, TwoCallersChatHangUpAndTheirLinesComeBack) {
    Caller& sam = Call("C.UTF-8");
    ASSERT_TRUE(sam.Expect("is line 0.")) << sam.Rest() << SshdLog();
    sam.LogInAs("sam sysop", "lighthouse");
    ASSERT_TRUE(sam.Expect("Your choice: ")) << sam.Rest();
    Caller& terry = Call();
    ASSERT_TRUE(terry.Expect("is line 1.")) << terry.Rest();
    terry.LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(terry.Expect("Your choice: ")) << terry.Rest();

    // The caller's locale reached kivo.
    std::ifstream environ("/proc/" + std::to_string(Entry(0).Pid) + "/environ");
    std::string env((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
    EXPECT_NE(env.find(std::string("LANG=C.UTF-8") + '\0'), std::string::npos);

    sam.Send("w");
    ASSERT_TRUE(sam.Expect("Callers on the other lines")) << sam.Rest();
    ASSERT_TRUE(sam.Expect("Terry Tester")) << sam.Rest();
    ASSERT_TRUE(sam.Answer("Press a key to go on.", " ")) << sam.Rest();
    ASSERT_TRUE(sam.Expect("Your choice: ")) << sam.Rest();

    terry.Send("t");
    ASSERT_TRUE(terry.Answer("Line to call (0-9): ", "0\r")) << terry.Rest();
    ASSERT_TRUE(terry.Expect("Line 0: Sam Sysop")) << terry.Rest();
    ASSERT_TRUE(terry.Answer("ask for a chat", "c")) << terry.Rest();
    ASSERT_TRUE(sam.Expect("Terry Tester from Testville, line 1")) << sam.Rest();
    ASSERT_TRUE(sam.Answer("Chat now?", "y")) << sam.Rest();
    for (Caller* c : {&sam, &terry}) {
        ASSERT_TRUE(c->Expect("(ESC leaves)")) << c->Rest();
        ASSERT_TRUE(c->Expect("\033[1;36m\033[40m")) << c->Rest();
    }
    terry.Send("hello sam");
    EXPECT_TRUE(sam.Expect("hello sam")) << sam.Rest();
    sam.Send("hi terry");
    EXPECT_TRUE(terry.Expect("hi terry")) << terry.Rest();

    std::string lines = Lines();
    HangUp(sam);
    HangUp(terry);
    EXPECT_TRUE(WaitUntil([&] { return LineFree(0) && LineFree(1); })) << Entry(0).Pid << " " << Entry(1).Pid;
    EXPECT_EQ(Lines(), lines);

    Caller& third = Call();
    ASSERT_TRUE(third.Expect("is line 0.")) << third.Rest();
    ASSERT_TRUE(third.Expect("Your full name: ")) << third.Rest();
    std::string now = Lines();
    EXPECT_EQ(std::count(now.begin(), now.end(), '\n'), 3) << now;  // the comment and two lines
    // A kivo killed outright cannot log off: its entry is cleared for it.
    ASSERT_EQ(0, kill(Entry(0).Pid, SIGKILL));
    EXPECT_TRUE(WaitUntil([&] { return LineFree(0); })) << Entry(0).Pid;
    EXPECT_GE(third.Wait(), 0);
}

// The sysop's console on the sysop's own terminal: a caller's page rings
// there, the sysop answers it into a chat in which both type, ends it with
// Ctrl-C, switches the line's monitor on and off, and on leaving gives
// SysopConsole back.
TEST_F(SshLines, TheSysopAnswersAPageIntoAChat) {
    PtyOptions o;
    o.argv = {ProgramPath("kvconsole"), board().root().string()};
    o.utf8 = true;
    Caller sysop(o);
    ASSERT_TRUE(sysop.Expect("Pages ring here")) << sysop.Rest();
    ASSERT_TRUE(WaitForLog(board(), "Configuration reloaded"));

    Caller& terry = Call("C.UTF-8");
    terry.LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(terry.Answer("Your choice: ", "p")) << terry.Rest();
    ASSERT_TRUE(sysop.Expect("Terry Tester is paging you")) << sysop.Rest();
    sysop.Send("a");
    ASSERT_TRUE(terry.Expect("Hello Terry, this is Sam Sysop. Go ahead!")) << terry.Rest();
    // The console's head may be drawn anew between the letters of a line:
    // its text is looked for on the screen.
    terry.Send("hello sysop, un cr\xC3\xA8me\r");
    ASSERT_TRUE(sysop.session().WaitForText("hello sysop, un cr\xC3\xA8me")) << sysop.session().Screen();
    sysop.Send("hello terry, caf\xC3\xA9");
    EXPECT_TRUE(terry.Expect("hello terry, caf\xC3\xA9")) << terry.Rest();
    EXPECT_TRUE(sysop.session().WaitForText("hello terry, caf\xC3\xA9")) << sysop.session().Screen();
    sysop.Send("\x03");
    ASSERT_TRUE(sysop.Expect("Chat with line 0 ended.")) << sysop.Rest();
    ASSERT_TRUE(terry.Answer("Chat with the sysop ended. Press Enter", "\r")) << terry.Rest();

    // The monitor of the line, on and off again.
    for (bool on : {true, false}) {
        sysop.Send("m");
        ASSERT_TRUE(sysop.Answer("Monitor line: ", "0\r")) << sysop.Rest();
        ASSERT_TRUE(sysop.Expect("Monitor of line 0 switched")) << sysop.Rest();
        EXPECT_TRUE(WaitUntil([&] { return ((Entry(0).Flags & LINE_MONITORED) != 0) == on; }));
    }

    sysop.Send("q");
    EXPECT_EQ(sysop.Wait(), 0) << sysop.Rest();
    ConfigRecord c;
    ASSERT_TRUE(sample::ReadConfigRecord((board().root() / "kvconfig.bbs").string(), c));
    EXPECT_EQ(c.SysopConsole, "console");
}

}  // namespace
}  // namespace kv::test

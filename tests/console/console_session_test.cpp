// The sysop's console as a sysop meets it: kvconsole on a pseudo-terminal
// of the harness (the sysop's own terminal, UTF-8 unless a case says
// otherwise), a real kvhubd, callers in kivo on lines of their own.  The
// screens are read back through libvterm, "kvconfig.bbs" and "online.ctl"
// afterwards.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/online_status.h"
#include "common/whole_file.h"
#include "common/runtime.h"
#include "sample/tools/builders.h"
#include "tests/support/caller_fixture.h"
#include "tests/support/system_user.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

class SysopConsole : public CallerTest {
protected:
    void SetUp() override {
        CallerTest::SetUp();
        StartBoard();
        SetConfig(board().config());
    }

    // The console in the sysop's terminal; its device below "/dev/" and
    // that terminal's owner, mode and modes before the console started.
    std::unique_ptr<Caller> StartConsole(bool utf8 = true, const std::vector<std::string>& env = {}) {
        PtyOptions o;
        o.argv = {ProgramPath("kvconsole"), board().root().string()};
        o.utf8 = utf8;
        o.env = env;
        o.beforeStart = [this](const std::string& device) {
            sysopTty_ = "/dev/" + device;
            stat(sysopTty_.c_str(), &ttyBefore_);
            int fd = open(sysopTty_.c_str(), O_RDWR | O_NOCTTY);
            tcgetattr(fd, &modesBefore_);
            close(fd);
        };
        auto c = std::make_unique<Caller>(o);
        EXPECT_TRUE(c->Expect("Pages ring here")) << c->Rest();
        return c;
    }
    std::string ConfiguredConsole() {
        ConfigRecord c;
        EXPECT_TRUE(sample::ReadConfigRecord((board().root() / "kvconfig.bbs").string(), c));
        return c.SysopConsole;
    }
    size_t Reloads() {
        std::string log = ServerLog(board());
        size_t n = 0;
        for (size_t at = log.find("Configuration reloaded"); at != std::string::npos;
             at = log.find("Configuration reloaded", at + 1))
            ++n;
        return n;
    }
    // The console running, the server has taken its name.
    std::unique_ptr<Caller> StartConsoleAndWait(bool utf8 = true, const std::vector<std::string>& env = {}) {
        size_t before = Reloads();
        auto c = StartConsole(utf8, env);
        EXPECT_TRUE(WaitUntil([&] { return Reloads() > before; })) << ServerLog(board());
        return c;
    }
    std::unique_ptr<Caller> LogIn(bool utf8 = true) {
        auto c = Dial({}, {}, utf8);
        c->LogInAs("terry tester", "keyboard");
        EXPECT_TRUE(c->Expect("Your choice: ")) << c->Rest();
        return c;
    }
    OnlineEntry Entry(int line) {
        OnlineEntry e;
        ReadOnlineEntry(line, e);
        return e;
    }
    bool RowShows(Caller& c, int row, const std::string& text) {
        return c.session().WaitFor([&] { return c.session().Row(row).find(text) != std::string::npos; });
    }
    // A console started anew takes Terry's page and answers it; the sysop
    // then ends the chat and quits.
    void NewConsoleAnswers(Caller& terry) {
        auto sysop = StartConsoleAndWait();
        terry.Send("p");
        EXPECT_TRUE(sysop->Expect("Terry Tester is paging you")) << sysop->Rest();
        sysop->Send("a");
        ASSERT_TRUE(terry.Expect("Go ahead!")) << terry.Rest();
        sysop->Send("\x03q");
        EXPECT_EQ(0, sysop->Wait());
    }

    std::string sysopTty_;
    struct stat ttyBefore_ {};
    termios modesBefore_{};
};

// A caller already at the menu when the console starts pages, and the
// first page rings; the head shows the line that pages, the answer opens
// the chat and takes the mark away.  The sysop's terminal keeps its owner,
// group, mode and modes through it all.
TEST_F(SysopConsole, FirstPageOfACallerAlreadyOnRings) {
    auto terry = LogIn();
    auto sysop = StartConsoleAndWait();
    EXPECT_TRUE(RowShows(*sysop, 2, "On line: 0 Terry Tester")) << sysop->session().Screen();
    EXPECT_NE(ConfiguredConsole(), "console");

    terry->Send("p");
    ASSERT_TRUE(sysop->Expect("Terry Tester is paging you from " + devices_[0])) << sysop->Rest();
    EXPECT_TRUE(RowShows(*sysop, 1, "Paging: line 0 Terry Tester")) << sysop->session().Screen();
    EXPECT_TRUE(sysop->session().Cell(1, 0).reverse);
    EXPECT_TRUE(Entry(0).Flags & LINE_PAGING);

    sysop->Send("a");
    ASSERT_TRUE(terry->Expect("Hello Terry, this is Sam Sysop. Go ahead!")) << terry->Rest();
    EXPECT_TRUE(RowShows(*sysop, 1, "No line pages.")) << sysop->session().Screen();
    EXPECT_TRUE(WaitUntil([&] { return (Entry(0).Flags & LINE_PAGING) == 0; }));
    terry->Send("hello sysop\r");
    ASSERT_TRUE(sysop->session().WaitForText("hello sysop")) << sysop->session().Screen();
    sysop->Send("\x03");
    ASSERT_TRUE(sysop->Expect("Chat with line 0 ended.")) << sysop->Rest();
    ASSERT_TRUE(terry->Answer("Chat with the sysop ended. Press Enter", "\r")) << terry->Rest();

    sysop->Send("q");
    EXPECT_EQ(0, sysop->Wait()) << sysop->Rest();
    EXPECT_EQ("console", ConfiguredConsole());
    struct stat after {};
    ASSERT_EQ(0, stat(sysopTty_.c_str(), &after));
    EXPECT_EQ(ttyBefore_.st_mode, after.st_mode);
    EXPECT_EQ(ttyBefore_.st_uid, after.st_uid);
    EXPECT_EQ(ttyBefore_.st_gid, after.st_gid);
    termios modes = sysop->session().SlaveModes();
    EXPECT_EQ(modesBefore_.c_lflag, modes.c_lflag);
    EXPECT_EQ(modesBefore_.c_iflag, modes.c_iflag);
    EXPECT_EQ(modesBefore_.c_oflag, modes.c_oflag);
}

// A chat in both their letters, the sysop's terminal in UTF-8, the caller's
// in UTF-8 or in the PC set: each sees the other's accents right, and a
// character the PC set lacks rings the sysop's bell instead of arriving.
TEST_F(SysopConsole, ChatInBothTheirLetters) {
    auto sysop = StartConsoleAndWait();
    const struct {
        const char* what;
        bool utf8;
        std::string typed;  // "Oui, un crème" as the caller's terminal sends it
    } cases[] = {{"UTF-8 caller", true, "Oui, un cr\xC3\xA8me\r"}, {"8-bit caller", false, "Oui, un cr\x8Ame\r"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto terry = LogIn(c.utf8);
        const std::string line = std::to_string(devices_.size() - 1);
        sysop->Send("a");
        ASSERT_TRUE(sysop->Answer("Chat with line: ", line + "\r")) << sysop->Rest();
        ASSERT_TRUE(terry->Expect("Go ahead!")) << terry->Rest();
        // The console's head may be drawn anew between two letters of a
        // line (a caller of the case before leaves): the screen is read,
        // where the case before left the same lines.
        const int times = int(&c - cases) + 1;
        auto shownOnConsole = [&](const std::string& text) {
            return sysop->session().WaitFor([&] {
                std::string screen = sysop->session().Screen();
                int n = 0;
                for (size_t at = screen.find(text); at != std::string::npos; at = screen.find(text, at + 1)) ++n;
                return n >= times;
            });
        };
        auto bells = [&] { return std::count(sysop->session().Output().begin(), sysop->session().Output().end(), '\a'); };
        const std::string caller = "Oui, un cr\xC3\xA8me", sysopText = "Gr\xC3\xBC\xC3\x9F dich, caf\xC3\xA9 !";
        terry->Send(c.typed);
        ASSERT_TRUE(shownOnConsole(caller)) << sysop->session().Screen();
        auto before = bells();
        sysop->Send("Gr\xC3\xBC\xC3\x9F dich, caf\xC3\xA9 \xE2\x82\xAC!\r");
        ASSERT_TRUE(shownOnConsole(sysopText)) << sysop->session().Screen();
        EXPECT_EQ(before + 1, bells());
        EXPECT_TRUE(terry->session().WaitForText(caller)) << terry->session().Screen();
        EXPECT_TRUE(terry->session().WaitForText(sysopText)) << terry->session().Screen();
        sysop->Send("\x03");
        ASSERT_TRUE(terry->Answer("Press Enter", "\r")) << terry->Rest();
        terry->session().Hangup();
        terry->Wait();
    }
    sysop->Send("q");
    EXPECT_EQ(0, sysop->Wait());
}

// What a caller types in the chat never drives the sysop's screen: no
// title, cursor report, clear, other screen or clipboard write reaches it,
// and the console's head stays where it stands.
TEST_F(SysopConsole, CallerSequencesNeverReachTheConsole) {
    auto terry = LogIn();
    auto sysop = StartConsoleAndWait();
    sysop->Send("a");
    ASSERT_TRUE(sysop->Answer("Chat with line: ", "0\r")) << sysop->Rest();
    ASSERT_TRUE(terry->Expect("Go ahead!")) << terry->Rest();
    const size_t from = sysop->session().Output().size();
    terry->Send("1\033]0;owned\a2\033[6n3\033[2J4\033[?1049h5\033]52;c;cGFzdGU=\a6\r");
    ASSERT_TRUE(sysop->Expect("6\r\n")) << sysop->Rest();
    const std::string got = sysop->session().Output().substr(from);
    for (const char* sequence : {"\033]", "\033[6n", "\033[2J", "\033[?1049h", "\a"})
        EXPECT_EQ(std::string::npos, got.find(sequence)) << sequence;
    EXPECT_NE(std::string::npos, sysop->session().Row(0).find("the sysop's console")) << sysop->session().Screen();
    sysop->Send("\x03q");
    EXPECT_EQ(0, sysop->Wait());
}

// A console killed outright leaves its name behind: a page then tells the
// caller the console cannot be reached, and the next console works.
TEST_F(SysopConsole, AfterAKilledConsoleTheNextOneWorks) {
    auto terry = LogIn();
    auto dead = StartConsoleAndWait();
    // Held open here, the dead console's terminal keeps its number from
    // another test's terminal, so that a page finds it gone.
    int held = open(("/dev/" + ConfiguredConsole()).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(0, kill(dead->session().pid(), SIGKILL));
    dead->Wait();
    dead.reset();  // the sysop's terminal goes too

    terry->Send("p");
    ASSERT_TRUE(terry->Expect("Sorry, the sysop's console cannot be reached.")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Your choice: ", 20000)) << terry->Rest();
    EXPECT_EQ(0, Entry(0).Flags & LINE_PAGING);
    close(held);

    NewConsoleAnswers(*terry);
}

// Every way out but SIGKILL puts SysopConsole back and asks the server to
// reload it; a chat still running then ends for the caller.
TEST_F(SysopConsole, EveryWayOutGivesTheNameBack) {
    auto terry = LogIn();
    const struct {
        const char* what;
        std::function<void(Caller&)> leave;
        std::vector<int> statuses;
    } cases[] = {
        {"q", [](Caller& c) { c.Send("\x03q"); }, {0}},
        {"SIGTERM", [](Caller& c) { kill(c.session().pid(), SIGTERM); }, {128 + SIGTERM}},
        {"SIGINT", [](Caller& c) { kill(c.session().pid(), SIGINT); }, {128 + SIGINT}},
        // The terminal closed: the hang-up comes first, or the end of input.
        {"terminal closed", [](Caller& c) { c.session().Hangup(); }, {128 + SIGHUP, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto sysop = StartConsoleAndWait();
        sysop->Send("a");
        ASSERT_TRUE(sysop->Answer("Chat with line: ", "0\r")) << sysop->Rest();
        ASSERT_TRUE(terry->Expect("Go ahead!")) << terry->Rest();
        size_t reloads = Reloads();
        c.leave(*sysop);
        int status = sysop->Wait();
        EXPECT_NE(c.statuses.end(), std::find(c.statuses.begin(), c.statuses.end(), status)) << status;
        EXPECT_EQ("console", ConfiguredConsole());
        EXPECT_TRUE(WaitUntil([&] { return Reloads() > reloads; })) << ServerLog(board());
        // The chat came during the menu's key wait, which goes on.
        ASSERT_TRUE(terry->Answer("Press Enter", "\r")) << terry->Rest();
    }
}

// The console killed between each rewrite of the configuration and the
// reload that follows it: the file is whole, naming the console or what
// it named before, no temporary of the rewrite is left, and the next
// console starts, works and ends as ever.
TEST_F(SysopConsole, KilledAtEachStepOfItsRewrites) {
    auto terry = LogIn();
    for (int pass : {1, 2}) {
        SCOPED_TRACE(pass);
        const std::string before = ConfiguredConsole();
        PtyOptions o;
        o.argv = {ProgramPath("kvconsole"), board().root().string()};
        o.env = {"KV_TEST_KILL_AT=console:" + std::to_string(pass)};
        Caller killed(o);
        if (pass == 2) {
            ASSERT_TRUE(killed.Expect("Pages ring here")) << killed.Rest();
            killed.Send("q");
        }
        EXPECT_EQ(128 + SIGKILL, killed.Wait());
        std::string configured = ConfiguredConsole();
        // Killed after naming itself, or after giving the name back.
        if (pass == 1) EXPECT_TRUE(configured != before && configured.rfind("pts/", 0) == 0) << configured;
        else EXPECT_EQ(before, configured);
        EXPECT_EQ(kConfigFileSize, fs::file_size(board().root() / "kvconfig.bbs"));
        EXPECT_TRUE(TempFilesBeside(board().root().string(), {"kvconfig.bbs"}).empty());

        NewConsoleAnswers(*terry);
        ASSERT_TRUE(terry->Answer("Press Enter", "\r")) << terry->Rest();
        EXPECT_EQ(configured, ConfiguredConsole());
    }
}

// Run as root, the console works as the board's owner on another user's
// board, and refuses root's own board where other users may write.
TEST_F(SysopConsole, RootWorksAsTheBoardsOwner) {
    if (!CanMakeUsers()) GTEST_SKIP() << "needs root and useradd";
    ThrowAwayUser owner("console");
    ASSERT_TRUE(owner.ok());
    {
        fs::permissions(board().root(), fs::perms::others_write, fs::perm_options::add);
        PtyOptions o;
        o.argv = {ProgramPath("kvconsole"), board().root().string()};
        Caller refused(o);
        EXPECT_TRUE(refused.Expect("is open to other users' writes")) << refused.Rest();
        EXPECT_EQ(1, refused.Wait());
        fs::permissions(board().root(), fs::perms::others_write, fs::perm_options::remove);
    }
    owner.Own(board().root());
    auto sysop = StartConsoleAndWait();
    EXPECT_EQ(owner.uid(), ProcessUser(sysop->session().pid()));
    struct stat tty {}, config {};
    ASSERT_EQ(0, stat(("/dev/" + ConfiguredConsole()).c_str(), &tty));
    EXPECT_EQ(owner.uid(), tty.st_uid);
    ASSERT_EQ(0, stat((board().root() / "kvconfig.bbs").c_str(), &config));
    EXPECT_EQ(owner.uid(), config.st_uid);
    sysop->Send("q");
    EXPECT_EQ(0, sysop->Wait()) << sysop->Rest();
    EXPECT_EQ("console", ConfiguredConsole());
}

}  // namespace
}  // namespace kv::test

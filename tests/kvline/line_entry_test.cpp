// The line entry's pieces: the entry of bbsline.ctl rewritten for a call,
// its command line (as the callers' account's shell too, whose command is
// never run), the environment that shell passes, which line a call gets,
// and what it refuses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/line_table.h"
#include "common/online_status.h"
#include "common/runtime.h"
#include "tests/support/board.h"
#include "tools/kvline/line_entry.h"
#include "tools/kvline/owner_relay.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

using namespace kv::line;

TEST(LineTable, ADeviceGoesIntoItsEntryAndNothingElseChanges) {
    struct Case {
        const char* text;
        int line;
        const char* want;
    } cases[] = {
        {"# device,speed,delay\nconsole,0,0\n", 0, "# device,speed,delay\npts/3,0,0\n"},
        // The line's speed and delay stay; comments do not count as lines.
        {"tty1,2400,5\n# spare\ntty2,9600,1\n", 1, "tty1,2400,5\n# spare\npts/3,9600,1\n"},
        {"tty1\n", 0, "pts/3,0,0\n"},
        // One entry more than the file has: added at the end.
        {"# device,speed,delay\ntty1,0,0\n", 1, "# device,speed,delay\ntty1,0,0\npts/3,0,0\n"},
        {"tty1,0,0", 1, "tty1,0,0\npts/3,0,0\n"},
        {"", 0, "pts/3,0,0\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SetLineDevice(c.text, c.line, "pts/3"), c.want) << c.text;
        std::vector<LineTableEntry> lines = ParseLineTable(c.want);
        ASSERT_GT(lines.size(), size_t(c.line)) << c.want;
        EXPECT_EQ(lines[size_t(c.line)].Device, "pts/3") << c.want;
    }
    EXPECT_EQ(CountLineEntries("# c\ntty1,0,0\n\ntty2,0,0"), 3);
}

struct OptionCase {
    std::vector<const char*> argv;
    bool ok;
    LineOptions::Mode mode;
    const char* board;
    const char* bin;
};

constexpr const char* kUsage =
    "usage: kvline [--bin DIR] BOARD | kvline --in-use BOARD | kvline --owner DIR\n"
    "       kvline --as-owner DIR COMMAND [ARG...] | kvline --as-owner-on-pty DIR COMMAND [ARG...]";

TEST(LineOptions, ACallAQueryOrTheAccountsShellWhoseCommandIsNeverRun) {
    const OptionCase cases[] = {
        {{"kvline", "/srv/board"}, true, LineOptions::kCall, "/srv/board", ""},
        {{"kvline", "--bin", "/opt/kivo/bin", "/srv/board"}, true, LineOptions::kCall, "/srv/board", "/opt/kivo/bin"},
        {{"kvline", "--in-use", "/srv/board"}, true, LineOptions::kInUse, "/srv/board", ""},
        {{"kvline", "--owner", "/srv/board"}, true, LineOptions::kOwner, "/srv/board", ""},
        // As a login shell: from su, from login, from sshd with a command.
        {{"kvline"}, true, LineOptions::kAccountShell, "", ""},
        {{"-kvline"}, true, LineOptions::kAccountShell, "", ""},
        {{"kvline", "-c", "id > /tmp/x"}, true, LineOptions::kAccountShell, "", ""},
        {{"kvline", "-c", "--bin /tmp/mine /tmp/board"}, true, LineOptions::kAccountShell, "", ""},
        {{"-kvline", "/tmp/board"}, true, LineOptions::kAccountShell, "", ""},
        {{"kvline", "--bin", "/opt/kivo/bin"}, false, LineOptions::kCall, "", ""},
        {{"kvline", "/srv/board", "more"}, false, LineOptions::kCall, "", ""},
        {{"kvline", "--fresh", "/srv/board"}, false, LineOptions::kCall, "", ""},
        {{"kvline", "--as-owner", "/srv/board", "/bin/bash", "-c", "x"}, true, LineOptions::kAsOwner, "/srv/board", ""},
        {{"kvline", "--as-owner-on-pty", "/srv/board", "/bin/bash"}, true, LineOptions::kAsOwnerOnPty, "/srv/board",
         ""},
        // A command is a path: nothing is looked up in a PATH of anyone's.
        {{"kvline", "--as-owner", "/srv/board", "bash"}, false, LineOptions::kCall, "", ""},
        {{"kvline", "--as-owner", "/srv/board"}, false, LineOptions::kCall, "", ""},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const char* a : c.argv) line += std::string(a) + " ";
        LineOptions o;
        std::string error;
        ASSERT_EQ(ParseLineOptions(int(c.argv.size()), c.argv.data(), o, error), c.ok) << line;
        if (!c.ok) {
            EXPECT_EQ(error, kUsage);
            continue;
        }
        EXPECT_EQ(o.mode, c.mode) << line;
        EXPECT_EQ(o.board, c.board) << line;
        EXPECT_EQ(o.bin, c.bin) << line;
    }
}

TEST(LineOptions, TheAccountsShellPassesOnlyTheTerminalAndTheLocale) {
    const char* given[] = {"TERM=xterm-256color", "LANG=de_DE.UTF-8", "LC_CTYPE=C.UTF-8", "PATH=/tmp/mine:/usr/bin",
                           "BASH_ENV=/tmp/mine/rc", "KV_TEST_NOW=0", "TZ=Pacific/Kiritimati", "HOME=/tmp/mine",
                           "LD_PRELOAD=/tmp/mine/x.so", nullptr};
    std::vector<std::string> env = AccountShellEnvironment(given, "/srv/board", "bbs", "/opt/kivo/bin/kvline");
    EXPECT_EQ(env, (std::vector<std::string>{"TERM=xterm-256color", "LANG=de_DE.UTF-8", "LC_CTYPE=C.UTF-8",
                                             "HOME=/srv/board", "USER=bbs", "LOGNAME=bbs",
                                             "SHELL=/opt/kivo/bin/kvline", "PATH=/usr/local/bin:/usr/bin:/bin"}));
}

// A process that runs under the name kivo, as a line's caller program does.
class NamedKivo {
public:
    NamedKivo() {
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_NAME, "kivo");
            pause();
            _exit(0);
        }
        WaitUntil([&] { return KivoLive(pid_); });
    }
    ~NamedKivo() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_;
};

pid_t DeadPid() {
    pid_t p = fork();
    if (p == 0) _exit(0);
    waitpid(p, nullptr, 0);
    return p;
}

class LineChoice : public ::testing::Test {
protected:
    void SetUp() override {
        SetConfig(board_.config());
        ASSERT_TRUE(CreateOnlineFile());
        state_ = board_.root() / "state";
        fs::create_directories(state_);
    }
    void Claim(int line, const std::string& text) { board_.WriteFile(state_ / ("line." + std::to_string(line)), text); }
    void Online(int line, int32_t pid) {
        OnlineEntry e;
        e.Pid = pid;
        ASSERT_TRUE(WriteOnlineEntry(line, e));
    }
    int Choose(int count) { return ChooseLine(state_.string(), count); }

    TempBoard board_;
    fs::path state_;
};

// A line is taken while its entry program runs (its claim names a live
// process by id and start time) or a kivo runs there; a claim or an entry
// that a dead process left frees it.
TEST_F(LineChoice, TheLowestLineNobodyIsOn) {
    NamedKivo kivo;
    std::string me = std::to_string(getpid()) + " " + ProcessStartTime(getpid()) + "\n";
    EXPECT_EQ(Choose(0), 0);
    EXPECT_EQ(Choose(3), 0);
    Claim(0, me);
    Online(1, kivo.pid());
    EXPECT_EQ(Choose(3), 2);
    EXPECT_EQ(Choose(2), 2);  // every entry taken: the next is added
    // Dead, or another process under a reused id: free.
    Claim(0, std::to_string(DeadPid()) + " 12345\n");
    EXPECT_EQ(Choose(3), 0);
    Claim(0, std::to_string(getpid()) + " 1\n");
    EXPECT_EQ(Choose(3), 0);
    Claim(0, me);
    Online(1, DeadPid());
    EXPECT_EQ(Choose(3), 1);
    // A process that is no kivo holds no line through online.ctl.
    Online(1, getpid());
    EXPECT_EQ(Choose(3), 1);
}

TEST_F(LineChoice, NoLineWhenAll256AreTaken) {
    std::string me = std::to_string(getpid()) + " " + ProcessStartTime(getpid()) + "\n";
    for (int i = 0; i < kLineTableMax; ++i) Claim(i, me);
    EXPECT_EQ(Choose(kLineTableMax), -1);
    EXPECT_EQ(Choose(kLineTableMax - 1), kLineTableMax - 1);
    fs::remove(state_ / "line.17");
    EXPECT_EQ(Choose(kLineTableMax), 17);
}

TEST(LineEntry, RefusesWhatIsNoCall) {
    TempBoard b;
    struct Case {
        std::vector<std::string> argv;
        int status;
        std::string err;
    } cases[] = {
        // Standard input is no terminal here.
        {{ProgramPath("kvline"), b.root().string()}, 1, "The board needs a terminal: call it with ssh -t.\n"},
        {{ProgramPath("kvline"), b.DataDir().string()}, 1, b.DataDir().string() + " holds no board (no kvconfig.bbs).\n"},
        {{ProgramPath("kvline"), "--bin"}, 2, std::string(kUsage) + "\n"},
    };
    for (const auto& c : cases) {
        RunResult r = RunProgram(c.argv, "/");
        EXPECT_EQ(r.status, c.status) << c.argv.back();
        EXPECT_EQ(r.err, c.err) << c.argv.back();
    }
    EXPECT_FALSE(fs::exists(b.root() / "state" / "line.0"));
    EXPECT_EQ(RunProgram({ProgramPath("kvline"), "--in-use", b.root().string()}, "/").status, 1);
}

// What a program of the board's user writes, as root's terminal shows it:
// text passes, nothing that would drive the terminal does, and a character
// cut between two reads comes out whole.
TEST(TextCleaner, PassesTextAndNothingThatDrivesTheTerminal) {
    struct Case {
        bool utf8;
        std::vector<std::string> pieces;
        std::string shown;
    } cases[] = {
        {true, {"The server is stopped.\n", "\tdone\n"}, "The server is stopped.\n\tdone\n"},
        {true, {"\033]0;owned\007\033[2J"}, "?]0;owned??[2J"},
        {true, {"caf\xc3", "\xa9 cr\xc3\xa8me"}, "caf\xc3\xa9 cr\xc3\xa8me"},
        {true, {"\xc2\x9b" "31m", "\x9b" "31m"}, "?31m?31m"},  // a C1 control, encoded and raw
        {true, {"\xc3(", "\r\b\x7f"}, "?(???"},               // a broken sequence keeps what broke it
        {true, {"cut \xe2\x82"}, "cut ?"},                     // cut short at the end
        {false, {"caf\xc3\xa9\x9b\033c"}, "caf????c"},
    };
    for (const Case& c : cases) {
        TextCleaner cleaner(c.utf8);
        std::string shown;
        for (const std::string& piece : c.pieces) shown += cleaner.Clean(piece);
        shown += cleaner.Finish();
        EXPECT_EQ(shown, c.shown) << testing::PrintToString(c.pieces);
    }
}

}  // namespace
}  // namespace kv::test

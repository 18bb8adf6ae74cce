// Root's terminal stays root's.  Root types the board's commands into a
// shell on a terminal of its own, on a board that another user owns; while
// each command runs (held up, where it waits for one, by a lock of the
// board that the owner keeps) and after it has returned, a process of the
// owner's tries to take root's terminal from every process of that user
// and to push a command into root's input with it.  It gets nothing, and
// root's shell runs nothing it did not type.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/support/board.h"
#include "tests/support/caller_fixture.h"
#include "tests/support/system_user.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

constexpr const char* kPrompt = "root-shell$ ";

// A lock of the board's that its owner holds until the test lets go.
class OwnersLock {
public:
    OwnersLock(const ThrowAwayUser& owner, const fs::path& file) {
        int ready[2];
        if (pipe(ready) != 0) return;
        std::vector<std::string> argv =
            owner.As({"/usr/bin/flock", file.string(), "/bin/sh", "-c", "echo held; exec sleep 600"});
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(ready[1], 1);
            dup2(null, 2);
            execv(args[0], args.data());
            _exit(127);
        }
        close(ready[1]);
        char c = 0;
        held_ = read(ready[0], &c, 1) == 1;
        close(ready[0]);
    }
    ~OwnersLock() { Release(); }
    bool held() const { return held_; }
    void Release() {
        if (pid_ <= 0) return;
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool held_ = false;
};

class RootsTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanMakeUsers()) GTEST_SKIP() << "needs root, to make the board's user and be root on a terminal";
        owner_ = std::make_unique<ThrowAwayUser>("term");
        ASSERT_TRUE(owner_->ok());
        board_ = BoardOwnedBy(*owner_);
        mark_ = "/tmp/kvpushed." + std::to_string(getpid());
        fs::remove(mark_);
        PtyOptions o;
        o.argv = {"/bin/bash", "--norc", "--noprofile", "-i"};
        o.env = {std::string("PS1=") + kPrompt, "KV_BOARD=" + board_->root().string()};
        shell_ = std::make_unique<Caller>(o);
        ASSERT_TRUE(shell_->Expect(kPrompt)) << shell_->Rest();
        struct stat st;
        ASSERT_EQ(stat(shell_->session().SlavePath().c_str(), &st), 0);
        terminal_ = st.st_rdev;
    }
    void TearDown() override {
        if (shell_) {
            shell_->session().Hangup();
            shell_->Wait();
        }
        if (owner_ && owner_->ok()) owner_->KillProcesses();
        std::error_code ec;
        fs::remove(mark_, ec);
        for (const fs::path& p : scratch_) fs::remove_all(p, ec);
    }
    // A directory beside the board, removed after the test.
    fs::path Scratch(const std::string& name) {
        scratch_.push_back(Board().parent_path() / (Board().filename().string() + "." + name));
        fs::create_directory(scratch_.back());
        return scratch_.back();
    }

    // Root types a command line.
    void Type(const std::string& line) { shell_->Send(line + "\r"); }
    // What the owner's process got: every line that names root's terminal.
    std::string Steal() {
        RunResult r = RunProgram(
            owner_->As({std::string(KV_TESTBIN_DIR) + "/kvterminal_thief", std::to_string(terminal_), mark_}), "/");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("looked at "), std::string::npos) << r.out << r.err;
        std::string found;
        for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
            if (r.out.compare(at, 10, "looked at ") != 0) found += r.out.substr(at, end + 1 - at);
        return found;
    }
    // The command has returned; root's shell takes the next line, and
    // nothing that was pushed into it ran.
    void ExpectRootsShellUntouched() {
        ASSERT_TRUE(shell_->Expect(kPrompt, 20000)) << shell_->Rest();
        Type("echo shell-$((6*7))");
        ASSERT_TRUE(shell_->Expect("shell-42")) << shell_->Rest();
        ASSERT_TRUE(shell_->Expect(kPrompt)) << shell_->Rest();
        EXPECT_FALSE(fs::exists(mark_)) << "a command pushed into root's input ran";
    }

    fs::path Board() const { return board_->root(); }
    std::string Script(const std::string& name) const { return "/bin/bash " + SourcePath("scripts/" + name); }

    std::unique_ptr<ThrowAwayUser> owner_;
    std::unique_ptr<TempBoard> board_;
    std::unique_ptr<Caller> shell_;
    dev_t terminal_ = 0;
    fs::path mark_;
    std::vector<fs::path> scratch_;
};

// The way root hands its terminal over: a program of the owner's started
// from root's shell without a terminal of its own.  The thief finds it,
// so it is no blind one.
TEST_F(RootsTerminal, AProgramOfTheOwnersOnRootsTerminalIsFound) {
    // Where Yama lets a process trace its own children alone, the thief
    // takes nothing from anyone: the other tests hold there all the same.
    std::string scope = "0";
    std::ifstream("/proc/sys/kernel/yama/ptrace_scope") >> scope;
    if (scope != "0") GTEST_SKIP() << "kernel.yama.ptrace_scope is " << scope;
    OwnersLock lock(*owner_, Board() / "state" / "lock");
    ASSERT_TRUE(lock.held());
    Type("setpriv --reuid=" + std::to_string(owner_->uid()) + " --regid=" + std::to_string(owner_->gid()) +
         " --clear-groups /usr/bin/flock " + (Board() / "state" / "lock").string() + " true");
    ASSERT_TRUE(WaitForFlockWaiter(Board() / "state" / "lock"));
    std::string found = Steal();
    EXPECT_NE(found.find("descriptor 0: root's terminal"), std::string::npos) << found;
    EXPECT_NE(found.find("root's terminal is its controlling terminal"), std::string::npos) << found;
    lock.Release();
    ASSERT_TRUE(shell_->Expect(kPrompt, 20000)) << shell_->Rest();
    fs::remove(mark_);
}

// Root's relay of the owner's work: it runs as the owner, in a session of
// its own without a terminal, reading /dev/null; its output and errors come
// through as text, its exit status as it was.
TEST_F(RootsTerminal, TheOwnersWorkRunsWithoutATerminalAndShowsAsText) {
    const std::string script =
        "id -u; readlink /proc/self/fd/0; cut -d' ' -f7 /proc/$$/stat;"
        "[ \"$(cut -d' ' -f6 /proc/$$/stat)\" = $$ ] && echo a session of its own;"
        "printf '\\033]0;owned\\007caf\\303\\251\\n'; echo wrong >&2; exit 3";
    RunResult r = RunProgram({ProgramPath("kvline"), "--as-owner", Board().string(), "/bin/sh", "-c", script}, "/",
                             {"LANG=C.UTF-8"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.out, std::to_string(owner_->uid()) + "\n/dev/null\n0\na session of its own\n?]0;owned?caf\xc3\xa9\n");
    EXPECT_EQ(r.err, "wrong\n");
}

// Root gets its shell back from work that the owner holds up: Ctrl-C goes
// on to the work, and where the work does not end by it, a second one ends
// the wait.
TEST_F(RootsTerminal, CtrlCGivesRootItsShellBack) {
    OwnersLock lock(*owner_, Board() / "state" / "server.lock");
    ASSERT_TRUE(lock.held());
    Type(Script("board-server.sh") + " start --bin " + KV_BIN_DIR + " " + Board().string() + "; echo status=$?");
    ASSERT_TRUE(WaitForFlockWaiter(Board() / "state" / "server.lock"));
    shell_->Send("\x03");
    ASSERT_TRUE(shell_->Expect("status=130")) << shell_->Rest();
    EXPECT_FALSE(fs::exists(Board() / "state" / "server.pid"));

    Type(ProgramPath("kvline") + " --as-owner " + Board().string() +
         " /bin/sh -c 'trap \"\" INT; echo deaf; exec sleep 600'; echo status=$?");
    ASSERT_TRUE(shell_->Expect("deaf\r\n")) << shell_->Rest();
    shell_->Send("\x03");
    EXPECT_TRUE(shell_->session().WaitForQuiet(300));
    EXPECT_EQ(shell_->Rest().find("status="), std::string::npos) << shell_->Rest();
    shell_->Send("\x03");
    ASSERT_TRUE(shell_->Expect("status=130")) << shell_->Rest();
    ExpectRootsShellUntouched();
}

// Each command root is told to run for the board: what it waits on (a
// lock of the owner's, or a text it shows), and what ends it.
struct RootCommand {
    const char* what;
    std::string line;
    const char* lock;          // below the board; null: none
    const char* whileRunning;  // shown while it runs and waits for root
    const char* keys;          // then typed
    const char* again;         // a prompt that comes next, answered with keys again
    bool logIn;                // a call: root logs in and off
};

TEST_F(RootsTerminal, NoCommandOfTheBoardHandsItToTheBoardsUser) {
    const std::string bin = KV_BIN_DIR, board = Board().string();
    fs::path fresh = Scratch("real");
    owner_->Own(fresh);
    // The console's script as it is installed, beside the programs of this
    // build.
    fs::path installed = Scratch("installed");
    fs::create_directory(installed / "scripts");
    for (const char* script : {"sysop.sh", "board-common.sh"})
        fs::copy_file(SourcePath("scripts/") + script, installed / "scripts" / script);
    fs::create_directory_symlink(bin, installed / "bin");
    const RootCommand commands[] = {
        {"server start", Script("board-server.sh") + " start --bin " + bin + " " + board, "state/server.lock",
         nullptr, nullptr, nullptr, false},
        {"a call", bin + "/kvline " + board, "state/lock", "Your full name: ", nullptr, nullptr, true},
        {"the run command", Script("run-board.sh") + " --built " + fs::path(bin).parent_path().string(),
         "state/server.lock", "Your full name: ", nullptr, nullptr, true},
        {"the console", bin + "/kvconsole " + board, nullptr, "Pages ring here", "q", nullptr, false},
        {"the console's script", "/bin/bash " + (installed / "scripts/sysop.sh").string() + " " + board, nullptr,
         "Pages ring here", "q", nullptr, false},
        {"a field of the configuration", bin + "/kvsample set " + board + "/kvconfig.bbs SysopConsole=tty63",
         nullptr, nullptr, nullptr, nullptr, false},
        {"server stop", Script("board-server.sh") + " stop --bin " + bin + " " + board, "state/server.lock",
         nullptr, nullptr, nullptr, false},
        {"a board for a real machine",
         bin + "/kvsample board " + SourcePath("sample") + " " + fresh.string() + " --sysop 'Jane Doe'", nullptr,
         "Password for Jane Doe: ", "Quiet-Harbour-7\r", "The same again: ", false},
    };
    for (const RootCommand& c : commands) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<OwnersLock> lock;
        if (c.lock != nullptr) {
            lock = std::make_unique<OwnersLock>(*owner_, Board() / c.lock);
            ASSERT_TRUE(lock->held());
        }
        Type(c.line);
        if (lock) {
            ASSERT_TRUE(WaitForFlockWaiter(Board() / c.lock)) << shell_->Rest();
            EXPECT_EQ(Steal(), "");
            lock->Release();
        }
        if (c.whileRunning != nullptr) {
            ASSERT_TRUE(shell_->Expect(c.whileRunning, 20000)) << shell_->Rest();
            EXPECT_EQ(Steal(), "");
        }
        if (c.keys != nullptr) shell_->Send(c.keys);
        if (c.again != nullptr) {
            ASSERT_TRUE(shell_->Expect(c.again)) << shell_->Rest();
            EXPECT_EQ(Steal(), "");
            shell_->Send(c.keys);
        }
        if (c.logIn) {
            shell_->Send("terry tester\r");
            ASSERT_TRUE(shell_->Answer("Is this right?", "y")) << shell_->Rest();
            ASSERT_TRUE(shell_->Answer("Password: ", "keyboard\r")) << shell_->Rest();
            ASSERT_TRUE(shell_->Expect("Your choice: ", 20000)) << shell_->Rest();
            EXPECT_EQ(Steal(), "");
            shell_->Send("g");
        }
        ExpectRootsShellUntouched();
        EXPECT_EQ(Steal(), "") << "after it returned";
    }
    // The commands did their work: the configuration changed and the real
    // board was built, both as the owner's.
    struct stat st;
    EXPECT_NE(board_->ReadFile("kvconfig.bbs").find("tty63"), std::string::npos);
    ASSERT_EQ(stat((fresh / "kvconfig.bbs").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, owner_->uid());
}

}  // namespace
}  // namespace kv::test

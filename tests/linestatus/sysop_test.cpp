// Lines as the sysop meets them: kivo (or the line probe, where the menus
// that lead to a command are not built) on pseudo-terminals against a real
// kvhubd, the sysop's console a pseudo-terminal that the test holds, and
// the sysop's signals sent from the test.  "online.ctl" and MonitorPath are
// read afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "common/config_record.h"
#include "common/segment.h"
#include "common/online_status.h"
#include "common/runtime.h"
#include "tests/support/board.h"
#include "tests/support/pty_session.h"
#include "tests/support/server_process.h"

namespace fs = std::filesystem;
using namespace kv;
using kv::test::PtyOptions;
using kv::test::PtySession;

namespace {

void Nap(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The sysop's terminal: a pseudo-terminal whose other side kivo opens as
// "/dev/" + SysopConsole.  Raw, so the bytes arrive as kivo wrote them.
// Open to the board's group for reading and writing, as the sysop's
// console program makes its own; without that, a terminal of somebody else.
class Console {
public:
    explicit Console(const fs::path& dataDir, bool openToBoard = true) {
        char name[128] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        fcntl(master_, F_SETFD, FD_CLOEXEC);
        fcntl(slave_, F_SETFD, FD_CLOEXEC);
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        struct stat board {};
        if (stat(dataDir.c_str(), &board) != 0) throw std::runtime_error("no board");
        if (openToBoard) {
            if (fchown(slave_, uid_t(-1), board.st_gid) != 0 || fchmod(slave_, 0660) != 0)
                throw std::runtime_error("cannot open the console to the board's group");
        } else if (fchmod(slave_, 0620) != 0) {
            throw std::runtime_error("cannot close the console to the board's group");
        }
        name_ = std::string(name).substr(5);  // below "/dev/"
    }
    ~Console() {
        close(master_);
        close(slave_);
    }
    const std::string& name() const { return name_; }
    // The sysop types on this terminal.
    void Type(const std::string& keys) { ASSERT_EQ(ssize_t(keys.size()), write(master_, keys.data(), keys.size())); }
    // Everything kivo wrote so far, after waiting up to ms for more.
    const std::string& Read(int ms = 0) {
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, ms) > 0) {
            char buf[512];
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            got_.append(buf, size_t(n));
            ms = 0;
        }
        return got_;
    }
    bool WaitFor(const std::string& bytes, int ms = 5000) {
        return test::WaitUntil([&] { return Read(20).find(bytes) != std::string::npos; }, ms);
    }
    size_t Count(const std::string& bytes) {
        size_t n = 0;
        for (size_t at = Read().find(bytes); at != std::string::npos; at = got_.find(bytes, at + 1)) ++n;
        return n;
    }

private:
    int master_ = -1, slave_ = -1;
    std::string name_, got_;
};

class SysopServices : public kv::test::ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        board_.Set("SysopConsole", console_.name());
        SetConfig(board_.config());
        devices_.clear();
    }
    void TearDown() override {
        lines_.clear();
        ServerTest::TearDown();
    }

    void Start() {
        server_ = StartServer(board_);
        ASSERT_GT(server_, 0) << last_.err;
    }
    // The lines take the configuration from the server's segment, which
    // holds the file as it was when the server started.
    void Restart() {
        ASSERT_EQ(0, kill(server_, SIGTERM));
        ASSERT_GE(WaitForExit(server_), 0);
        Start();
    }

    // A program on a new line; the line's device is added to "bbsline.ctl",
    // so the n-th line started is line n - 1.
    PtySession& StartLine(std::vector<std::string> argv, std::vector<std::string> env = {}) {
        PtyOptions o;
        o.argv = std::move(argv);
        o.dir = board_.root();
        o.env = std::move(env);
        o.beforeStart = [this](const std::string& device) {
            // A terminal freed by a line that ended may come again: the
            // old entry goes, so this one is still the next line.
            for (auto& d : devices_)
                if (d == device) d = "gone/" + std::to_string(&d - devices_.data());
            devices_.push_back(device);
            std::string body = "# device,speed,delay\n";
            for (const auto& d : devices_) body += d + ",0,0\n";
            // Lines already started may be reading the file right now.
            board_.WriteFile(board_.DataDir() / "bbsline.new", body);
            fs::rename(board_.DataDir() / "bbsline.new", board_.DataDir() / "bbsline.ctl");
        };
        lines_.push_back(std::make_unique<PtySession>(o));
        return *lines_.back();
    }
    PtySession& StartKivo() { return StartLine({kv::test::ProgramPath("kivo")}); }
    PtySession& StartProbe(std::vector<std::string> steps, std::vector<std::string> env = {}) {
        steps.insert(steps.begin(), std::string(KV_TESTBIN_DIR) + "/kvline_probe");
        return StartLine(std::move(steps), std::move(env));
    }

    OnlineEntry Entry(int line) {
        OnlineEntry e;
        ReadOnlineEntry(line, e);
        return e;
    }
    // Waits until the entry of line satisfies test.
    bool WaitForEntry(int line, const std::function<bool(const OnlineEntry&)>& test, int ms = 5000) {
        return test::WaitUntil([&] { return test(Entry(line)); }, ms);
    }
    std::string ProcessLog(const PtySession& s) {
        return board_.ReadFile(board_.DataDir() / ("kivo." + std::to_string(s.pid())));
    }

    test::TempBoard board_;
    pid_t server_ = -1;
    Console console_{board_.DataDir()};
    std::vector<std::string> devices_;
    std::vector<std::unique_ptr<PtySession>> lines_;
};

// Three lines start; each holds its own entry, a stale entry of a crashed
// line included; a line that hangs up frees its entry and no other.
TEST_F(SysopServices, EachLineRegistersItsOwnEntry) {
    Start();
    ASSERT_TRUE(CreateOnlineFile());
    OnlineEntry stale;
    pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    stale.Pid = dead;
    stale.User = 7;
    stale.Flags = LINE_CHAT;
    stale.LogonTime = "01:02:03";
    ASSERT_TRUE(WriteOnlineEntry(1, stale));

    std::vector<PtySession*> s;
    for (int i = 0; i < 3; ++i) s.push_back(&StartKivo());
    const std::regex clock("[0-2][0-9]:[0-5][0-9]:[0-5][0-9]");
    for (int line = 0; line < 3; ++line) {
        pid_t pid = s[size_t(line)]->pid();
        ASSERT_TRUE(WaitForEntry(line, [&](const OnlineEntry& e) { return e.Pid == pid; })) << "line " << line;
        OnlineEntry e = Entry(line);
        EXPECT_EQ(-1, e.User);
        EXPECT_EQ(0, e.Flags);
        EXPECT_TRUE(std::regex_match(e.LogonTime, clock)) << e.LogonTime;
    }
    EXPECT_EQ(6144, fs::file_size(board_.DataDir() / "online.ctl"));

    s[1]->Hangup();
    EXPECT_EQ(99, s[1]->Wait()) << s[1]->Screen();
    OnlineEntry freed = Entry(1);
    EXPECT_EQ(-1, freed.Pid);
    EXPECT_EQ(-1, freed.User);
    EXPECT_EQ(s[0]->pid(), Entry(0).Pid);
    EXPECT_EQ(s[2]->pid(), Entry(2).Pid);
}

// The sysop's SIGPIPE opens a chat on the console: the caller's keys reach
// it, what the sysop types there shows on both screens (a terminal's
// backspace key, 127, included), SIGUSR1 ends the chat without starting the monitor, and the next
// SIGUSR1 does start it.
TEST_F(SysopServices, SigpipeFromTheSysopStartsAChat) {
    Start();
    PtySession& k = StartKivo();
    ASSERT_TRUE(WaitForEntry(0, [&](const OnlineEntry& e) { return e.Pid == k.pid(); }));
    ASSERT_EQ(0, kill(k.pid(), SIGPIPE));
    const std::string banner = "Hello Unknown, this is Sam Sysop. Go ahead!";
    ASSERT_TRUE(k.WaitForText(banner)) << k.Screen();
    EXPECT_TRUE(k.WaitForText("*** Chat with the sysop ***"));

    k.Send("hi there\rab\b");
    EXPECT_TRUE(console_.WaitFor("hi there\r\nab\b \b")) << console_.Read();
    EXPECT_TRUE(k.WaitForText("hi there\na")) << k.Screen();

    console_.Type("\rSysop typinx\x7fg.\r");
    EXPECT_TRUE(k.WaitForText("hi there\na\nSysop typing.\n")) << k.Screen();
    EXPECT_TRUE(console_.WaitFor("\r\nSysop typinx\b \bg.\r\n")) << console_.Read();

    // A second SIGPIPE during the chat changes nothing.
    ASSERT_EQ(0, kill(k.pid(), SIGPIPE));
    ASSERT_EQ(0, kill(k.pid(), SIGUSR1));
    ASSERT_TRUE(k.WaitForText("Chat with the sysop ended. Press Enter to continue.")) << k.Screen();
    EXPECT_TRUE(k.WaitForText("*** End of the chat with the sysop ***"));
    k.Send("z\r");
    Nap(200);
    EXPECT_EQ(0, Entry(0).Flags & LINE_MONITORED);
    EXPECT_FALSE(fs::exists(board_.config().MonitorPath));

    ASSERT_EQ(0, kill(k.pid(), SIGUSR1));
    EXPECT_TRUE(WaitForEntry(0, [](const OnlineEntry& e) { return (e.Flags & LINE_MONITORED) != 0; }));
    EXPECT_EQ(std::string::npos, console_.Read().find('z'));
    EXPECT_EQ(1u, console_.Count("hi there"));
}

// A SIGPIPE the kernel raises because the line itself wrote into a dead
// pipe is no sysop: no chat; the sysop's own still works afterwards, and
// the key wait it interrupted goes on after it, inactivity alarm and all.
TEST_F(SysopServices, KernelSigpipeStartsNoChat) {
    board_.Set("InactivityTimeout", "1");
    Start();
    PtySession& p = StartProbe({"epipe", "keys"});
    ASSERT_TRUE(p.WaitForText("epipe")) << p.Screen();
    p.Send("ab");
    ASSERT_TRUE(p.WaitForText("ab"));
    EXPECT_EQ("", console_.Read(100));
    EXPECT_EQ(std::string::npos, p.Screen().find("Go ahead!"));

    ASSERT_EQ(0, kill(p.pid(), SIGPIPE));
    ASSERT_TRUE(p.WaitForText("Go ahead!"));
    p.Send("c");
    EXPECT_TRUE(console_.WaitFor("c"));
    kill(p.pid(), SIGUSR1);
    ASSERT_TRUE(p.WaitForText("Press Enter"));
    p.Send("\r");
    test::WaitUntil([&] {
        p.Pump(0);
        std::string screen = p.Screen();
        return screen.find("Are you still there?", screen.find("Press Enter")) != std::string::npos;
    });
    std::string screen = p.Screen();
    EXPECT_NE(std::string::npos, screen.find("Are you still there?", screen.find("Press Enter"))) << screen;
    p.Send("q");
    EXPECT_EQ(1, p.Wait());
}

// Pages that do not ring: each refusal shows its display file (or its
// text when the file is missing); a page that rings out leaves the
// paging bit in the line's entry.
TEST_F(SysopServices, PageRefusalsAndAnUnansweredPage) {
    struct Case {
        const char* what;
        std::function<void(test::TempBoard&)> setUp;
        std::vector<std::string> steps;
        std::vector<std::string> env;
        std::vector<const char*> screen;  // texts shown, in order
        size_t consoleCalls;              // text 123 lines on the console
    };
    // Noon today: outside a paging window that ends at 01:00.
    time_t now = time(nullptr);
    std::tm noon{};
    localtime_r(&now, &noon);
    noon.tm_hour = 12;
    noon.tm_min = noon.tm_sec = 0;
    const std::string today = std::to_string(static_cast<long long>(mktime(&noon)));
    const Case cases[] = {
        {"busy", [](test::TempBoard& b) { b.WriteFile(b.DataDir() / "6opbusy.bbs", ""); }, {"page", "entry"}, {},
         {"The sysop is busy at the moment", "page done", "flags=0x00"}, 0},
        {"busy, no display file",
         [](test::TempBoard& b) {
             b.WriteFile(b.DataDir() / "6opbusy.bbs", "");
             fs::remove(b.config().TextDir + "/sysbusy.asc");
         },
         {"page"}, {}, {"Sorry, the sysop is busy right now.", "page done"}, 0},
        {"outside the paging hours", [](test::TempBoard& b) { b.Set("PagingHours.End", "01:00"); }, {"page"},
         {"KV_TEST_NOW=" + today}, {"can be paged only during the paging hours", "page done"}, 0},
        {"rings out, then the page limit",
         [](test::TempBoard& b) {
             b.Set("PageRings", "0");
             b.Set("MaxPages", "1");
         },
         {"name=Joe Caller", "page", "entry", "page"}, {},
         {"Paging Sam Sysop", "does not answer right now", "page done", "flags=0x01",
          "as often as one call allows", "page done"},
         2},
    };
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(board_.DataDir() / "6opbusy.bbs");
        board_.Set("PagingHours.End", "24:00");
        c.setUp(board_);
        Restart();
        devices_.clear();
        PtySession& p = StartProbe(c.steps, c.env);
        size_t from = 0;
        for (const char* text : c.screen) {
            // A text shown twice ("page done") is waited for after the one
            // before it, not found again where it stood the first time.
            ASSERT_TRUE(p.WaitForText(text)) << text << "\n" << p.Screen();
            size_t at = p.Screen().find(text, from);
            for (int waited = 0; at == std::string::npos && waited < test::ScaledTimeout(5000); waited += 50) {
                p.Pump(50);
                at = p.Screen().find(text, from);
            }
            EXPECT_NE(std::string::npos, at) << text << " out of order\n" << p.Screen();
            from = at == std::string::npos ? from : at + 1;
        }
        EXPECT_EQ(1, p.Wait());
        const std::string call = "Joe Caller is paging you from " + devices_[0] + "\r\n";
        EXPECT_EQ(c.consoleCalls, console_.Count(call)) << console_.Read();
        lines_.clear();
    }
}

// A ringing page that the sysop answers with a chat: the bells reach the
// console, the chat clears the page, and the paging bit goes with it.
TEST_F(SysopServices, PageAnsweredByTheSysop) {
    board_.Set("PageRings", "3");
    board_.Set("PageSound", "2");
    Start();
    PtySession& p = StartProbe({"name=Joe Caller", "page", "entry", "key"});
    ASSERT_TRUE(p.WaitForText("Ring 1..."));
    ASSERT_TRUE(console_.WaitFor("\a\a"));
    EXPECT_TRUE(WaitForEntry(0, [](const OnlineEntry& e) { return e.Flags == LINE_PAGING; }));
    ASSERT_EQ(0, kill(p.pid(), SIGPIPE));
    ASSERT_TRUE(p.WaitForText("Hello Joe, this is Sam Sysop. Go ahead!")) << p.Screen();
    p.Send("ok");
    EXPECT_TRUE(console_.WaitFor("ok"));
    ASSERT_EQ(0, kill(p.pid(), SIGUSR1));
    ASSERT_TRUE(p.WaitForText("Press Enter"));
    p.Send("\r");
    ASSERT_TRUE(p.WaitForText("flags=0x00")) << p.Screen();
    EXPECT_EQ(std::string::npos, p.Screen().find("Ring 2"));
    EXPECT_EQ(std::string::npos, p.Screen().find("does not answer"));
    p.Send("x");
    EXPECT_EQ(1, p.Wait());
    EXPECT_EQ(1u, console_.Count("Joe Caller is paging you"));
}

// Ctrl-C stops a page: the console is told, and the line no longer shows
// as paging.
TEST_F(SysopServices, CallerStopsAPage) {
    board_.Set("PageRings", "3");
    Start();
    PtySession& p = StartProbe({"name=Joe Caller", "key", "page", "entry"});
    ASSERT_TRUE(p.WaitForText("line 0 ready"));
    p.Send("k\x03");  // the key step takes "k"; the page finds Ctrl-C typed ahead
    ASSERT_TRUE(p.WaitForText("Page stopped.")) << p.Screen();
    ASSERT_TRUE(p.WaitForText("flags=0x00")) << p.Screen();
    EXPECT_TRUE(console_.WaitFor("Joe Caller has stopped paging you.\r\n"));
    EXPECT_EQ(1, p.Wait());
}

// A page that rang out stays marked until the sysop answers it, however
// much later: the chat takes the mark away.
TEST_F(SysopServices, ALaterChatAnswersAnUnansweredPage) {
    board_.Set("PageRings", "0");
    Start();
    PtySession& p = StartProbe({"name=Joe Caller", "page", "entry", "key", "entry"});
    ASSERT_TRUE(p.WaitForText("flags=0x01")) << p.Screen();
    ASSERT_EQ(0, kill(p.pid(), SIGPIPE));
    ASSERT_TRUE(p.WaitForText("Go ahead!")) << p.Screen();
    ASSERT_EQ(0, kill(p.pid(), SIGUSR1));
    ASSERT_TRUE(p.WaitForText("Press Enter"));
    p.Send("\rx");
    ASSERT_TRUE(p.WaitForText("flags=0x00")) << p.Screen();
    EXPECT_EQ(1, p.Wait());
}

// The console that rings is the one the configuration names when the page
// comes: a console named and reloaded while the line waited at a key gets
// the very first page.
TEST_F(SysopServices, APageRingsTheConsoleNamedSinceTheKeyWait) {
    board_.Set("SysopConsole", "pts/no-such-console");
    board_.Set("PageRings", "0");
    Start();
    PtySession& p = StartProbe({"name=Joe Caller", "key", "page", "entry"});
    ASSERT_TRUE(p.WaitForText("line 0 ready"));
    board_.Set("SysopConsole", console_.name());
    SendCommand(board_, CMD_RELOAD);
    ASSERT_TRUE(test::WaitForLog(board_, "Configuration reloaded"));
    p.Send("k");
    EXPECT_TRUE(console_.WaitFor("Joe Caller is paging you from " + devices_[0] + "\r\n")) << console_.Read();
    ASSERT_TRUE(p.WaitForText("page done")) << p.Screen();
    EXPECT_EQ(std::string::npos, p.Screen().find("cannot be reached")) << p.Screen();
    EXPECT_EQ(1, p.Wait());
}

// A console that cannot be reached gets nothing and leaves no page mark:
// one whose terminal is gone (a console killed outright), and a terminal
// the board's group may not read, which a name left behind may by now
// stand for (somebody else's session).
TEST_F(SysopServices, APageToAConsoleThatIsNotThereRingsNowhere) {
    Console other(board_.DataDir(), false);
    const struct {
        const char* what;
        std::string console;
    } cases[] = {{"gone", "pts/no-such-console"}, {"somebody else's", other.name()}};
    board_.Set("PageRings", "1");
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        board_.Set("SysopConsole", c.console);
        Restart();
        devices_.clear();
        PtySession& p = StartProbe({"name=Joe Caller", "page", "entry"});
        ASSERT_TRUE(p.WaitForText("Sorry, the sysop's console cannot be reached.")) << p.Screen();
        ASSERT_TRUE(p.WaitForText("flags=0x00")) << p.Screen();
        EXPECT_EQ(1, p.Wait());
        // The call's log is the line's once it has ended.
        const std::string log = board_.ReadFile(board_.DataDir() / "kivo0.log");
        EXPECT_NE(std::string::npos, log.find("Cannot open the sysop console /dev/" + c.console)) << log;
        fs::remove(board_.DataDir() / "kivo0.log");
        lines_.clear();
    }
    EXPECT_EQ("", other.Read(100));
}

// Nothing of the caller's drives the console: the page text carries the
// caller's name without its control bytes, and in the chat only text and
// the chat's editing keys pass, either way.
TEST_F(SysopServices, OnlyTextReachesTheConsole) {
    board_.Set("PageRings", "0");
    Start();
    PtySession& p = StartProbe({"name=Joe\033]0;owned\007 \033[2JCaller", "page", "key"});
    ASSERT_TRUE(console_.WaitFor("Joe]0;owned [2JCaller is paging you")) << console_.Read();
    ASSERT_TRUE(p.WaitForText("page done")) << p.Screen();
    ASSERT_EQ(0, kill(p.pid(), SIGPIPE));
    ASSERT_TRUE(p.WaitForText("Go ahead!")) << p.Screen();
    // A title, a clear screen, the other screen, a clipboard write, a
    // cursor report, SO and ENQ.
    p.Send("a\033]2;title\007b\033[2Jc\033[?1049hd\033]52;c;cGFzdGU=\007e\033[6nf\016\005g\r");
    ASSERT_TRUE(console_.WaitFor("g\r\n")) << console_.Read();
    console_.Type("h\033[2J\033]0;x\007i\r");
    ASSERT_TRUE(console_.WaitFor("i\r\n")) << console_.Read();
    for (char ch : console_.Read())
        EXPECT_TRUE(uint8_t(ch) >= 0x20 || ch == '\r' || ch == '\n' || ch == '\b') << int(ch);
    EXPECT_TRUE(p.WaitForText("h[2J]0;xi")) << p.Screen();
    EXPECT_NE(std::string::npos, p.Screen().find("Go ahead!")) << p.Screen();
    ASSERT_EQ(0, kill(p.pid(), SIGUSR1));
    ASSERT_TRUE(p.WaitForText("Press Enter"));
    p.Send("\rx");
    EXPECT_EQ(1, p.Wait());
}

// SIGUSR1 switches the monitor on and off; while on, what the caller sees
// is copied to MonitorPath.  A MonitorPath that cannot be opened is logged
// and leaves the monitor off.
TEST_F(SysopServices, SigusrOneTogglesTheMonitor) {
    kv::test::ScopedUmask mask(007);  // the board's scripts' own
    Start();
    const fs::path monitor = board_.config().MonitorPath;
    PtySession& p = StartProbe({"keys"});
    ASSERT_TRUE(p.WaitForText("line 0 ready"));
    ASSERT_EQ(0, kill(p.pid(), SIGUSR1));
    ASSERT_TRUE(WaitForEntry(0, [](const OnlineEntry& e) { return e.Flags == LINE_MONITORED; }));
    p.Send("seen");
    ASSERT_TRUE(p.WaitForText("seen"));
    ASSERT_EQ(0, kill(p.pid(), SIGUSR1));
    ASSERT_TRUE(WaitForEntry(0, [](const OnlineEntry& e) { return e.Flags == 0; }));
    p.Send("unseen");
    ASSERT_TRUE(p.WaitForText("unseen"));
    EXPECT_EQ("seen", board_.ReadFile(monitor));
    // What the caller sees is the board's business only: its group's, so
    // that a sysop of the group can follow it, and no other user's.
    EXPECT_EQ(fs::perms(0660), fs::status(monitor).permissions() & fs::perms::all);
    p.Send("q");
    EXPECT_EQ(1, p.Wait());

    lines_.clear();
    devices_.clear();
    board_.Set("MonitorPath", (board_.root() / "no/such/dir/monitor").string());
    Restart();
    PtySession& q = StartProbe({"keys"});
    ASSERT_TRUE(q.WaitForText("line 0 ready"));
    ASSERT_EQ(0, kill(q.pid(), SIGUSR1));
    q.Send("x");
    ASSERT_TRUE(q.WaitForText("x"));
    // The key and the signal may come to the line together: the key is
    // echoed, and the signal's work follows at the next key wait.
    const std::string refused = "Cannot open " + board_.root().string() + "/no/such/dir/monitor for monitoring";
    EXPECT_TRUE(test::WaitUntil([&] { return ProcessLog(q).find(refused) != std::string::npos; })) << ProcessLog(q);
    EXPECT_EQ(0, Entry(0).Flags);
    q.Send("q");
    EXPECT_EQ(1, q.Wait());
}

// The entry of a line whose kivo died keeps no one out: its user is not
// "on another line"; a live line's is.
TEST_F(SysopServices, StaleEntryDoesNotHoldItsUser) {
    Start();
    ASSERT_TRUE(CreateOnlineFile());
    pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    OnlineEntry e;
    e.Pid = dead;
    e.User = 5;
    ASSERT_TRUE(WriteOnlineEntry(1, e));
    e.User = 6;
    e.Pid = getpid();
    ASSERT_TRUE(WriteOnlineEntry(2, e));
    PtySession& p = StartProbe({"user=5", "finduser=5", "finduser=6", "entry"});
    ASSERT_TRUE(p.WaitForText("found=65535"));
    ASSERT_TRUE(p.WaitForText("found=2"));
    ASSERT_TRUE(p.WaitForText("flags=0x00 user=5"));
    EXPECT_EQ(1, p.Wait());
}

// Menu command 14: today's figures of the call.
TEST_F(SysopServices, CallStatusScreen) {
    board_.Set("MaxCallsPerDay", "4");
    Start();
    PtySession& p = StartProbe({"status"});
    ASSERT_TRUE(p.WaitForText("Press any key to continue...")) << p.Screen();
    std::string s = p.Screen();
    EXPECT_NE(std::string::npos, s.find("Status of your call")) << s;
    EXPECT_NE(std::string::npos, s.find("Calls today:  1   Allowed per day: 4")) << s;
    EXPECT_NE(std::string::npos, s.find("in this call     :    0")) << s;
    EXPECT_NE(std::string::npos, s.find("left in this call:   10")) << s;
    EXPECT_NE(std::string::npos, s.find(std::string(50, '-'))) << s;
    p.Send(" ");
    EXPECT_EQ(1, p.Wait());
}

}  // namespace

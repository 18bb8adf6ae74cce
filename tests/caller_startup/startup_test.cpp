// kivo as a caller meets it: started on a pseudo-terminal against a real
// kvhubd (in this test's own IPC namespace), refused or let in, ended by
// hang-up, interrupt or a key; the files looked at afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <memory>

#include "common/segment.h"
#include "tests/support/board.h"
#include "tests/support/pty_session.h"
#include "tests/support/server_process.h"

namespace fs = std::filesystem;
using kv::test::PtyOptions;
using kv::test::PtySession;
using kv::test::RunProgram;
using kv::test::TempBoard;

namespace {

// Today at 12:00 local time, for KV_TEST_NOW.
std::string Noon() {
    time_t now = time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    tm.tm_hour = 12;
    tm.tm_min = tm.tm_sec = 0;
    return std::to_string(static_cast<long long>(mktime(&tm)));
}

class CallerStartup : public kv::test::ServerTest {
protected:
    void TearDown() override {
        session_.reset();
        StopServer();
        ServerTest::TearDown();
    }

    // kvhubd in the board's root; false when it did not come up.
    bool StartServer() {
        server_ = ServerTest::StartServer(board_, {"-q"});
        return server_ > 0;
    }

    void StopServer() {
        ServerTest::StopServer(server_);
        server_ = -1;
    }

    // kivo on a fresh line; its device is written into "bbsline.ctl" as
    // entry (with "@" for the device) unless entry is empty.
    PtySession& StartCaller(std::vector<std::string> args = {"-t"}, speed_t speed = B38400,
                            std::string entry = "console,0,0\n@,0,0\n", std::vector<std::string> env = {}) {
        PtyOptions o;
        o.argv = {kv::test::ProgramPath("kivo")};
        o.argv.insert(o.argv.end(), args.begin(), args.end());
        o.dir = board_.root();
        o.speed = speed;
        o.env = std::move(env);
        o.beforeStart = [this, entry](const std::string& device) {
            device_ = device;
            if (entry.empty()) return;
            std::string body = "# device,speed,delay\n" + entry;
            for (size_t at = body.find('@'); at != std::string::npos; at = body.find('@', at + 1))
                body.replace(at, 1, device);
            board_.WriteFile(board_.DataDir() / "bbsline.ctl", body);
        };
        session_ = std::make_unique<PtySession>(o);
        return *session_;
    }

    std::string LineLog(int line = 1) const { return board_.ReadFile(board_.DataDir() / ("kivo" + std::to_string(line) + ".log")); }
    std::string ProcessLog() const {
        return board_.ReadFile(board_.DataDir() / ("kivo." + std::to_string(session_->pid())));
    }

    // Waits until the call is past its terminal set-up (text 1 logged).
    bool WaitUntilStarted() {
        return kv::test::WaitUntil([&] {
            session_->Pump(0);
            return ProcessLog().find("Kivo started") != std::string::npos;
        });
    }

    TempBoard board_;
    pid_t server_ = -1;
    std::string device_;
    std::unique_ptr<PtySession> session_;
};

TEST_F(CallerStartup, VersionAndBadMessageFileNeedNoServer) {
    kv::test::RunResult v = RunProgram({kv::test::ProgramPath("kivo"), "-v"}, board_.root());
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, "kivo v1.0 - Kivo bulletin board, caller program\n01/01/2000 00h00 (b1)\n");

    for (const char* bad : {"-g2", "-g", "-g01"}) {
        kv::test::RunResult g = RunProgram({kv::test::ProgramPath("kivo"), "-t", bad}, board_.root());
        EXPECT_EQ(g.status, 1) << bad;
        EXPECT_EQ(g.out, "") << bad;  // before anything else is shown
        EXPECT_EQ(g.err, "Message file number must be 0 or 1\n") << bad;
    }
}

TEST_F(CallerStartup, WithoutServerTheCallerCannotStart) {
    PtySession& s = StartCaller();
    EXPECT_EQ(s.Wait(), 255);
    EXPECT_NE(s.Screen().find("ERROR: cannot get/attach to shared memory -- server must be running"),
              std::string::npos);
}

// A key at the welcome screen (log-in is not built yet: it takes one key)
// ends the call normally: status 1, the process log merged into the log of
// line 1.  The logs are the board's group's to read and to append to, as
// every file of the board (the programs run with the board's scripts'
// umask here).
TEST_F(CallerStartup, ACallEndsWithItsLogMergedIntoTheLineLog) {
    kv::test::ScopedUmask mask(007);
    ASSERT_TRUE(StartServer());
    PtySession& s = StartCaller({"-t", "-l"});
    ASSERT_TRUE(s.WaitForText("kivo v1.0"));
    ASSERT_TRUE(s.WaitForText("Fast logons are only available from \"tty1\"."));
    ASSERT_TRUE(WaitUntilStarted());
    // A name of "trashcan.ctl" ends the call at the log-in.
    ASSERT_TRUE(s.WaitForText("Your full name:"));
    s.Send("guest visitor\ry");
    EXPECT_EQ(s.Wait(), 1);
    std::string log = LineLog();
    EXPECT_NE(log.find("* @(#)kivo1.log"), std::string::npos) << log;
    EXPECT_NE(log.find("Kivo started"), std::string::npos);
    EXPECT_NE(log.find("------------------------------------------"), std::string::npos);
    EXPECT_EQ(ProcessLog(), "");
    for (const char* name : {"kivo1.log", "server.log"})
        EXPECT_EQ(fs::status(board_.DataDir() / name).permissions() & fs::perms::all, fs::perms(0660)) << name;
}

// Each set-up fault ends the call with its code as exit status and its text
// on standard error (the line), before the line is registered.
TEST_F(CallerStartup, SetupChecks) {
    struct Fault {
        const char* what;
        std::function<void(const TempBoard&)> make;
        int status;
        const char* text;
    };
    const kv::ConfigRecord& c = board_.config();
    const Fault faults[] = {
        {"DataDir", [&](const TempBoard&) { fs::rename(c.DataDir, c.DataDir + ".gone"); }, 253,
         "the system directory (DataDir) is missing"},
        {"MenuDir", [&](const TempBoard&) { fs::remove_all(c.MenuDir); }, 254, "the menu directory"},
        {"TextDir", [&](const TempBoard&) { fs::remove_all(c.TextDir); }, 255, "the text directory"},
        {"MsgBaseDir", [&](const TempBoard&) { fs::remove_all(c.MsgBaseDir); }, 248, "message-base directory"},
        {"top.mnu", [&](const TempBoard&) { fs::remove(c.MenuDir + "/top.mnu"); }, 252, "menu file top.mnu"},
        {"limits.ctl", [&](const TempBoard&) { fs::remove(c.DataDir + "/limits.ctl"); }, 250,
         "control file limits.ctl is missing"},
        {"bbsline.ctl", [&](const TempBoard&) { fs::remove(c.DataDir + "/bbsline.ctl"); }, 249,
         "control file bbsline.ctl is missing"},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.what);
        ASSERT_TRUE(StartServer());
        f.make(board_);
        bool noEntry = f.what == std::string("bbsline.ctl") || f.what == std::string("DataDir");
        PtySession& s = StartCaller({"-t"}, B38400, noEntry ? "" : "@,0,0\n");
        EXPECT_EQ(s.Wait(), f.status);
        EXPECT_NE(s.Screen().find(f.text), std::string::npos) << s.Screen();
        session_.reset();
        StopServer();
        if (f.what == std::string("DataDir")) fs::rename(c.DataDir + ".gone", c.DataDir);
        // Put the board back for the next fault.
        fs::create_directories(c.MenuDir);
        fs::create_directories(c.TextDir);
        fs::create_directories(c.MsgBaseDir);
        board_.WriteFile(c.MenuDir + "/top.mnu", std::string(344, '\0'));
        board_.WriteFile(c.DataDir + "/limits.ctl", "10 60 50 100 150 200 300 800 5 10\n");
    }
}

TEST_F(CallerStartup, ADeviceWithoutLineEntryIsRefused) {
    ASSERT_TRUE(StartServer());
    // "@0" is a longer device name that only begins with ours.
    PtySession& s = StartCaller({"-t"}, B38400, "console,0,0\n@0,0,0\n");
    EXPECT_EQ(s.Wait(5000), 1);
    EXPECT_NE(s.Screen().find("Sorry, this line is not open to callers."), std::string::npos);  // text 6
    // Not found, the line number is the count of entries.
    std::string log = LineLog(2);
    EXPECT_NE(log.find("No entry for device " + device_ + " in bbsline.ctl"), std::string::npos) << log;
}

TEST_F(CallerStartup, ALineReservedForFasterCallers) {
    ASSERT_TRUE(StartServer());
    PtySession& s = StartCaller({"-t"}, B2400, "@,9600,0\n");
    EXPECT_EQ(s.Wait(5000), 1);
    EXPECT_NE(s.Screen().find("This line is reserved for speed of 9600 and up, acces denied!"), std::string::npos);
    EXPECT_NE(LineLog(0).find("Speed required on \"" + device_ + "\" is 9600"), std::string::npos);
}

TEST_F(CallerStartup, ClosedHours) {
    board_.Set("OpenHours.Start", "00:00");
    board_.Set("OpenHours.End", "00:01");
    // Without the closed screen the call gets the fallback text.
    fs::remove(fs::path(board_.config().TextDir) / "closed.asc");
    ASSERT_TRUE(StartServer());
    PtySession& s = StartCaller({"-t"}, B38400, "console,0,0\n@,0,0\n", {"KV_TEST_NOW=" + Noon()});
    EXPECT_EQ(s.Wait(5000), 1);
    EXPECT_NE(s.Screen().find("Sorry, the board is closed now. Opening hours: 00:00 to 00:01."), std::string::npos);
    // Refused before the line lookup: the log is line 0's.
    std::string log = LineLog(0);
    EXPECT_NE(log.find("Call refused: outside the opening hours"), std::string::npos) << log;
    EXPECT_EQ(ProcessLog(), "");
}

// Too slow: the line is not registered and nothing is merged; the process
// log stays behind.
TEST_F(CallerStartup, SpeedRefusals) {
    struct Slow {
        speed_t speed;
        const char* minSpeed;
        const char* text;
    };
    board_.Set("LowSpeedHours.Start", "00:00");
    board_.Set("LowSpeedHours.End", "00:01");
    for (const Slow& t : {Slow{B300, "0", "callers at 300 bps are not taken at this hour"},
                          Slow{B1200, "2", "Sorry, minimum speed required is 2400!."}}) {
        SCOPED_TRACE(t.text);
        board_.Set("MinLogonSpeed", t.minSpeed);
        ASSERT_TRUE(StartServer());
        PtySession& s = StartCaller({"-t"}, t.speed, "@,0,0\n", {"KV_TEST_NOW=" + Noon()});
        EXPECT_EQ(s.Wait(7000), 1);
        EXPECT_NE(s.Screen().find(t.text), std::string::npos) << s.Screen();
        EXPECT_NE(ProcessLog().find("Kivo started"), std::string::npos);
        EXPECT_FALSE(fs::exists(board_.DataDir() / "kivo0.log"));
        session_.reset();
        StopServer();
    }
}

TEST_F(CallerStartup, HangupAtTheWelcomeScreen) {
    ASSERT_TRUE(StartServer());
    PtySession& s = StartCaller();
    ASSERT_TRUE(WaitUntilStarted());  // on its way to the welcome screen
    s.Hangup();
    EXPECT_EQ(s.Wait(), 99);
    std::string log = LineLog();
    EXPECT_NE(log.find("Carrier lost"), std::string::npos) << log;
    EXPECT_EQ(ProcessLog(), "");
    // No "online.ctl" entry of this process is left.
    std::string online = board_.ReadFile(board_.DataDir() / "online.ctl");
    for (size_t at = 0; at + 24 <= online.size(); at += 24) {
        int32_t pid = int32_t(kv::GetLE32(reinterpret_cast<const uint8_t*>(online.data() + at)));
        EXPECT_NE(pid, s.pid());
    }
}

TEST_F(CallerStartup, InterruptEndsTheCall) {
    ASSERT_TRUE(StartServer());
    PtySession& s = StartCaller();
    ASSERT_TRUE(WaitUntilStarted());
    kill(s.pid(), SIGINT);
    EXPECT_EQ(s.Wait(), 98);
    EXPECT_NE(s.Screen().find("Kivo interrupted."), std::string::npos);  // text 9
    std::string log = LineLog();
    EXPECT_NE(log.find("Call interrupted"), std::string::npos) << log;
}

}  // namespace

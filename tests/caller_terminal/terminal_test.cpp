// kivo's terminal code on a real pseudo-terminal, driven step by step by
// kvterm_probe: modes, key readers, the inactivity alarm, hang-up and
// interrupt, and what reaches the screen.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/support/board.h"
#include "tests/support/pty_session.h"

namespace fs = std::filesystem;
using kv::test::PtyOptions;
using kv::test::PtySession;
using Clock = std::chrono::steady_clock;

namespace {

// A scratch directory: the probe's working directory and DataDir.
class ProbeDir {
public:
    ProbeDir() {
        char tmpl[] = "/tmp/kvprobe.XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~ProbeDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }
    std::string Read(const std::string& name) const {
        std::ifstream in(path_ / name);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    bool OnlyLineLogLeft() const {
        for (const auto& e : fs::directory_iterator(path_))
            if (e.path().filename() != "kivo.log") return false;
        return true;
    }

private:
    fs::path path_;
};

PtyOptions Probe(const ProbeDir& dir, std::vector<std::string> steps) {
    PtyOptions o;
    o.argv = {std::string(KV_TESTBIN_DIR) + "/kvterm_probe"};
    o.argv.insert(o.argv.end(), steps.begin(), steps.end());
    o.dir = dir.path();
    return o;
}

termios FreshModes() {
    int m, s;
    termios t{};
    openpty(&m, &s, nullptr, nullptr, nullptr);
    tcgetattr(s, &t);
    close(m);
    close(s);
    return t;
}

long MillisSince(Clock::time_point t) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

size_t Count(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
    return n;
}

TEST(TerminalModes, RawModesOnTheLineAndTheFirstSettingsBack) {
    for (bool local : {false, true}) {
        SCOPED_TRACE(local ? "local" : "remote");
        ProbeDir dir;
        std::vector<std::string> steps = {"raw", "nokey", "restore", "nokey"};
        if (local) steps.insert(steps.begin(), "local");
        PtySession s(Probe(dir, steps));
        ASSERT_TRUE(s.WaitForText("raw ok"));
        termios fresh = FreshModes();
        termios raw = s.SlaveModes();
        EXPECT_EQ(raw.c_iflag, tcflag_t(IGNPAR | INPCK | IXON | IXANY | (local ? ISTRIP : 0)));
        EXPECT_EQ(raw.c_oflag, tcflag_t(OCRNL | ONOCR));
        EXPECT_EQ(raw.c_lflag, tcflag_t(ISIG));
        EXPECT_EQ(raw.c_cflag & HUPCL, (fresh.c_cflag & HUPCL) ^ HUPCL);
        EXPECT_EQ(raw.c_cc[VINTR], 11);
        EXPECT_EQ(raw.c_cc[VMIN], 1);
        EXPECT_EQ(raw.c_cc[VTIME], 5);
        EXPECT_EQ(raw.c_cflag & CSIZE, tcflag_t(CS8));
        EXPECT_EQ(raw.c_cflag & PARENB, 0u);

        s.Send("k");
        ASSERT_TRUE(s.WaitForText("restored"));
        termios back = s.SlaveModes();
        EXPECT_EQ(back.c_iflag, fresh.c_iflag);
        EXPECT_EQ(back.c_oflag, fresh.c_oflag);
        EXPECT_EQ(back.c_lflag, fresh.c_lflag);
        EXPECT_EQ(back.c_cflag, fresh.c_cflag);
        EXPECT_EQ(back.c_cc[VINTR], fresh.c_cc[VINTR]);
        s.Send("z\n");
        EXPECT_EQ(s.Wait(), 0);
    }
}

// With a timeout above the grace time the warning comes at timeout - grace,
// else at the timeout; the end always one grace time after the warning.
// (kivo's grace is 30 s; the probe shortens it.)
TEST(Inactivity, WarningThenTheEndOfTheCall) {
    struct Timeline {
        int timeout, grace;
        long warnMs, endMs;
    };
    for (const Timeline& t : {Timeline{3, 2, 1000, 3000}, Timeline{1, 2, 1000, 3000}}) {
        SCOPED_TRACE("timeout " + std::to_string(t.timeout));
        ProbeDir dir;
        // Never early: counted from before the probe starts.  Never much
        // late: counted from when the test saw the key wait about to
        // begin, so a probe slow to start on a loaded machine does not
        // count (the sanitizer build gets more room).
        auto start = Clock::now();
        PtySession s(Probe(dir, {"timeout=" + std::to_string(t.timeout), "grace=" + std::to_string(t.grace), "raw",
                                 "getkey"}));
        ASSERT_TRUE(s.WaitForText("raw ok"));
        auto ready = Clock::now();
        const long late = kv::test::ScaledTimeout(375);  // 1.5 s in the plain build
        ASSERT_TRUE(s.WaitForText("Are you still there?", 4000));
        EXPECT_GE(MillisSince(start), t.warnMs - 200);
        EXPECT_LE(MillisSince(ready), t.warnMs + late);
        // Text 735 between two bells.
        EXPECT_TRUE(s.WaitForOutput("\a\n\rAre you still there? Press a key within 30 seconds or the call ends.\n\r\a"));
        EXPECT_EQ(s.Wait(6000), 51);
        EXPECT_GE(MillisSince(start), t.endMs - 200);
        EXPECT_LE(MillisSince(ready), t.endMs + late);
        EXPECT_NE(s.Screen().find("No key for too long"), std::string::npos);  // text 55
        std::string log = dir.Read("kivo.log");
        EXPECT_NE(log.find("Inactivity time-out"), std::string::npos) << log;
        EXPECT_TRUE(dir.OnlyLineLogLeft());  // the process log was merged away
    }
}

TEST(Inactivity, AKeyAfterTheWarningStartsTheCountAgain) {
    ProbeDir dir;
    PtySession s(Probe(dir, {"timeout=3", "grace=2", "raw", "getkey", "getkey"}));
    ASSERT_TRUE(s.WaitForText("Are you still there?", 4000));
    auto sent = Clock::now();
    s.Send("a");
    ASSERT_TRUE(s.WaitForText("key=97"));
    // A fresh wait: a second warning about a second later, not the end.
    ASSERT_TRUE(s.WaitForOutput("key=97\n\r\a\n\rAre you still there?", 2500));
    EXPECT_GE(MillisSince(sent), 800);
    EXPECT_EQ(Count(s.Output(), "Are you still there?"), 2u);
    EXPECT_EQ(s.Wait(6000), 51);
}

TEST(Inactivity, AKeyWhenTheCallTimeIsUsedUpEndsTheCall) {
    ProbeDir dir;
    PtySession s(Probe(dir, {"minutes=0", "raw", "getkey"}));
    ASSERT_TRUE(s.WaitForText("raw ok"));
    s.Send("x");
    EXPECT_EQ(s.Wait(), 52);
    EXPECT_EQ(s.Output().find("key="), std::string::npos);
    EXPECT_NE(s.Screen().find("time for this call is used up"), std::string::npos);  // text 57
    EXPECT_NE(dir.Read("kivo.log").find("Call time used up"), std::string::npos);
}

TEST(KeyInput, NulIsNoKey) {
    ProbeDir dir;
    PtySession s(Probe(dir, {"raw", "getkey", "nokey"}));
    ASSERT_TRUE(s.WaitForText("raw ok"));
    s.Send(std::string("\0a\0\0b", 5));
    EXPECT_TRUE(s.WaitForText("key=97\nkey=98"));
    EXPECT_EQ(s.Wait(), 0);
}

// Keys typed ahead into the buffer come out of the direct reader first.
TEST(KeyInput, TypedAheadKeysKeepTheirOrderAcrossReaders) {
    ProbeDir dir;
    PtySession s(Probe(dir, {"raw", "sleep=300", "byte", "try", "getkey", "nonblock=1", "try", "nonblock=0"}));
    ASSERT_TRUE(s.WaitForText("raw ok"));
    s.Send("abc");
    EXPECT_TRUE(s.WaitForText("byte=97\ntry=98\nkey=99\ntry=0"));
    EXPECT_EQ(s.Wait(), 0);
}

// A UTF-8 terminal's character arrives as the one PC byte it stands for,
// on a remote line and on the console alike; a character the set lacks and
// a broken sequence ring the bell and give no key.  Other lines get the
// bytes as before (the console strips them to 7 bits).
TEST(KeyInput, Utf8KeysBecomeTheirPcBytes) {
    struct Line {
        const char* what;
        bool utf8, local;
        std::string want;
        int bells;
    } lines[] = {
        {"UTF-8 line", true, false, "key=130\nkey=120\nkey=196\nkey=113", 2},
        {"UTF-8 console", true, true, "key=130\nkey=120\nkey=196\nkey=113", 2},
        {"8-bit line", false, false, "key=195\nkey=169\nkey=226\nkey=130", 0},
        {"8-bit console", false, true, "key=67\nkey=41\nkey=98\nkey=2", 0},
    };
    for (const Line& l : lines) {
        SCOPED_TRACE(l.what);
        ProbeDir dir;
        std::vector<std::string> steps = {"raw", "getkey", "getkey", "getkey", "getkey"};
        if (l.local) steps.insert(steps.begin(), "local");
        PtyOptions o = Probe(dir, steps);
        o.utf8 = l.utf8;
        PtySession s(o);
        ASSERT_TRUE(s.WaitForText("raw ok"));
        EXPECT_EQ(s.SlaveModes().c_iflag & ISTRIP, l.local && !l.utf8 ? tcflag_t(ISTRIP) : 0u);
        // é; the euro sign, which the set lacks; a lead byte broken by
        // "x"; a box line whose last byte comes in a later read; "q".
        s.Send("\xC3\xA9\xE2\x82\xAC\xC3x\xE2\x94");
        s.WaitForQuiet(200, 1000);
        s.Send("\x80q");
        EXPECT_TRUE(s.WaitForText(l.want)) << s.Screen();
        EXPECT_EQ(s.Wait(), 0);
        EXPECT_EQ(Count(s.Output(), "\x07"), size_t(l.bells));
    }
}

TEST(KeyInput, NonBlockingOffBeforeOnChangesNothing) {
    ProbeDir dir;
    PtySession s(Probe(dir, {"raw", "nonblock=0", "try"}));
    ASSERT_TRUE(s.WaitForText("raw ok"));
    EXPECT_FALSE(s.WaitForText("try=", 300));  // still a blocking read
    s.Send("q");
    EXPECT_TRUE(s.WaitForText("try=113"));
    EXPECT_EQ(s.Wait(), 0);
}

// The line hung up, or Ctrl-K (the interrupt key of raw mode): the call
// ends through its path, with its log line and status, at once.
TEST(KeyInput, HangupAndInterruptEndTheCall) {
    struct End {
        const char* what;
        bool hangup;
        int status;
        const char* logged;
    };
    for (const End& e : {End{"hang-up", true, 99, "Carrier lost"}, End{"Ctrl-K", false, 98, "Call interrupted"}}) {
        SCOPED_TRACE(e.what);
        ProbeDir dir;
        PtySession s(Probe(dir, {"raw", "getkey", "say=not reached"}));
        ASSERT_TRUE(s.WaitForText("raw ok"));
        auto start = Clock::now();
        if (e.hangup) {
            s.Hangup();
        } else {
            s.Send("\x0b");
        }
        EXPECT_EQ(s.Wait(), e.status);
        EXPECT_LT(MillisSince(start), kv::test::ScaledTimeout(500));  // 2 s in the plain build
        if (!e.hangup) {
            EXPECT_NE(s.Screen().find("Kivo interrupted."), std::string::npos);  // text 9
        }
        EXPECT_EQ(s.Output().find("not reached"), std::string::npos);
        std::string log = dir.Read("kivo.log");
        EXPECT_NE(log.find(e.logged), std::string::npos) << log;
        EXPECT_NE(log.find("------------------------------------------"), std::string::npos);
        EXPECT_TRUE(dir.OnlyLineLogLeft());
    }
}

// Output while input is non-blocking (the same open line) is not lost when
// the line is full.
TEST(Output, NonBlockingLineGetsEveryByte) {
    ProbeDir dir;
    PtySession s(Probe(dir, {"raw", "nonblock=1", "flood=3000", "nonblock=0", "nokey"}));
    usleep(300 * 1000);  // let the line fill up before reading it
    ASSERT_TRUE(s.WaitForOutput("flood end", 10000));
    EXPECT_EQ(Count(s.Output(), "flood line "), 3000u);
    EXPECT_NE(s.Output().find("flood line 2999\n\r"), std::string::npos);
    s.Send("x");
    EXPECT_EQ(s.Wait(), 0);
}

// A message shown for a while is on the screen during the pause, not only
// after it.
TEST(Output, TextBeforeATimedPauseIsShownDuringIt) {
    ProbeDir dir;
    PtySession s(Probe(dir, {"raw", "say=before the pause", "pause=30", "say=after the pause"}));
    ASSERT_TRUE(s.WaitForText("before the pause"));
    EXPECT_EQ(s.Screen().find("after the pause"), std::string::npos);
    s.Hangup();  // ends the pause (and the probe)
    s.Wait();
}

TEST(Output, ColoursAndABoxOnTheScreen) {
    ProbeDir dir;
    PtySession s(Probe(dir, {"ansi", "color", "setcolor=12,1", "put=Warn", "reset", "box=2,3,8,6,14,0,2",
                             "move=1,10", "say=done", "nokey"}));
    ASSERT_TRUE(s.WaitForText("done"));
    kv::test::ScreenCell w = s.Cell(0, 0);
    EXPECT_EQ(w.text, "W");
    EXPECT_EQ(w.fg, 1);  // red, bold for the bright form
    EXPECT_TRUE(w.bold);
    EXPECT_EQ(w.bg, 4);
    EXPECT_EQ(s.Row(2), " ╔═════╗");
    EXPECT_EQ(s.Row(3), " ║     ║");
    EXPECT_EQ(s.Row(4), " ║     ║");
    EXPECT_EQ(s.Row(5), " ╚═════╝");
    kv::test::ScreenCell corner = s.Cell(2, 1);
    EXPECT_EQ(corner.fg, 3);  // yellow
    EXPECT_TRUE(corner.bold);
    EXPECT_EQ(corner.bg, 0);
    s.Send("x\n");
    EXPECT_EQ(s.Wait(), 0);
}

// Local mode without ANSI: the console's terminfo clears and moves.
TEST(Output, LocalModeUsesTheConsolesTerminfo) {
    ProbeDir dir;
    PtySession s(Probe(dir, {"local", "say=old text", "erase", "move=5,3", "put=X", "move=1,8", "say=done",
                             "nokey"}));
    ASSERT_TRUE(s.WaitForText("done"));
    EXPECT_EQ(s.Row(0), "");
    EXPECT_EQ(s.Row(2), "    X");
    EXPECT_EQ(s.Row(7), "done");
    s.Send("x\n");
    EXPECT_EQ(s.Wait(), 0);
}

}  // namespace

// The terminal harness itself, against a tiny program that echoes keys: a
// failing caller test then points at the caller, not at the harness.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/pty_session.h"

using kv::test::PtyOptions;
using kv::test::PtySession;

namespace {

PtyOptions Echo() {
    PtyOptions o;
    o.argv = {std::string(KV_TESTBIN_DIR) + "/pty_echo"};
    return o;
}

TEST(PtySession, StartsWithSpeedEnvironmentAndDirectory) {
    PtyOptions o = Echo();
    o.speed = B2400;
    o.dir = "/tmp";
    o.env = {"PTY_ECHO_VAR=hello"};
    PtySession s(o);
    ASSERT_TRUE(s.WaitForText("ready"));
    EXPECT_EQ(s.Row(0), "speed=2400 cwd=/tmp var=hello");
}

TEST(PtySession, RendersTextColoursBoxBytesAndCursor) {
    PtySession s(Echo());
    ASSERT_TRUE(s.WaitForText("ready"));
    // "\e[1;31mRED\e[0m \e[44mBLUE\e[0m" and the code-page-437 bytes DA C4 BF.
    EXPECT_EQ(s.Row(1), "RED BLUE ┌─┐");
    kv::test::ScreenCell red = s.Cell(1, 0);
    EXPECT_EQ(red.text, "R");
    EXPECT_EQ(red.fg, 1);
    EXPECT_TRUE(red.bold);
    kv::test::ScreenCell blue = s.Cell(1, 4);
    EXPECT_EQ(blue.bg, 4);
    EXPECT_EQ(blue.fg, -1);
    EXPECT_FALSE(blue.bold);
    // "\e[10;20Hready": row 9, columns 19-23; the cursor after it.
    EXPECT_EQ(s.Row(9), std::string(19, ' ') + "ready");
    EXPECT_EQ(s.CursorRow(), 9);
    EXPECT_EQ(s.CursorCol(), 24);
    EXPECT_NE(s.Output().find("\xDA\xC4\xBF"), std::string::npos);
}

TEST(PtySession, SendsKeysAndReportsTheExitStatus) {
    PtySession s(Echo());
    ASSERT_TRUE(s.WaitForText("ready"));
    s.Send("a");
    EXPECT_TRUE(s.WaitForText("got a"));
    EXPECT_FALSE(s.WaitForText("got b", 200));  // a wait for what never comes gives up
    s.Send("bq");
    EXPECT_TRUE(s.WaitForText("bye"));
    EXPECT_EQ(s.Wait(), 3);
    EXPECT_FALSE(s.Running());
    EXPECT_EQ(s.Wait(), 3);
}

TEST(PtySession, HangupEndsTheLine) {
    PtySession s(Echo());
    ASSERT_TRUE(s.WaitForText("ready"));
    s.Hangup();
    EXPECT_EQ(s.Wait(), 7);  // the program read the end of its input
}

TEST(PtySession, SlaveModesAreThoseOfTheProgramsLine) {
    PtySession s(Echo());
    ASSERT_TRUE(s.WaitForText("ready"));
    termios t = s.SlaveModes();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);  // the echo program turned them off
    EXPECT_EQ(cfgetospeed(&t), speed_t(B38400));
}

TEST(PtySession, AProgramThatHangsIsKilledAtTheTimeout) {
    PtySession s(Echo());
    ASSERT_TRUE(s.WaitForText("ready"));
    EXPECT_EQ(s.Wait(100), -1);
    EXPECT_FALSE(s.Running());
}

// A program at the far end of the line sends keys and reads the answers,
// then the session goes on where it left off.
TEST(PtySession, RunsAProgramAtTheFarEndOfTheLine) {
    PtySession s(Echo());
    ASSERT_TRUE(s.WaitForText("ready"));
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("far_end_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    EXPECT_EQ(s.RunAtFarEnd({"/bin/sh", "-c", "printf ab; head -c 14 > got.txt; exit 4"}, dir), 4);
    std::ifstream in(dir / "got.txt");
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, "\r\ngot a\r\ngot b");
    s.Send("q");
    EXPECT_TRUE(s.WaitForText("bye"));
    EXPECT_EQ(s.Wait(), 3);
    std::filesystem::remove_all(dir);
}

}  // namespace

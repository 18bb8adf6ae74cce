// Who is on line and the chat between lines, as callers on several lines
// meet them: kivo on pseudo-terminals against a real kvhubd, the sample
// board's top menu ("W" who is on line, "T" talk to another line), and
// "online.ctl", the chat files and the semaphore set looked at afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>

#include <cstdio>
#include <filesystem>

#include "common/online_status.h"
#include "tests/support/caller_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

class LineChat : public CallerTest {
protected:
    void SetUp() override {
        CallerTest::SetUp();
        board().Set("AllowMultiLogon", "1");
        SetConfig(board().config());
    }
    // A call on the next line, logged in at the top menu; with utf8 the
    // line's locale and terminal speak UTF-8.
    std::unique_ptr<Caller> LogIn(const std::string& name, const std::string& password, bool utf8 = false) {
        auto c = Dial({}, {}, utf8);
        c->LogInAs(name, password);
        EXPECT_TRUE(c->Expect("Your choice: ")) << c->Rest();
        return c;
    }
    // From the top menu, "T" and the line; then the choice key.
    void Ask(Caller& c, int line, const std::string& choice) {
        c.Send("t");
        ASSERT_TRUE(c.Answer("Line to call (0-9): ", std::to_string(line) + "\r")) << c.Rest();
        ASSERT_TRUE(c.Expect("Quit, send a message or ask for a chat")) << c.Rest();
        c.Send(choice);
    }
    // requester asks line for a chat, whose caller (answerer) says yes; both
    // end up in the chat.
    void StartChat(Caller& requester, Caller& answerer, int line) {
        Ask(requester, line, "c");
        ASSERT_TRUE(answerer.Expect("A chat request from another line:")) << answerer.Rest();
        ASSERT_TRUE(answerer.Answer("Chat now?", "y")) << answerer.Rest();
        // Each side's typing goes straight to the other's terminal, so the
        // test types only once both sides have set the chat's colour (the
        // sample's title pair, 11 on 0): a key that came in the middle of
        // an escape sequence would be taken as part of it.
        for (Caller* c : {&answerer, &requester}) {
            ASSERT_TRUE(c->Expect("(ESC leaves)")) << c->Rest();
            ASSERT_TRUE(c->Expect("\033[1;36m\033[40m")) << c->Rest();
        }
    }
    OnlineEntry Entry(int line) {
        OnlineEntry e;
        ReadOnlineEntry(line, e);
        return e;
    }
    int ChatValue(int side) {
        int id = semget(3870, 2, 0);
        return id < 0 ? -1 : semctl(id, side, GETVAL);
    }
};

// The sysop lists the other lines: a caller at the menu with the device,
// name, location and do-not-disturb of that line, and a line still at the
// log-in, but not the sysop's own.  A one-line message reaches a line that
// may be disturbed ("|" made "!"), and is refused at one that may not,
// unless it comes from the sysop's level of exactly 64000.
TEST_F(LineChat, WhoIsOnLineAndOneLineMessages) {
    UserRecord terry = User(1);
    terry.Options |= USER_NO_DISTURB;
    PutUser(1, terry);
    StartBoard();
    auto sam = LogIn("sam sysop", "lighthouse");
    auto t1 = LogIn("terry tester", "keyboard");
    auto t2 = Dial();
    ASSERT_TRUE(t2->session().WaitForText("Your full name:")) << t2->Rest();

    sam->Send("w");
    ASSERT_TRUE(sam->Expect("Callers on the other lines")) << sam->Rest();
    ASSERT_TRUE(sam->Expect("Press a key to go on.")) << sam->Rest();
    std::string list = sam->session().Screen();
    char row[160];
    std::snprintf(row, sizeof row, "1      %-9.8s%-18.17s%-18.17s%-8.5s%-11.9s%s", devices_[1].c_str(), "Terry Tester",
                  "Testville", Entry(1).LogonTime.c_str(), "on line", "No");
    EXPECT_NE(list.find(row), std::string::npos) << list;
    std::snprintf(row, sizeof row, "2      %-9.8s%-18.17s", devices_[2].c_str(), "(logging in)");
    EXPECT_NE(list.find(row), std::string::npos) << list;
    EXPECT_EQ(list.find("0      " + devices_[0]), std::string::npos) << list;
    sam->Send(" ");
    ASSERT_TRUE(sam->Expect("Your choice: ")) << sam->Rest();

    t2->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(t2->Expect("Your choice: ")) << t2->Rest();
    t2->Send("t");
    ASSERT_TRUE(t2->Answer("Line to call (0-9): ", "1\r"));
    ASSERT_TRUE(t2->Expect("That caller does not want to be disturbed.")) << t2->Rest();
    EXPECT_FALSE(fs::exists(board().DataDir() / "line1.ask"));

    ASSERT_TRUE(t2->Expect("Your choice: ")) << t2->Rest();
    Ask(*t2, 0, "m");
    ASSERT_TRUE(t2->Answer("Message: ", "see you|soon\r")) << t2->Rest();
    ASSERT_TRUE(sam->Expect("A message from another line:")) << sam->Rest();
    ASSERT_TRUE(sam->Expect("Terry Tester from Testville, line 2")) << sam->Rest();
    ASSERT_TRUE(sam->Expect(">> see you!soon")) << sam->Rest();
    ASSERT_TRUE(sam->Expect("Press Enter to go on.")) << sam->Rest();
    // The message file goes once it has been shown, just after that line.
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(board().DataDir() / "line0.ask"); }));
    EXPECT_TRUE(t2->Expect("Your choice: ")) << t2->Rest();

    Ask(*sam, 1, "m");
    ASSERT_TRUE(sam->Answer("Message: ", "sysop here\r")) << sam->Rest();
    ASSERT_TRUE(t1->Expect(">> sysop here")) << t1->Rest();
}

// A chat asked for and accepted: each side's typing shows on the other's
// screen, a long line wraps its last word onto the next line on both, and
// both lines carry the chat mark.  The partner hangs up; the other side is
// told so at its next key, and the chat's semaphore set goes.
TEST_F(LineChat, ChatBothWaysUntilThePartnerHangsUp) {
    StartBoard();
    auto sam = LogIn("sam sysop", "lighthouse");
    auto terry = LogIn("terry tester", "keyboard");
    StartChat(*terry, *sam, 0);
    EXPECT_TRUE(Entry(0).Flags & LINE_CHAT);
    EXPECT_TRUE(Entry(1).Flags & LINE_CHAT);
    EXPECT_EQ(1, ChatValue(0));
    EXPECT_EQ(1, ChatValue(1));

    terry->Send("hello sam\r");
    EXPECT_TRUE(sam->session().WaitForText("hello sam")) << sam->session().Screen();
    // Keys that are neither printable nor the chat's editing keys never
    // reach the partner's terminal (Sam types nothing meanwhile, so all
    // that reaches it is Terry's).
    terry->Send("ok\x07\x0e\x05\x01\x7f" "done\r");
    EXPECT_TRUE(sam->session().WaitForText("okdone")) << sam->session().Screen();
    EXPECT_NE(sam->session().Output().find("okdone"), std::string::npos);
    sam->Send("hi terry");
    EXPECT_TRUE(terry->session().WaitForText("hi terry")) << terry->session().Screen();
    sam->Send("\r");

    // The sysop's "!" at the start of a line sends a text file of TextDir;
    // a name that is a path is refused.
    sam->Send("!");
    ASSERT_TRUE(sam->Answer("File to send: ", "../system/users.bbs\r")) << sam->Rest();
    ASSERT_TRUE(sam->Expect("Cannot open that file.")) << sam->Rest();
    sam->Send("!");
    ASSERT_TRUE(sam->Answer("File to send: ", "bull.asc\r")) << sam->Rest();
    ASSERT_TRUE(terry->Expect("  1  How this board works")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Sent: bull.asc")) << terry->Rest();
    ASSERT_TRUE(sam->Expect("Kivo v1.0")) << sam->Rest();

    terry->Send(std::string(70, 'x') + " wrapped");
    ASSERT_TRUE(sam->session().WaitForText("\nwrapped")) << sam->session().Screen();
    EXPECT_TRUE(terry->session().WaitForText("\nwrapped")) << terry->session().Screen();

    sam->session().Hangup();
    EXPECT_EQ(99, sam->Wait());
    EXPECT_EQ(4, ChatValue(0));
    terry->Send("!");
    ASSERT_TRUE(terry->Expect("Sam Sysop has left the chat.")) << terry->Rest();
    ASSERT_TRUE(terry->ExpectShown("Reason: hung up.")) << terry->Rest();
    ASSERT_TRUE(terry->LogOffAtMenu());
    EXPECT_EQ(-1, semget(3870, 2, 0));
    EXPECT_FALSE(Entry(1).Flags & LINE_CHAT);
    EXPECT_EQ(1, terry->Wait());
}

// Each side writes straight to the other's terminal in the form that
// terminal wants: Terry's UTF-8 letter reaches Sam's 8-bit line as its PC
// byte, and Sam's PC byte reaches Terry's UTF-8 line as the letter.
TEST_F(LineChat, EachTerminalGetsTheLettersInItsOwnForm) {
    StartBoard();
    auto sam = LogIn("sam sysop", "lighthouse");
    auto terry = LogIn("terry tester", "keyboard", true);
    StartChat(*terry, *sam, 0);
    terry->Send("caf\xC3\xA9 ok\r");
    EXPECT_TRUE(sam->session().WaitForText("café ok")) << sam->session().Screen();
    EXPECT_NE(sam->session().Output().find("caf\x82 ok"), std::string::npos);
    EXPECT_TRUE(terry->session().WaitForText("café ok")) << terry->session().Screen();
    sam->Send("Z\x81rich ok\r");
    EXPECT_TRUE(terry->session().WaitForText("Zürich ok")) << terry->session().Screen();
    EXPECT_NE(terry->session().Output().find("Z\xC3\xBCrich ok"), std::string::npos);

    sam->session().Hangup();
    EXPECT_EQ(99, sam->Wait());
    terry->Send("!");
    ASSERT_TRUE(terry->Expect("Sam Sysop has left the chat.")) << terry->Rest();
    ASSERT_TRUE(terry->LogOffAtMenu());
    EXPECT_EQ(1, terry->Wait());
}

// While two lines chat, a third line's chat request to a fourth is refused
// as busy (one semaphore set serves every line), and so is one to a line
// in the chat.  The sysop's SIGUSR1 ends the chat from outside; the
// partner learns at its next key that the other side left.
TEST_F(LineChat, BusyWhileAChatRunsAndTheSysopEndsIt) {
    StartBoard();
    auto sam = LogIn("sam sysop", "lighthouse");
    auto t1 = LogIn("terry tester", "keyboard");
    auto t2 = LogIn("terry tester", "keyboard");
    auto t3 = LogIn("terry tester", "keyboard");
    StartChat(*t1, *sam, 0);

    Ask(*t2, 3, "c");
    ASSERT_TRUE(t2->Expect("That line is busy: in a chat.")) << t2->Rest();
    ASSERT_TRUE(t2->Expect("Your choice: ")) << t2->Rest();
    t2->Send("t");
    ASSERT_TRUE(t2->Answer("Line to call (0-9): ", "0\r")) << t2->Rest();
    ASSERT_TRUE(t2->Expect("That line is busy: in a chat.")) << t2->Rest();
    EXPECT_FALSE(fs::exists(board().DataDir() / "line3.ask"));
    EXPECT_EQ(std::string::npos, t3->Rest().find("chat request")) << t3->Rest();
    EXPECT_EQ(1, ChatValue(0));
    EXPECT_EQ(1, ChatValue(1));

    ASSERT_EQ(0, kill(sam->session().pid(), SIGUSR1));
    ASSERT_TRUE(sam->Expect("The sysop ended the chat.")) << sam->Rest();
    ASSERT_TRUE(sam->Expect("Press Enter to go on.")) << sam->Rest();
    EXPECT_EQ(0, ChatValue(1));
    EXPECT_FALSE(Entry(0).Flags & LINE_MONITORED);  // the signal ended the chat only
    t1->Send("x");
    ASSERT_TRUE(t1->Expect("Sam Sysop has left the chat.")) << t1->Rest();
    ASSERT_TRUE(t1->ExpectShown("Reason: left.")) << t1->Rest();
    ASSERT_TRUE(t1->Expect("Your choice: ")) << t1->Rest();
    sam->Send("g");  // the menu's prompt stands where the request met it
    EXPECT_EQ(1, sam->Wait());
}

}  // namespace
}  // namespace kv::test

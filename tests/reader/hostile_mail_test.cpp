// Mail from outside as an attacker writes it: escape sequences in the
// names, the subject and the body (a title change, a screen wipe, status
// requests whose answers a terminal types back into the call), and a sender
// that poses as an option of the mailer.  Imported by the gateway and read
// by its addressee on a line: nothing of it reaches the terminal, and the
// sender is not answered as it stands.
#include <gtest/gtest.h>

#include "common/msgbase.h"
#include "common/runtime.h"
#include "server/mail_gateway.h"
#include "tests/reader/reader_fixture.h"
#include "tests/support/caller_fixture.h"
#include "tests/support/msgbase_reader.h"

namespace kv::test {
namespace {

class HostileMail : public CallerTest {
protected:
    void SetUp() override {
        CallerTest::SetUp();
        board().Set("MailCheckAtLogon", "1");  // the mail is offered at log-on
    }
};

constexpr const char* kReaderPrompt = "]ause? ";
// The board clears screens itself: the sequences are told by what follows.
const char* const kSequences[] = {"\x1b]0;owned", "\x1b[2J wiped", "\x1b[2J one", "\x1b[5n", "\x1b[21t", "owned\x07"};

TEST_F(HostileMail, ControlSequencesNeverReachTheTerminalAndAnOptionIsNoAddress) {
    SetConfig(board().config());
    // A mail stored before the gateway blanked control bytes.
    TestMessage old;
    old.number = 1, old.area = 2, old.status = MSG_EMAIL | MSG_PRIVATE;
    old.from = "old\x1b]0;owned\x07@far.org", old.to = "Terry Tester", old.subject = "Old \x1b[2J one";
    WriteBase({old});
    board().WriteFile(board().config().MailboxPath,
                      "From x@far.org Sat Mar  9 10:15:00 1996\n"
                      "From: -X/tmp/pwned\nTo: terry@kivo\nSubject: Hi \x1b]0;owned\x07 there\n\n"
                      "Line one \x1b[2J wiped\n\x1b[5n\x1b[21t\x7f asked\n");
    server::ImportIncomingMail();

    MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 2u);
    const MsgHeader& mail = base.messages[1].header;
    EXPECT_EQ(mail.FromName, "-X/tmp/pwned");
    EXPECT_EQ(mail.Subject, "Hi  ]0;owned  there");
    EXPECT_EQ(base.messages[1].text.Lines, (std::vector<std::string>{"Line one  [2J wiped", " [5n [21t  asked"}));

    StartBoard();
    auto terry = Dial();
    terry->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(terry->Answer("Read your mail now", "y")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Stop after each message", "y")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Old  [2J one")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(kReaderPrompt, "n")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Line one  [2J wiped")) << terry->Rest();
    // Answering the mail: the sender would reach the mailer as an option.
    ASSERT_TRUE(terry->Answer(kReaderPrompt, "r")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Give an Internet address")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Internet address: ", "\r")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(kReaderPrompt, "s")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Your choice: ", "g")) << terry->Rest();
    EXPECT_EQ(terry->Wait(), 1) << terry->Rest();

    const std::string& out = terry->session().Output();
    EXPECT_NE(out.find("Hi  ]0;owned  there"), std::string::npos);
    EXPECT_NE(out.find("old ]0;owned @far.org"), std::string::npos);
    for (const char* s : kSequences) EXPECT_EQ(out.find(s), std::string::npos) << "sequence " << s + 1;
    EXPECT_EQ(ReadMsgBase(board().MsgBaseDir()).messages.size(), 2u);  // no answer written
}

}  // namespace
}  // namespace kv::test

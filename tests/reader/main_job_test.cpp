// The board's main job, end to end on the sample board: the sysop writes a
// private message to Terry and logs off; Terry logs in, gets the mail at
// log-on, reads it and replies; the files hold both messages, linked.  And
// the read command reached from the message menu.
#include <gtest/gtest.h>

#include <regex>

#include "common/lastread.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "tests/support/caller_fixture.h"
#include "tests/support/msgbase_reader.h"
#include "tests/reader/reader_fixture.h"

namespace kv::test {
namespace {

class MainJob : public CallerTest {
protected:
    void SetUp() override {
        CallerTest::SetUp();
        board().Set("MailCheckAtLogon", "1");  // the mail found at log-on
    }
};

// The end of every prompt of the reader (its last bracketed key letter
// comes in a colour of its own).
constexpr const char* kReaderPrompt = "]ause? ";
constexpr const char* kEditorMenu = "[d/e/r/i/l/h/c/s/a] : ";

TEST_F(MainJob, AMessageWrittenIsFoundAtLogOnReadAndAnswered) {
    StartBoard();
    {
        auto sam = Dial();
        sam->LogInAs("sam sysop", "lighthouse");
        ASSERT_TRUE(sam->Expect("There is no new mail for you.")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("Your choice: ", "m")) << sam->Rest();
        ASSERT_TRUE(sam->Answer(": ", "e")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("To: ", "terry tester\r")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("Subject: ", "Hello Terry\r")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("Make the message private?", "y")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("Change the heading before writing?", "n")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("  1: ", "Welcome to the board, Terry.\r")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("  2: ", "\r")) << sam->Rest();
        ASSERT_TRUE(sam->Answer(kEditorMenu, "s")) << sam->Rest();
        ASSERT_TRUE(sam->Answer(": ", "q")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("Your choice: ", "g")) << sam->Rest();
        EXPECT_EQ(sam->Wait(), 1) << sam->Rest();
    }
    {
        auto terry = Dial();
        terry->LogInAs("terry tester", "keyboard");
        ASSERT_TRUE(terry->Expect("Mail waiting for you:")) << terry->Rest();
        ASSERT_TRUE(terry->Expect("1   message")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("Read your mail now", "y")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("Stop after each message", "y")) << terry->Rest();
        ASSERT_TRUE(terry->Expect("Welcome to the board, Terry.")) << terry->Rest();
        ASSERT_TRUE(terry->Answer(kReaderPrompt, "r")) << terry->Rest();
        ASSERT_TRUE(terry->Expect("RE: Hello Terry")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("Make the message private?", "y")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("Change the heading before writing?", "n")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("Quote the message you answer?", "n")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("  1: ", "Thank you, Sam!\r")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("  2: ", "\r")) << terry->Rest();
        ASSERT_TRUE(terry->Answer(kEditorMenu, "s")) << terry->Rest();
        // The same message again, now with its answer linked.
        ASSERT_TRUE(terry->Answer(kReaderPrompt, "s")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("Your choice: ", "g")) << terry->Rest();
        EXPECT_EQ(terry->Wait(), 1) << terry->Rest();
    }

    SetConfig(board().config());
    MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_EQ(base.messages.size(), 2u);
    const StoredMessage& letter = base.messages[0];
    const StoredMessage& answer = base.messages[1];
    EXPECT_EQ(letter.header.FromName, "Sam Sysop");
    EXPECT_EQ(letter.header.ToName, "Terry Tester");
    EXPECT_TRUE(letter.header.Status & MSG_PRIVATE);
    EXPECT_TRUE(letter.header.Status & MSG_RECEIVED);
    EXPECT_EQ(letter.recipient, "Received");
    EXPECT_EQ(letter.header.TimesRead, 2);  // shown before the reply and after it
    EXPECT_EQ(letter.header.LatestReply, answer.header.MsgNumber);
    EXPECT_EQ(answer.header.FromName, "Terry Tester");
    EXPECT_EQ(answer.header.ToName, "Sam Sysop");
    EXPECT_EQ(answer.header.Subject, "RE: Hello Terry");
    EXPECT_EQ(answer.header.ReplyTo, letter.header.MsgNumber);
    EXPECT_EQ(answer.recipient, "Sam Sysop");
    EXPECT_EQ(answer.text.Lines.back(), "Thank you, Sam!");

    LastReadRecord terry;
    ASSERT_TRUE(LastReadIO(1, terry, LastReadDirection::kRead));
    EXPECT_EQ(terry.LastRead[0], uint32_t(letter.header.MsgNumber));
    EXPECT_EQ(User(1).HighestRead, letter.header.MsgNumber);
    EXPECT_EQ(User(1).MessagesPosted, 1);
    EXPECT_EQ(User(0).MessagesPosted, 1);
}

// The read command from the message menu, as a caller gets there: the mail
// check declined at log-on, then every message of the area forward.
TEST_F(MainJob, TheMessageMenuReadsTheAreaForward) {
    SetConfig(board().config());
    std::vector<TestMessage> m(5);
    m[0].number = 1;
    m[1].number = 2, m[1].to = "Terry Tester";
    m[2].number = 3, m[2].status |= MSG_PRIVATE, m[2].to = "Olga Other";
    m[3].number = 4, m[3].area = 1;
    m[4].number = 5, m[4].status |= MSG_DELETED;
    WriteBase(m);
    StartBoard();
    auto terry = Dial();
    terry->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(terry->Answer("Read your mail now", "n")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Your choice: ", "m")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(": ", "r")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Reading mode", "f")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("from message number", "\r")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Stop after each message", "n")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("No more messages.", " ")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(": ", "q")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Your choice: ", "g")) << terry->Rest();
    EXPECT_EQ(terry->Wait(), 1) << terry->Rest();

    static const std::regex header("Message #([0-9]+) in ");
    std::vector<int> shown;
    const std::string& out = terry->session().Output();
    for (std::sregex_iterator it(out.begin(), out.end(), header), end; it != end; ++it)
        shown.push_back(std::stoi((*it)[1]));
    EXPECT_EQ(shown, (std::vector<int>{1, 2}));
    LastReadRecord lr;
    ASSERT_TRUE(LastReadIO(1, lr, LastReadDirection::kRead));
    EXPECT_EQ(lr.LastRead[0], 2u);
    EXPECT_EQ(User(1).HighestRead, 2);
    EXPECT_EQ(ReadMsgBase(board().MsgBaseDir()).messages[1].recipient, "Received");
}

}  // namespace
}  // namespace kv::test

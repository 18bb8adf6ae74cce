// The reader as callers meet it on a line: every reading mode over a base
// the test writes, private messages kept from a third caller, the files
// after reading, the screen of one message, paging, and the mail check.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <regex>

#include "caller/areas/reader_search.h"
#include "common/lastread.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/users.h"
#include "tests/reader/reader_fixture.h"
#include "tests/support/board.h"
#include "tests/support/msgbase_reader.h"
#include "tests/support/pty_session.h"

namespace kv::test {
namespace {

// Area 0 "General" and area 1 "Private mail" of the sample board.
//   record  number  area  what
//   0       1       0     public, Sam to All
//   1       2       0     private, Sam to Terry
//   2       3       1     public, Terry to All
//   3       4       0     deleted
//   4       5       0     private, Terry to Sam
//   5       6       0     public, Sam to Terry
//   6       7       1     private, Sam to Terry
std::vector<TestMessage> ModesBase() {
    std::vector<TestMessage> m(7);
    m[0].number = 1, m[0].subject = "First";
    m[1].number = 2, m[1].to = "Terry Tester", m[1].status |= MSG_PRIVATE, m[1].subject = "For Terry";
    m[2].number = 3, m[2].area = 1, m[2].from = "Terry Tester", m[2].subject = "Other area";
    m[3].number = 4, m[3].status |= MSG_DELETED, m[3].subject = "Gone";
    m[4].number = 5, m[4].from = "Terry Tester", m[4].to = "Sam Sysop", m[4].status |= MSG_PRIVATE;
    m[5].number = 6, m[5].to = "Terry Tester", m[5].subject = "Hi Terry";
    m[6].number = 7, m[6].area = 1, m[6].to = "Terry Tester", m[6].status |= MSG_PRIVATE;
    return m;
}

TEST_F(ReaderSession, EachModeShowsItsMessagesAndKeepsPrivateOnesFromOthers) {
    WriteBase(ModesBase());
    struct {
        int user;
        const char* mode;
        const char* number;
        std::vector<int> want;
    } const cases[] = {
        {kTerry, "F", "", {1, 2, 5, 6}},
        {kTerry, "F", "3", {5, 6}},
        {kTerry, "F", "4", {5, 6}},
        {kTerry, "B", "", {6, 5, 2, 1}},
        {kTerry, "B", "4", {2, 1}},
        {kTerry, "O", "5", {5}},
        {kUrsula, "F", "", {1, 6}},
        {kUrsula, "B", "", {6, 1}},
        {kUrsula, "O", "2", {}},
        {kUrsula, "O", "5", {}},
        {kUrsula, "N", "", {1, 6}},
        {kSam, "F", "", {1, 2, 5, 6}},
    };
    for (const auto& c : cases) {
        WriteBase(ModesBase());
        ASSERT_TRUE(WriteLastRead(c.user, LastReadRecord{}));
        EXPECT_EQ(ReadMode(c.user, c.mode, c.number), c.want) << "user " << c.user << " mode " << c.mode << c.number;
    }
}

TEST_F(ReaderSession, NewMessagesStartAfterTheLastReadNumber) {
    WriteBase(ModesBase());
    LastReadRecord lr;
    lr.LastRead[0] = 2;
    ASSERT_TRUE(WriteLastRead(kTerry, lr));
    EXPECT_EQ(ReadMode(kTerry, "N"), (std::vector<int>{5, 6}));

    // Nothing new once the caller's highest-read number reaches the base's.
    UserRecord terry;
    ASSERT_TRUE(ReadUserRecord(kTerry, terry));
    terry.HighestRead = 7;
    ASSERT_TRUE(WriteUserRecord(kTerry, terry));
    EXPECT_EQ(ReadMode(kTerry, "N"), (std::vector<int>{}));
    EXPECT_NE(session->Output().find("There are no new messages."), std::string::npos);
}

TEST_F(ReaderSession, ReadingMarksReceivedAndRaisesTheLastReadNumbers) {
    WriteBase(ModesBase());
    ASSERT_EQ(ReadMode(kTerry, "F"), (std::vector<int>{1, 2, 5, 6}));

    MsgBaseContents base = ReadMsgBase(board.MsgBaseDir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    // Terry's two messages in the area read; the one in area 1 still waits.
    EXPECT_EQ(base.messages[1].recipient, "Received");
    EXPECT_EQ(base.messages[5].recipient, "Received");
    EXPECT_EQ(base.messages[6].recipient, "Terry Tester");
    EXPECT_EQ(base.messages[3].recipient, "Deleted");
    EXPECT_TRUE(base.messages[1].header.Status & MSG_RECEIVED);
    EXPECT_FALSE(base.messages[0].header.Status & MSG_RECEIVED);
    for (int i : {0, 1, 4, 5}) EXPECT_EQ(base.messages[size_t(i)].header.TimesRead, 1) << i;
    EXPECT_EQ(base.messages[2].header.TimesRead, 0);

    LastReadRecord lr;
    ASSERT_TRUE(LastReadIO(kTerry, lr, LastReadDirection::kRead));
    EXPECT_EQ(lr.LastRead[0], 6u);
    EXPECT_EQ(lr.LastRead[1], 0u);

    // Read again: counted again.  The received mark decides: once it is set
    // the recipient entry is not written again, whatever it holds.
    ASSERT_TRUE(WriteRecipientEntry(1, "Terry Tester"));
    ASSERT_EQ(ReadMode(kTerry, "F"), (std::vector<int>{1, 2, 5, 6}));
    base = ReadMsgBase(board.MsgBaseDir());
    EXPECT_EQ(base.messages[1].header.TimesRead, 2);
    EXPECT_EQ(base.messages[1].recipient, "Terry Tester");
}

TEST_F(ReaderSession, MailCheckFindsTheCallersUnreadMailAcrossAreas) {
    ConfigRecord c = board.config();
    board.Set("MsgAreas[4].AreaDefined", "1");
    board.Set("MsgAreas[4].AreaName", "Staff");
    board.Set("MsgAreas[4].ReadLevel", "100");
    board.Set("MsgAreas[4].AreaSysopLevel", "64000");
    SetConfig(board.config());
    std::vector<TestMessage> m = ModesBase();
    m.resize(11);
    m[7].number = 8, m[7].to = "Terry Tester", m[7].status |= MSG_RECEIVED;           // read already
    m[8].number = 9, m[8].to = "terry tester";                                       // another name
    m[9].number = 10, m[9].to = "Terry Tester", m[9].status |= MSG_DELETED;          // deleted
    m[10].number = 11, m[10].area = 4, m[10].to = "Terry Tester", m[10].status |= MSG_PRIVATE;  // unreadable area
    WriteBase(m);

    Start(kTerry, {"mail", "read=/M"});
    ASSERT_TRUE(Answer("Read your mail now", "n"));
    std::string screen = session->Screen();
    EXPECT_NE(screen.find("General ................. 2   messages"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Private mail ............ 1   message"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Staff"), std::string::npos) << screen;

    // Declined: the marked list keeps the mail for the read command.
    ASSERT_TRUE(Answer("Reading mode", "M"));
    ASSERT_TRUE(Answer("Stop after each message", "n"));
    EXPECT_TRUE(session->WaitForText("Marked list: 3 message(s)")) << session->Screen();
    ASSERT_TRUE(Answer("No more messages.", " "));
    ASSERT_TRUE(session->WaitForText("done"));
    EXPECT_EQ(session->Wait(), 0);
    EXPECT_EQ(Shown(), (std::vector<int>{2, 6, 7}));

    // Read: now there is nothing waiting any more.
    Start(kTerry, {"mail"});
    ASSERT_TRUE(Answer("Check", ""));
    EXPECT_TRUE(session->WaitForText("There is no new mail for you.")) << session->Screen();
    EXPECT_TRUE(session->WaitForText("mail=1", 4000));
    EXPECT_EQ(session->Wait(), 0);
}

TEST_F(ReaderSession, AThirdCallerGetsNoMailAndAnEmptyMarkedList) {
    WriteBase(ModesBase());
    Start(kUrsula, {"mail", "read=/M"});
    EXPECT_TRUE(session->WaitForText("There is no new mail for you.")) << session->Screen();
    ASSERT_TRUE(Answer("Reading mode", "M"));
    EXPECT_TRUE(session->WaitForText("The marked list is empty.")) << session->Screen();
    EXPECT_TRUE(session->WaitForText("done", 6000));
    EXPECT_EQ(session->Wait(), 0);
    EXPECT_EQ(Shown(), (std::vector<int>{}));
}

}  // namespace
}  // namespace kv::test

namespace kv::test {
namespace {

// Message 6 as the screen tests show it: private and received, both reply
// links, a sender field that fills its 61 bytes without a NUL, a quoted
// line, a TAB and a line longer than a screen line.
const std::string kLongLine = std::string(70, 'x') + " and some more words past the edge";
const std::string kFullSender(61, 'A');

void WriteScreenBase() {
    std::vector<TestMessage> m = ModesBase();
    TestMessage& six = m[5];
    six.status |= MSG_PRIVATE | MSG_RECEIVED;
    six.replyTo = 1;
    six.latestReply = 9;
    six.timesRead = 3;
    six.lines = {"Hello Terry,", "TT> a quoted line", "\tindented", kLongLine};
    WriteBase(m);
    // The sender field without its NUL, as a foreign writer may leave it.
    std::fstream hdr(MsgBasePath(kMsgHeaderFile), std::ios::in | std::ios::out | std::ios::binary);
    hdr.seekp(5 * std::streamoff(MsgHeader::kSize) + 10);
    hdr.write(kFullSender.data(), std::streamsize(kFullSender.size()));
}

// The rows the one-number mode shows for message 6, from its first row.
const std::vector<std::string> kMessageSix = {
    "Message #6 in General - Received Private",
    "Date    : 03/04/24  10:20:30  (read 3 times)",
    "From    : " + kFullSender,
    "To      : Terry Tester",
    "Subject : Hi Terry",
    "Replies : #1 <--> #9",
    "",
    "Hello Terry,",
    "TT> a quoted line",
    "        indented",
    kLongLine.substr(0, 79),
    kLongLine.substr(79),
    "",
    "[S]top, [A]gain, [R]eply, [E]nter, [D]elete, [P]ause?",
};

class MessageScreen : public ReaderSession {
protected:
    // Shows message 6 by number and returns the row where it begins.
    int ShowSix(std::vector<std::string> settings) {
        WriteScreenBase();
        Start(kTerry, {"read=/M"}, settings);
        EXPECT_TRUE(Answer("Reading mode", "O"));
        EXPECT_TRUE(Answer("Message number", "6\r"));
        EXPECT_TRUE(session->WaitForText("[P]ause?")) << session->Screen();
        for (int row = 0; row < 24; ++row)
            if (session->Row(row).rfind("Message #6", 0) == 0) return row;
        ADD_FAILURE() << session->Screen();
        return 0;
    }
    void ExpectRows(int first) {
        for (size_t i = 0; i < kMessageSix.size(); ++i)
            EXPECT_EQ(session->Row(first + int(i)), kMessageSix[i]) << "row " << first + int(i);
    }
    void Finish() {
        session->Send("S");
        EXPECT_TRUE(session->WaitForText("done"));
        EXPECT_EQ(session->Wait(), 0);
    }
};

TEST_F(MessageScreen, AnAnsiCallerSeesTheHeaderAndTextInTheirColours) {
    // Clear screen on: prompted reading starts the message at the top.
    int top = ShowSix({"ansi", "color", "options=2"});
    EXPECT_EQ(top, 0);
    ExpectRows(top);
    struct {
        int row, col, fg;
        bool bold;
        const char* what;
    } const cells[] = {
        {0, 0, 7, true, "number line bright white"},
        {0, 24, 2, false, "received in green"},
        {0, 33, 7, true, "private back in bright white"},
        {1, 0, 3, true, "label in yellow"},
        {1, 10, 6, true, "value in bright cyan"},
        {7, 0, 6, false, "text in cyan"},
        {8, 0, 6, true, "quoted line in bright cyan"},
    };
    for (const auto& c : cells) {
        ScreenCell cell = session->Cell(c.row, c.col);
        EXPECT_EQ(cell.fg, c.fg) << c.what;
        EXPECT_EQ(cell.bold, c.bold) << c.what;
    }
    Finish();
}

TEST_F(MessageScreen, APlainCallerSeesTheSameRowsWithoutEscapes) {
    int top = ShowSix({"options=2"});
    ExpectRows(top);
    EXPECT_EQ(session->Output().find('\x1b'), std::string::npos);
    Finish();
}

// A message of 20 lines at a screen length of 10.
class Paging : public ReaderSession {
protected:
    void SetUp() override {
        ReaderSession::SetUp();
        TestMessage m;
        m.number = 1;
        m.lines.clear();
        for (int i = 1; i <= 20; ++i) m.lines.push_back("line " + std::to_string(i));
        WriteBase({m});
        Start(kTerry, {"read=/M"}, {"options=4", "screen=10"});
        EXPECT_TRUE(Answer("Reading mode", "F"));
        EXPECT_TRUE(Answer("from message number", "\r"));
    }
    // Line ends from the header to the first pause.
    long LinesBeforePause() const {
        const std::string& out = session->Output();
        size_t from = out.find("Message #1"), to = out.find("-- More --");
        if (from == std::string::npos || to == std::string::npos || to < from) return -1;
        return std::count(out.begin() + long(from), out.begin() + long(to), '\n');
    }
};

TEST_F(Paging, NonStopReadingPausesAtAFullPageAndEqualsTurnsPausesOff) {
    ASSERT_TRUE(Answer("Stop after each message", "n"));
    ASSERT_TRUE(Answer("-- More --", "="));
    EXPECT_EQ(LinesBeforePause(), 9);
    ASSERT_TRUE(Answer("No more messages.", " "));
    ASSERT_TRUE(session->WaitForText("done"));
    EXPECT_EQ(session->Wait(), 0);
    const std::string& out = session->Output();
    EXPECT_NE(out.find("line 20"), std::string::npos);
    EXPECT_EQ(out.find("-- More --"), out.rfind("-- More --")) << "one pause only";
}

TEST_F(Paging, NoKeyStopsNonStopReading) {
    ASSERT_TRUE(Answer("Stop after each message", "n"));
    ASSERT_TRUE(Answer("-- More --", "n"));
    ASSERT_TRUE(session->WaitForText("done"));
    EXPECT_EQ(session->Wait(), 0);
    EXPECT_EQ(session->Output().find("line 4"), std::string::npos);
    EXPECT_EQ(session->Output().find("No more messages."), std::string::npos);
}

TEST_F(Paging, NoKeyInPromptedReadingSkipsToTheReaderPrompt) {
    ASSERT_TRUE(Answer("Stop after each message", "y"));
    ASSERT_TRUE(Answer("-- More --", "n"));
    ASSERT_TRUE(session->WaitForText("[P]ause?")) << session->Screen();
    EXPECT_EQ(LinesBeforePause(), 9);
    EXPECT_NE(session->Output().find("line 3"), std::string::npos);
    EXPECT_EQ(session->Output().find("line 4"), std::string::npos);
    session->Send("S");
    ASSERT_TRUE(session->WaitForText("done"));
    EXPECT_EQ(session->Wait(), 0);
}

}  // namespace
}  // namespace kv::test

namespace kv::test {
namespace {

// While a caller looks at a message, kvpost marks it sent and another line
// reads it too: the reader's own changes land on the header as it is then.
TEST_F(ReaderSession, TheReaderChangesTheHeaderAsTheFileHoldsItThen) {
    WriteBase(ModesBase());
    Start(kTerry, {"read=/M"});
    ASSERT_TRUE(Answer("Reading mode", "O"));
    ASSERT_TRUE(Answer("Message number", "6\r"));
    ASSERT_TRUE(session->WaitForText("[P]ause?")) << session->Screen();

    MsgHeader h;
    ASSERT_TRUE(ReadMessageHeader(h, 5));
    h.MailFlags |= MAIL_SENT;
    h.TimesRead = 10;
    ASSERT_TRUE(WriteMessageHeader(h, 5));

    session->Send("S");
    ASSERT_TRUE(session->WaitForText("done"));
    EXPECT_EQ(session->Wait(), 0);
    ASSERT_TRUE(ReadMessageHeader(h, 5));
    EXPECT_TRUE(h.MailFlags & MAIL_SENT) << "the other writer's mark stays";
    EXPECT_EQ(h.TimesRead, 11);
    EXPECT_TRUE(h.Status & MSG_RECEIVED);
}

// A message deleted after the mail check put it on the marked list is
// passed over when the list is read.
TEST_F(ReaderSession, AMessageDeletedSinceTheMailCheckIsNotShownFromTheList) {
    WriteBase(ModesBase());
    Start(kTerry, {"mail", "read=/M"});
    ASSERT_TRUE(Answer("Read your mail now", "n"));
    ASSERT_TRUE(session->WaitForText("Reading mode"));

    MsgHeader h;
    ASSERT_TRUE(ReadMessageHeader(h, 1));
    h.Status |= MSG_DELETED;
    ASSERT_TRUE(WriteMessageHeader(h, 1));
    ASSERT_TRUE(WriteMessageIndex(MsgIndexRecord{-2, -1}, 1));
    ASSERT_TRUE(WriteRecipientEntry(1, kRecipientDeleted));

    session->Send("M");
    ASSERT_TRUE(Answer("Stop after each message", "n"));
    ASSERT_TRUE(Answer("No more messages.", " "));
    ASSERT_TRUE(session->WaitForText("done"));
    EXPECT_EQ(session->Wait(), 0);
    EXPECT_EQ(Shown(), (std::vector<int>{6, 7}));
}

// While a caller waits at the reader prompt, the base is packed and
// renumbered under it (as kvprune would, were the line not guarded): the
// caller's place now holds somebody's private message under the very
// number shown.  The pause key reads the place again; the message there is
// passed over, never shown, never counted.
TEST_F(ReaderSession, APlaceReadAgainThatHoldsAnotherMessageIsPassedOver) {
    WriteBase(ModesBase());
    Start(kUrsula, {"read=/M"});
    ASSERT_TRUE(Answer("Reading mode", "F"));
    ASSERT_TRUE(Answer("from message number", "6\r"));
    ASSERT_TRUE(Answer("Stop after each message", "y"));
    ASSERT_TRUE(session->WaitForText("[P]ause?")) << session->Screen();

    std::vector<TestMessage> packed = ModesBase();
    packed.erase(packed.begin() + 3);
    for (size_t i = 0; i < packed.size(); ++i) packed[i].number = int32_t(i + 1);
    packed[5].lines = {"Secret for Terry"};  // #6 now: private, Sam to Terry
    TestMessage later;
    later.number = 7;
    later.subject = "Later";
    packed.push_back(later);
    WriteBase(packed);

    session->Send("P");
    ASSERT_TRUE(Answer("Later", ""));
    ASSERT_TRUE(session->WaitForText("[P]ause?")) << session->Screen();
    session->Send("S");
    ASSERT_TRUE(session->WaitForText("done"));
    EXPECT_EQ(session->Wait(), 0);
    EXPECT_EQ(session->Output().find("Secret for Terry"), std::string::npos);
    EXPECT_EQ(Shown(), (std::vector<int>{6, 7}));
    MsgHeader h;
    ASSERT_TRUE(ReadMessageHeader(h, 5));
    EXPECT_EQ(h.TimesRead, 0) << "the private message was not counted as read";
}

}  // namespace
}  // namespace kv::test

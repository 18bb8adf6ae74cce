// The message-area commands on a line: the area summary, the switch of
// message files, deleting by number and from the reader, the text search
// over the selected areas and the two scans, with the files read back.
#include <gtest/gtest.h>

#include "caller/areas/message_delete.h"
#include "common/msgbase.h"
#include "common/users.h"
#include "tests/reader/reader_fixture.h"
#include "tests/support/msgbase_reader.h"

namespace kv::test {
namespace {

class AreaCommands : public ReaderSession {
protected:
    // Runs a probe to its end: "done" and exit status 0.
    void Finish() {
        EXPECT_TRUE(Next("done"));
        EXPECT_EQ(session->Wait(), 0);
    }
    void SetUser(int user, const std::function<void(UserRecord&)>& change) {
        UserRecord u;
        ASSERT_TRUE(ReadUserRecord(user, u));
        change(u);
        ASSERT_TRUE(WriteUserRecord(user, u));
    }
    bool OnScreen(const std::string& text) const { return session->Screen().find(text) != std::string::npos; }
};

// Area 4 "Locked" is open to no level but the one above the sysop's.
//   record  number  area  what
//   0       1       0     Sam to All
//   1       2       0     private, Sam to Terry
//   2       3       1     Terry to All
//   3       4       0     deleted
//   4       5       1     private, Sam to Terry
//   5       6       0     Sam to All
//   6       7       4     Sam to All, in the locked area
TEST_F(AreaCommands, TheSummaryCountsWhatEachCallerMaySeeAfterTheLastRead) {
    board.Set("MsgAreas[4].AreaDefined", "1");
    board.Set("MsgAreas[4].AreaName", "Locked");
    board.Set("MsgAreas[4].ReadLevel", "65000");
    board.Set("MsgAreas[4].AreaSysopLevel", "65000");
    SetConfig(board.config());
    std::vector<TestMessage> m(7);
    m[0].number = 1;
    m[1].number = 2, m[1].to = "Terry Tester", m[1].status |= MSG_PRIVATE;
    m[2].number = 3, m[2].area = 1, m[2].from = "Terry Tester";
    m[3].number = 4, m[3].status |= MSG_DELETED;
    m[4].number = 5, m[4].area = 1, m[4].to = "Terry Tester", m[4].status |= MSG_PRIVATE;
    m[5].number = 6;
    m[6].number = 7, m[6].area = 4;
    WriteBase(m);
    LastReadRecord terry;
    terry.LastRead[0] = 1;
    ASSERT_TRUE(WriteLastRead(kTerry, terry));

    const std::string general = " General .................................",
                      privateMail = " Private mail ............................",
                      internet = " Internet mail ...........................     0         0",
                      locked = " Locked ..................................     0         1";
    struct {
        int user;
        std::vector<std::string> rows;  // in this order
        bool seesLocked;
    } const cases[] = {
        // Terry read #1: #2 (his private one) and #6 are new in General.
        {kTerry, {"*" + general.substr(1) + "     2         3", "*" + privateMail.substr(1) + "     2         2",
                  internet}, false},
        // Ursula may not see Terry's private mail, so less is new for her.
        {kUrsula, {"*" + general.substr(1) + "     2         3", "*" + privateMail.substr(1) + "     1         2"},
         false},
        // The sysop level itself lists every area, the locked one too.
        {kSam, {internet, locked}, true},
    };
    for (const auto& c : cases) {
        Start(c.user, {"cmd=43"});
        ASSERT_TRUE(session->WaitForText("Press a key to go on.")) << session->Screen();
        std::string screen = session->Screen();
        EXPECT_NE(screen.find("kivo v1.0\n---------"), std::string::npos) << screen;
        EXPECT_NE(screen.find("Message areas: 5"), std::string::npos) << screen;
        EXPECT_NE(screen.find("Messages: 6"), std::string::npos) << screen;
        EXPECT_NE(screen.find("Numbers: 1 to 7"), std::string::npos) << screen;
        size_t at = 0;
        for (const std::string& row : c.rows) {
            at = screen.find(row + "\n", at);
            EXPECT_NE(at, std::string::npos) << "user " << c.user << " lacks\n" << row << "\n" << screen;
            if (at == std::string::npos) break;
        }
        EXPECT_EQ(screen.find("Locked") != std::string::npos, c.seesLocked) << screen;
        session->Send(" ");
        Finish();
    }
}

TEST_F(AreaCommands, ASwitchToAMessageFileNotLoadedChangesNothing) {
    // The probe loads one message file only; a 2 is no message file at all.
    Start(kTerry, {"cmd=61:2", "cmd=61", "cmd=61:1", "cmd=43"});
    ASSERT_TRUE(Next("Press a key to go on.", " "));
    Finish();
    EXPECT_NE(board.ReadFile(board.DataDir() / "reader.log").find("There is no message file 2"), std::string::npos);
}

// Replies and privacy around the messages Terry deletes.
//   record  number  what
//   0       1       Sam to Terry; its latest reply says #9
//   1       2       private, Sam to Ursula
//   2       3       Terry to All, answers #1, answered by #5
//   3       4       private, Sam to Ursula
//   4       5       Ursula to Terry, answers #3
std::vector<TestMessage> DeleteBase() {
    std::vector<TestMessage> m(5);
    m[0].number = 1, m[0].to = "Terry Tester", m[0].latestReply = 9;
    m[1].number = 2, m[1].to = "Ursula User", m[1].status |= MSG_PRIVATE;
    m[2].number = 3, m[2].from = "Terry Tester", m[2].replyTo = 1, m[2].latestReply = 5;
    m[3].number = 4, m[3].to = "Ursula User", m[3].status |= MSG_PRIVATE;
    m[4].number = 5, m[4].from = "Ursula User", m[4].to = "Terry Tester", m[4].replyTo = 3;
    return m;
}

TEST_F(AreaCommands, DeletingByNumberMarksEveryFileAndMovesTheBoundsPastHiddenMessages) {
    WriteBase(DeleteBase());
    Start(kTerry, {"cmd=26:/M", "cmd=26:/M", "cmd=26:/M", "cmd=26:/M"});
    for (const char* number : {"3", "1", "5"}) {
        ASSERT_TRUE(Next("Number of the message to delete:", std::string(number) + "\r"));
        ASSERT_TRUE(Next("Delete this message", "y"));
        ASSERT_TRUE(Next("The message is deleted."));
    }
    // Deleted already: there is no such message any more.
    ASSERT_TRUE(Next("Number of the message to delete:", "3\r"));
    Finish();
    EXPECT_NE(session->Output().find("There is no such message here."), std::string::npos);

    MsgBaseContents base = ReadMsgBase(board.MsgBaseDir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    for (int i : {0, 2, 4}) {
        const StoredMessage& s = base.messages[size_t(i)];
        EXPECT_EQ(s.index.MsgNumber, -s.header.MsgNumber) << i;
        EXPECT_EQ(s.index.MsgArea, -1) << i;
        EXPECT_TRUE(s.header.Status & MSG_DELETED) << i;
        EXPECT_EQ(s.recipient, "Deleted") << i;
    }
    for (int i : {1, 3}) {
        EXPECT_FALSE(base.messages[size_t(i)].header.Status & MSG_DELETED) << i;
        EXPECT_EQ(base.messages[size_t(i)].recipient, "Ursula User") << i;
    }
    // #1 no longer names an answer, whatever number it held.
    EXPECT_EQ(base.messages[0].header.LatestReply, 0);
    EXPECT_EQ(base.messages[4].header.ReplyTo, 0);
    ASSERT_TRUE(base.info);
    EXPECT_EQ(base.info->TotalMessages, 2);
    EXPECT_EQ(base.info->AreaCounts[0], 2);
    // The bounds are the hidden #2 and #4: what lives, not what Terry sees.
    EXPECT_EQ(base.info->LowestNumber, 2);
    EXPECT_EQ(base.info->HighestNumber, 4);
    EXPECT_NE(board.ReadFile(board.DataDir() / "reader.log").find("Message 3 in General deleted"),
              std::string::npos);
}

TEST_F(AreaCommands, DeletingByNumberIsRefusedToThoseWhoMayNot) {
    struct {
        int user;
        int32_t level;        // 0: as the sample board has it
        bool usersMayDelete;
        const char* refusal;  // none: the caller gets as far as the question
    } const cases[] = {
        {kUrsula, 0, true, "You may not delete that message."},  // Sam to Terry
        {kTerry, 0, false, "Sorry, you may not delete messages."},
        {kSam, 64001, false, "Sorry, you may not delete messages."},
        {kSam, 0, false, nullptr},
    };
    for (const auto& c : cases) {
        WriteBase(DeleteBase());
        board.Set("UsersMayDelete", c.usersMayDelete ? "1" : "0");
        if (c.level) SetUser(c.user, [&](UserRecord& u) { u.SecurityLevel = c.level; });
        Start(c.user, {"cmd=26:1"});
        if (c.usersMayDelete || c.refusal == nullptr) {
            ASSERT_TRUE(Next("to delete:", "1\r"));
        }
        if (c.refusal) {
            EXPECT_TRUE(Next(c.refusal));
        } else {
            ASSERT_TRUE(Next("Delete this message", "n"));
        }
        Finish();
        if (c.level) SetUser(c.user, [](UserRecord& u) { u.SecurityLevel = 64000; });
        MsgBaseContents base = ReadMsgBase(board.MsgBaseDir());
        EXPECT_EQ(base.messages[0].index.MsgNumber, 1) << "user " << c.user;
    }
}

TEST_F(AreaCommands, TheReaderDeletesAndTheMarkedListLosesTheEntry) {
    WriteBase(DeleteBase());
    // The mail check marks #1 and #5; #1 is deleted while reading them.
    Start(kTerry, {"mail", "read=/M"});
    ASSERT_TRUE(Next("Read your mail now", "y"));
    ASSERT_TRUE(Next("Stop after each message", "y"));
    ASSERT_TRUE(Next("[P]ause?", "d"));
    ASSERT_TRUE(Next("[P]ause?", "s"));
    ASSERT_TRUE(Next("Reading mode", "M"));
    ASSERT_TRUE(Next("Marked list: 1 message(s)"));
    ASSERT_TRUE(Next("Stop after each message", "y"));
    ASSERT_TRUE(Next("[P]ause?", "s"));
    Finish();
    EXPECT_EQ(Shown(), (std::vector<int>{1, 5, 5}));

    MsgBaseContents base = ReadMsgBase(board.MsgBaseDir());
    EXPECT_EQ(base.messages[0].index.MsgNumber, -1);
    EXPECT_TRUE(base.messages[0].header.Status & MSG_DELETED);
    EXPECT_EQ(base.messages[0].recipient, "Deleted");
    EXPECT_EQ(base.info->TotalMessages, 4);
    EXPECT_EQ(base.info->LowestNumber, 2);
}

// A header whose deleted bit is set already (as the header editor hands
// it over) is deleted once, decided by the index on disk.
TEST_F(AreaCommands, ADeleteOfADeletedMessageIsRefusedByTheIndex) {
    WriteBase(DeleteBase());
    Start(kTerry, {"cmd=26:/M"});
    ASSERT_TRUE(Next("to delete:", "1\r"));
    ASSERT_TRUE(Next("Delete this message", "y"));
    Finish();
    MsgBaseContents once = ReadMsgBase(board.MsgBaseDir());
    MsgHeader h = once.messages[0].header;
    EXPECT_EQ(caller::DeleteMessage(h, 0), 0);
    MsgBaseContents twice = ReadMsgBase(board.MsgBaseDir());
    EXPECT_EQ(twice.info->TotalMessages, once.info->TotalMessages);
    EXPECT_EQ(twice.info->AreaCounts[0], once.info->AreaCounts[0]);
}

// Words to search in areas Terry may not read and in private mail.
//   record  number  area  what
//   0       1       0     "Secret plans", public
//   1       2       0     "A secret for Ursula", private, Sam to Ursula
//   2       3       4     "Staff secret", in an area for level 100 only
//   3       4       1     "Not so SECRET", public
//   4       5       0     "Nothing", public
TEST_F(AreaCommands, ASearchOverTheSelectedAreasFindsOnlyWhatTheCallerMaySee) {
    board.Set("MsgAreas[4].AreaDefined", "1");
    board.Set("MsgAreas[4].AreaName", "Staff");
    board.Set("MsgAreas[4].ReadLevel", "100");
    SetConfig(board.config());
    std::vector<TestMessage> m(5);
    m[0].number = 1, m[0].subject = "Secret plans";
    m[1].number = 2, m[1].subject = "A secret for Ursula", m[1].to = "Ursula User", m[1].status |= MSG_PRIVATE;
    m[2].number = 3, m[2].subject = "Staff secret", m[2].area = 4;
    m[3].number = 4, m[3].subject = "Not so SECRET", m[3].area = 1;
    m[4].number = 5, m[4].subject = "Nothing";
    WriteBase(m);
    struct {
        int user;
        std::vector<int> found;
    } const cases[] = {{kTerry, {1, 4}}, {kUrsula, {1, 2, 4}}, {kSam, {1, 2, 3, 4}}};
    for (const auto& c : cases) {
        SetUser(c.user, [](UserRecord& u) { u.ScanAreas.fill(255); });
        Start(c.user, {"read=65535"});
        ASSERT_TRUE(Next("Reading mode", "T"));
        ASSERT_TRUE(Next(" - search in:", "s"));
        ASSERT_TRUE(Next("Subject holds:", "secret\r"));
        ASSERT_TRUE(Next("Start at message number", "\r"));
        ASSERT_TRUE(Next("Stop after each message", "n"));
        ASSERT_TRUE(Next("No more messages.", " "));
        Finish();
        EXPECT_EQ(Shown(), c.found) << "user " << c.user;
    }
}

// The search's list holds 499 hits; a stop key during the search finds
// nothing, whatever it had found.
TEST_F(AreaCommands, ASearchStopsAtAFullListAndAStoppedOneFindsNothing) {
    std::vector<TestMessage> m(520);
    for (size_t i = 0; i < m.size(); ++i) m[i].number = int32_t(i + 1), m[i].subject = "Same old";
    WriteBase(m);
    Start(kTerry, {"read=/M,2", "read=/M"});
    ASSERT_TRUE(Next("Reading mode", "T"));
    ASSERT_TRUE(Next(" - search in:", "s"));
    ASSERT_TRUE(Next("Subject holds:", "OLD\r"));
    ASSERT_TRUE(Next("Start at message number", "\r"));
    ASSERT_TRUE(Next("The list is full: 499 messages.", " "));
    ASSERT_TRUE(Next("-- More --", "="));
    ASSERT_TRUE(Next("End of the messages.", " "));
    // The list holds the first 499, one line each.
    const std::string& out = session->Output();
    EXPECT_NE(out.find("\r499   All"), std::string::npos);
    EXPECT_EQ(out.find("\r500   All"), std::string::npos);

    // Stopped at once: the stop key waits in the input as the search starts.
    ASSERT_TRUE(Next("Reading mode", "T"));
    ASSERT_TRUE(Next(" - search in:", "s"));
    ASSERT_TRUE(Next("Subject holds:", "old\r"));
    ASSERT_TRUE(Next("Start at message number", "\rS"));
    ASSERT_TRUE(Next("Nothing found."));
    Finish();
}

// Terry's view of area 0: #1, #2 (private to him), #5 (his own private
// one to Sam) and #6; #4 is deleted and #3, #7 lie in area 1.
std::vector<TestMessage> ScanBase() {
    std::vector<TestMessage> m(7);
    m[0].number = 1, m[0].subject = "First";
    m[1].number = 2, m[1].to = "Terry Tester", m[1].status |= MSG_PRIVATE, m[1].subject = "For Terry";
    m[2].number = 3, m[2].area = 1;
    m[3].number = 4, m[3].status |= MSG_DELETED;
    m[4].number = 5, m[4].from = "Terry Tester", m[4].to = "Sam Sysop", m[4].status |= MSG_PRIVATE;
    m[5].number = 6, m[5].to = "Terry Tester", m[5].subject = "A subject longer than its column";
    m[6].number = 7, m[6].area = 1;
    return m;
}

TEST_F(AreaCommands, TheOneLineListShowsRecipientBeforeSender) {
    WriteBase(ScanBase());
    Start(kTerry, {"read=/M,2"}, {"options=2"});
    ASSERT_TRUE(Next("Reading mode", "F"));
    ASSERT_TRUE(Next("from message number", "\r"));
    ASSERT_TRUE(session->WaitForText("End of the messages. Press a key.")) << session->Screen();
    const std::vector<std::string> want = {
        "Num   To                      From                    Subject",
        std::string(79, '-'),
        "1     All                     Sam Sysop               First",
        "2     Terry Tester            Sam Sysop               For Terry",
        "5     Sam Sysop               Terry Tester            Hello",
        "6     Terry Tester            Sam Sysop               A subject longer than",
        "End of the messages. Press a key.",
    };
    int top = 0;
    while (top < 24 && session->Row(top) != want[0]) ++top;
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(session->Row(top + int(i)), want[i]) << "row " << i;
    session->Send(" ");
    Finish();
}

// Mail stored before the gateway blanked control bytes: the one-line list
// shows its names and subject with blanks, as the full header does, and
// none of its sequences reaches the terminal.
TEST_F(AreaCommands, TheOneLineListBlanksControlBytesOfStoredMail) {
    std::vector<TestMessage> m(1);
    m[0].number = 1, m[0].from = "Ev\x1b]0;owned\x07" "e", m[0].to = "A\x1b[2Jll", m[0].subject = "Hi\x1b[5n\x7f!";
    WriteBase(m);
    Start(kTerry, {"read=/M,2"}, {"options=2"});
    ASSERT_TRUE(Next("Reading mode", "F"));
    ASSERT_TRUE(Next("from message number", "\r"));
    ASSERT_TRUE(session->WaitForText("End of the messages. Press a key.")) << session->Screen();
    const std::string& out = session->Output();
    EXPECT_NE(out.find("1     A [2Jll                 Ev ]0;owned e           Hi [5n !"), std::string::npos) << out;
    for (const char* sequence : {"\x1b]0;owned", "\x1b[2J", "\x1b[5n", "\x07", "\x7f"})
        EXPECT_EQ(out.find(sequence), std::string::npos) << "sequence " << sequence + 1;
    session->Send(" ");
    Finish();
}

TEST_F(AreaCommands, TheHeaderScanMarksMessagesOnceForTheMarkedList) {
    WriteBase(ScanBase());
    // A paced line, so that a key can come while a prompt is being written.
    Start(kTerry, {"read=/M,1", "read=/M,1", "read=/M"}, {"options=0", "delay=30000"});
    ASSERT_TRUE(Next("Reading mode", "F"));
    ASSERT_TRUE(Next("from message number", "\r"));
    ASSERT_TRUE(Next("Mark messages while scanning", "y"));
    for (const char* key : {"m", "n", "m"}) ASSERT_TRUE(Next("[M]ark, [N]ext or [S]top?", key));
    // Enter typed while the prompt is still being written is "next" too.
    ASSERT_TRUE(Next("[M]ark", "\r"));
    ASSERT_TRUE(Next("End of the messages.", " "));
    // Again, keeping the list: #1 marked a second time stays one entry.
    ASSERT_TRUE(Next("Reading mode", "F"));
    ASSERT_TRUE(Next("from message number", "\r"));
    ASSERT_TRUE(Next("Mark messages while scanning", "y"));
    ASSERT_TRUE(Next("Empty the marked list first", "n"));
    ASSERT_TRUE(Next("[M]ark, [N]ext or [S]top?", "m"));
    ASSERT_TRUE(Next("[M]ark, [N]ext or [S]top?", "s"));
    ASSERT_TRUE(Next("Reading mode", "M"));
    ASSERT_TRUE(Next("Marked list: 2 message(s)"));
    ASSERT_TRUE(Next("Stop after each message", "n"));
    ASSERT_TRUE(Next("No more messages.", " "));
    Finish();
    // The scans show short headers too; the reading shows #1 and #5 last.
    std::vector<int> shown = Shown();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ((std::vector<int>(shown.end() - 2, shown.end())), (std::vector<int>{1, 5}));
}

}  // namespace
}  // namespace kv::test

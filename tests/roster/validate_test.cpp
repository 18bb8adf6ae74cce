// Validation with its letter in the message base, the utilities, the
// statistics and the on-line list: the pieces alone, then kvroster on a
// pty with the files the test wrote read back.
#include <unistd.h>

#include "common/msgbase.h"
#include "common/online_status.h"
#include "common/runtime.h"
#include "common/users.h"
#include "roster/settings.h"
#include "roster/utilities.h"
#include "roster/validate.h"
#include "tests/roster/roster_fixture.h"

namespace kv::test {
namespace {

TEST(RosterValidation, AnAnswerBlockBelongsToTheWholeName) {
    struct Case {
        const char* line;
        bool names;
    } cases[] = {
        {"*** John Smith 10:00:00 answered on 24/01/02 ***", true},
        {"*** John Smithers 10:00:00 answered on 24/01/02 ***", false},
        {"*** Big John Smith2 ***", false},
        {"***John Smith", true},
        {"  *** John Smith ***", false},  // a heading starts its line
        {"John Smith ***", false},
    };
    for (const Case& c : cases) EXPECT_EQ(roster::AnswerHeadingNames(c.line, "John Smith"), c.names) << c.line;

    TempBoard board;
    const fs::path answers = board.DataDir() / "newuser.asw";
    std::ofstream(answers) << "\n*** John Smithers 10:00:00 on 24/01/02 ***\nwrong   \n"
                           << "\n*** John Smith 10:01:00 on 24/01/02 ***\nQ1 yes   \n\nQ2 no\n*** Ann Other ***\nx\n";
    std::vector<std::string> lines;
    EXPECT_EQ(roster::ReadAnswerBlock(answers, "John Smith", lines), roster::AnswerBlock::kFound);
    EXPECT_EQ(lines, (std::vector<std::string>{"Q1 yes", "", "Q2 no"}));
    EXPECT_EQ(roster::ReadAnswerBlock(answers, "Nobody Here", lines), roster::AnswerBlock::kNotFound);
    EXPECT_EQ(roster::ReadAnswerBlock(board.DataDir() / "none.asw", "John Smith", lines), roster::AnswerBlock::kNoFile);
}

TEST(RosterValidation, LevelFlagsAndTheLetterLines) {
    roster::RosterSettings s;
    s.ValidatedLevel = 20;
    s.NewUserFlags = {0x01, 0x01, 0, 0};
    s.ValidatedFlags = {0x0F, 0x0F, 0x80, 0};
    UserRecord r;
    r.SecurityLevel = 5;
    r.Flags = {0x01, 0x03, 0, 0x40};  // B differs from the new user's set: kept
    UserRecord v = roster::ValidatedRecord(r, s);
    EXPECT_EQ(v.SecurityLevel, 20);
    EXPECT_EQ(v.Flags, (FlagGroups{0x0F, 0x03, 0x80, 0x40}));

    EXPECT_EQ(roster::LetterLines("Dear   \nWelcome\tto us\n\nno line feed"),
              (std::vector<std::string>{"Dear", "Welcome\tto us", ""}));
    std::vector<std::string> longLine = roster::LetterLines(std::string(1500, 'x') + "\n");
    ASSERT_EQ(longLine.size(), 2u);
    EXPECT_EQ(longLine[0].size(), roster::kLetterLineMax);
    EXPECT_EQ(longLine[1].size(), 1500 - roster::kLetterLineMax);
}

TEST(RosterUtilities, TheAnswerIsOneQuotedWordAndStatisticsDivideSafely) {
    EXPECT_EQ(roster::UtilityCommand("/bin/grep ! users.log", "a b"), "/bin/grep 'a b' users.log");
    EXPECT_EQ(roster::UtilityCommand("/bin/echo !", "x'; rm -rf $(pwd) `id`"), "/bin/echo 'x'\\''; rm -rf $(pwd) `id`'");
    EXPECT_EQ(roster::UtilityCommand("/bin/df -k", "unused"), "/bin/df -k");
    EXPECT_EQ(roster::UtilityProgram("/bin/df -k /"), "/bin/df");
    EXPECT_EQ(roster::AveragePerUser(10, 0), 0.0);
    EXPECT_EQ(roster::AveragePerUser(10, 4), 2.5);
}

class RosterValidateTest : public RosterUsersTest {
protected:
    void SetUp() override { SetConfig(board.config()); }
    void TearDown() override { SetConfig(ConfigRecord{}); }

    void WriteSettings(const roster::RosterSettings& s) {
        ASSERT_TRUE(roster::WriteSettingsFile(board.DataDir() / roster::kSettingsFile, s));
    }
    // Runs main-menu entry `item` (0-23) from the first entry.
    static void RunEntry(PtySession& s, int item) {
        s.Send(std::string(size_t(item / 6), '+') + std::string(size_t(item % 6), '\t') + "\r");
    }
};

TEST_F(RosterValidateTest, ANewUserIsValidatedAndGetsTheLetterInTheMessageBase) {
    WriteUsers(3);
    for (int n = 1; n <= 2; ++n) {
        UserRecord r = Record(n);
        r.Name = n == 1 ? "John Smithers" : "John Smith";
        r.SecurityLevel = 5;
        r.Flags = {0x01, 0x03, 0, 0};
        ASSERT_TRUE(WriteUserRecord(n, r));
    }
    const fs::path answers = board.DataDir() / "newuser.asw", letter = board.DataDir() / "welcome.txt";
    std::ofstream(answers) << "\n*** Answers of John Smithers at 10:00:00 on 24/01/02 ***\nNot his answer\n"
                           << "\n*** Answers of John Smith at 10:01:00 on 24/01/02 ***\nFavourite colour: green\n";
    std::ofstream(letter) << "Welcome   \nto the board.\nnot posted";
    roster::RosterSettings settings;
    settings.UnvalidatedLevel = 5;
    settings.ValidatedLevel = 20;
    settings.NewUserFlags = {0x01, 0x01, 0, 0};
    settings.ValidatedFlags = {0x0F, 0x0F, 0, 0};
    settings.LetterPath = letter.string();
    settings.LetterArea = 3;
    settings.PrivateLetter = 1;
    settings.QuestionnairePath = answers.string();
    WriteSettings(settings);

    auto s = StartBrowsing();
    s->Send("\x1bOB\x1bOBv");  // record 2
    ASSERT_TRUE(s->WaitForText("Questionnaire answers of John Smith"));
    ASSERT_TRUE(s->WaitForText("Favourite colour: green"));
    EXPECT_EQ(s->Screen().find("Not his answer"), std::string::npos);
    s->Send(" ");
    ASSERT_TRUE(s->WaitForText("Do you want to validate this user?"));
    s->Send("y");
    ASSERT_TRUE(s->WaitForText("Which letter do you want to post?"));
    s->Send("\r");
    ASSERT_TRUE(s->WaitForText("Message no. 1 posted in area #3"));
    s->Send(" ");
    // The other one is validated already once raised; Smithers is not.
    s->Send("\x1bOAv");
    ASSERT_TRUE(s->WaitForText("Not his answer"));
    s->Send("\x1b");  // Esc at the answers: nothing asked, nothing changed
    ASSERT_TRUE(s->WaitForText("<F2/Find/Tog/Del/Val>"));
    s->Send("\x1b");
    Quit(*s);

    UserRecord smith = Record(2), smithers = Record(1);
    EXPECT_EQ(smith.SecurityLevel, 20);
    EXPECT_EQ(smith.Flags, (FlagGroups{0x0F, 0x03, 0, 0}));
    EXPECT_EQ(smithers.SecurityLevel, 5);

    // The five files of the message base agree on the one message.
    MsgInfoRecord info;
    ASSERT_TRUE(ReadMessageInfo(info));
    EXPECT_EQ(info.LowestNumber, 1);
    EXPECT_EQ(info.HighestNumber, 1);
    EXPECT_EQ(info.TotalMessages, 1);
    EXPECT_EQ(info.AreaCounts[2], 1);
    MsgIndexRecord index;
    ASSERT_TRUE(ReadMessageIndex(index, 0));
    EXPECT_EQ(index.MsgNumber, 1);
    EXPECT_EQ(index.MsgArea, 2);
    EXPECT_EQ(fs::file_size(board.MsgBaseDir() / kMsgToIndexFile), 61u);
    EXPECT_EQ(ReadAll(board.MsgBaseDir() / kMsgToIndexFile).substr(0, 11), std::string("John Smith\0", 11));
    MsgHeader h;
    ASSERT_TRUE(ReadMessageHeader(h, 0));
    EXPECT_EQ(h.MsgNumber, 1);
    EXPECT_EQ(h.MsgArea, 2);
    EXPECT_EQ(h.FromName, "Sam Sysop");
    EXPECT_EQ(h.ToName, "John Smith");
    EXPECT_EQ(h.Subject, "Validation");
    EXPECT_EQ(h.Status, MSG_LOCAL | MSG_PRIVATE);
    MsgText text;
    ASSERT_TRUE(ReadMessageText(h.TextOffset, text));
    EXPECT_EQ(text.Pid, "kvroster");
    EXPECT_EQ(text.Lines, (std::vector<std::string>{"Welcome", "to the board."}));
}

TEST_F(RosterValidateTest, EscAtTheThirdMarkedUserStopsTheRunAndKeepsTheFirstTwo) {
    WriteUsers(5);
    for (int n = 1; n <= 4; ++n) {
        UserRecord r = Record(n);
        r.SecurityLevel = 5;
        ASSERT_TRUE(WriteUserRecord(n, r));
    }
    const fs::path answers = board.DataDir() / "newuser.asw";
    std::ofstream out(answers);
    for (int n = 1; n <= 4; ++n) out << "*** User " << n << " ***\nanswer of " << n << "\n";
    out.close();
    roster::RosterSettings settings;
    settings.QuestionnairePath = answers.string();
    WriteSettings(settings);

    auto s = StartBrowsing();
    s->Send("\x1bOB    ");  // marks 1-4
    ASSERT_TRUE(s->WaitForText("√ User 4 "));
    s->Send("\x1b");
    RunEntry(*s, 13);
    for (int n = 1; n <= 2; ++n) {
        ASSERT_TRUE(s->WaitForText("answer of " + std::to_string(n)));
        s->Send(" ");
        ASSERT_TRUE(s->WaitForText("Do you want to validate this user?"));
        s->Send("y");
    }
    ASSERT_TRUE(s->WaitForText("answer of 3"));
    s->Send("\x1b");
    ASSERT_TRUE(s->WaitForText("Validate selected/marked users"));
    Quit(*s);
    const int32_t want[] = {64000, 10, 10, 5, 5};
    for (int n = 0; n < 5; ++n) EXPECT_EQ(Record(n).SecurityLevel, want[n]) << n;
}

TEST_F(RosterValidateTest, AUtilityGetsTheAnswerAsOneWordAndARefusedOneRunsNothing) {
    WriteUsers(1);
    roster::RosterSettings settings;
    settings.UtilityCommands[0] = "/bin/echo got !";
    settings.UtilityCommands[1] = (board.DataDir() / "notexec.sh").string();
    WriteSettings(settings);
    std::ofstream(board.DataDir() / "notexec.sh") << "#!/bin/sh\ntouch ran\n";
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    RunEntry(*s, 19);
    ASSERT_TRUE(s->WaitForText("Enter the number to execute"));
    s->Send("1");
    ASSERT_TRUE(s->WaitForText("Enter command to execute"));
    s->Send("a;touch x $(touch y)\r");
    ASSERT_TRUE(s->WaitForText("got a;touch x $(touch y)"));
    EXPECT_TRUE(s->WaitForText("Press Any key to continue"));
    s->Send(" ");
    ASSERT_TRUE(s->WaitForText("Enter the number to execute"));
    s->Send("2");
    ASSERT_TRUE(s->WaitForText("Cannot execute this utility, please check!"));
    s->Send(" ");
    ASSERT_TRUE(s->WaitForText("Enter the number to execute"));
    s->Send("\x1b");
    Quit(*s);
    for (const char* f : {"x", "y", "ran"}) {
        EXPECT_FALSE(fs::exists(board.DataDir() / f)) << f;
        EXPECT_FALSE(fs::exists(board.root() / f)) << f;
    }
}

TEST_F(RosterValidateTest, StatisticsCountByTheLevelsOfTheLimitsFile) {
    WriteUsers(4);  // levels 64000, 11, 12, 13
    for (int n = 1; n <= 3; ++n) {
        UserRecord r = Record(n);
        r.SecurityLevel = n == 3 ? 77 : 10;  // 77 is no level of the file
        r.DownloadedFiles = uint32_t(n);
        r.MessagesPosted = 2;
        if (n == 2) r.Options |= USER_DELETED;
        ASSERT_TRUE(WriteUserRecord(n, r));
    }
    board.WriteFile("data/limits.ctl", "# level minutes ...\n10 60 50 100 150 200 300 800 5 10\n"
                                       "64000 480 1000 2000 3000 4000 5000 800 0 0\n");
    ASSERT_TRUE(fs::exists(board.DataDir() / "limits.ctl"));
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    RunEntry(*s, 20);
    ASSERT_TRUE(s->WaitForText("4 user(s) in the file, 1 deleted"));
    ASSERT_TRUE(s->WaitForText("Level 10          2 user(s)"));
    const std::string screen = s->Screen();
    size_t top = screen.find("Level 64000       1 user(s)");
    ASSERT_NE(top, std::string::npos) << screen;
    EXPECT_LT(top, screen.find("Level 10 "));
    EXPECT_EQ(screen.find("Level 0 "), std::string::npos) << "the comment is no level";
    s->Send(" ");
    ASSERT_TRUE(s->WaitForText(" Download (files)         6             1.50"));
    EXPECT_TRUE(s->WaitForText(" Msgs posted              6             1.50"));
    EXPECT_TRUE(s->WaitForText(" No. of calls           406           101.50"));
    s->Send(" ");
    Quit(*s);
}

TEST_F(RosterValidateTest, TheOnLineListShowsEachCallerOnItsLine) {
    WriteUsers(3);
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    RunEntry(*s, 22);  // no "online.ctl" yet
    ASSERT_TRUE(s->WaitForText("There's no currently logged user"));
    s->Send(" ");
    ASSERT_TRUE(CreateOnlineFile());
    for (int line : {1, 4}) {
        OnlineEntry e;
        e.Pid = int32_t(getpid());
        e.User = line == 1 ? 2 : 1;
        e.LogonTime = line == 1 ? "09:15:00" : "10:20:30";
        ASSERT_TRUE(WriteOnlineEntry(line, e));
    }
    s->Send("\r");
    ASSERT_TRUE(s->WaitForText("1    User 2                    Town 2                    09:15:00 102"));
    EXPECT_TRUE(s->WaitForText("4    User 1                    Town 1                    10:20:30 101"));
    EXPECT_TRUE(s->WaitForText("Hit any key to continue : "));
    s->Send(" ");
    Quit(*s);
}

}  // namespace
}  // namespace kv::test

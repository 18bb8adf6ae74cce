// Questionnaire scripts as a caller meets them: a top menu of the test's
// own whose lines run scripts the test writes into DataDir, kivo on a
// pseudo-terminal against a real kvhubd, and afterwards the answers file,
// the activity log and the user record read back.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "caller/call/questionnaire.h"
#include "roster/validate.h"
#include "tests/support/caller_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

class Questionnaire : public CallerTest {
protected:
    // The top menu: "Q" runs the questionnaire with argument, "G" logs off.
    std::unique_ptr<Caller> Start(const std::string& argument) {
        WriteTopMenu("[~] Choice: ", {{12, 'Q', argument}, {9, 'G', "bye"}});
        StartBoard();
        auto c = Dial();
        c->LogInAs("terry tester", "keyboard");
        EXPECT_TRUE(c->Answer("Choice: ", "q")) << c->Rest();
        return c;
    }
    void Script(const std::string& name, const std::string& body) {
        board().WriteFile(board().DataDir() / (name + ".q-a"), body);
    }
    std::string Answers(const std::string& name) {
        fs::path p = board().DataDir() / (name + ".asw");
        return fs::exists(p) ? board().ReadFile(p) : std::string("(none)");
    }
};

// A script that uses every group of keywords: questions and choices into
// answers, their case, nested tests, a here-document, the answers file,
// the caller's flags and level, the log, a program, a display file, zap;
// nothing after "quit" runs.
TEST_F(Questionnaire, EveryKindOfKeyword) {
    UserRecord terry = User(1);
    terry.Flags = {1, 0, 0, 0};
    PutUser(1, terry);
    const fs::path ran = board().root() / "ran.txt";
    Script("quiz", "# the test's questionnaire\n"
                   "clearscreen\n"
                   "changecolor 14 1\n"
                   "display \"Start|here \"\n"
                   "writef \"Hi %F, 100%% sure\"\n"
                   "ask Z1 5\n"
                   "toupper Z1\n"
                   "if Z1 = \"YES\"\n"
                   "  writef \"yes said\"\n"
                   "  if Z1 ~ \"YES\"\n"
                   "    writef \"never shown\"\n"
                   "  endif\n"
                   "endif\n"
                   "IF Z1 = \"yes\"\n"
                   "  writef \"case counts\"\n"
                   "endif\n"
                   "getchoice Z2 \"abc\"\n"
                   "tolower Z2\n"
                   "ask Z13 30\n"
                   "capitalize Z13\n"
                   "listanswer Z13\n"
                   "writef \"%Z13[3]!%Z2\"\n"
                   "heredocument\n"
                   "   kept   as %F is\n"
                   "stop here\n"
                   "postinfo\n"
                   "outputanswer Z1 \"Said: \"\n"
                   "outputanswer Z13 \"Name|line: \"\n"
                   "setflag c3 on\n"
                   "setflag A1 OFF\n"
                   "setsecurity 100\n"
                   "stamplog \"quiz by %F: %Z1 at 100%%\"\n"
                   "execute \"touch " + ran.string() + "\"\n"
                   "filecat \"bull\"\n"
                   "zap\n"
                   "writef \"[%Z1]\"\n"
                   "quit\n"
                   "writef \"after quit\"\n");
    auto c = Start("quiz");
    ASSERT_TRUE(c->Expect("Start\n\rhere Hi Terry, 100% sure")) << c->Rest();
    c->Send("yes\r");
    ASSERT_TRUE(c->Expect("yes said")) << c->Rest();
    ASSERT_TRUE(c->Answer("[a/b/c] : ", "b")) << c->Rest();
    c->Send("john smith\r");
    ASSERT_TRUE(c->Expect("John Smith\n\rJoh!b\n\r   kept   as %F is\n\r")) << c->Rest();
    ASSERT_TRUE(c->Expect("[]\n\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Choice: ", "g")) << c->Rest();
    EXPECT_EQ(1, c->Wait()) << c->Rest();

    std::string screen = c->session().Output();
    for (const char* absent : {"never shown", "case counts", "after quit", "stop here"})
        EXPECT_EQ(std::string::npos, screen.find(absent)) << absent;
    // The block's heading carries the name, the time and the date, and
    // kvroster's validation finds the block by it.
    std::string answers = Answers("quiz");
    EXPECT_TRUE(std::regex_search(answers, std::regex("^\n\\*\\*\\* Answers of Terry Tester at [0-9]{2}:[0-9]{2}:[0-9]{2} "
                                                      "on [0-9]{2}/[0-9]{2}/[0-9]{2} \\*\\*\\*\n")))
        << answers;
    EXPECT_NE(std::string::npos, answers.find(" ***\nSaid: YES\nName\nline: John Smith\n")) << answers;
    std::vector<std::string> block;
    EXPECT_EQ(roster::AnswerBlock::kFound,
              roster::ReadAnswerBlock((board().DataDir() / "quiz.asw").string(), "Terry Tester", block));
    EXPECT_EQ((std::vector<std::string>{"Said: YES", "Name", "line: John Smith"}), block);
    EXPECT_TRUE(fs::exists(ran));
    UserRecord u = User(1);
    EXPECT_EQ(100, u.SecurityLevel);
    EXPECT_EQ((FlagGroups{0, 0, 4, 0}), u.Flags);
    std::string log = CallerLog();
    EXPECT_NE(std::string::npos, log.find("quiz by Terry: YES at 100%")) << log;
    EXPECT_NE(std::string::npos, log.find("Questionnaire quiz, answers kept: Yes")) << log;
}

// "/D" leaves no answers file behind and "/N" no log line; "logoff" ends
// the call with status 50, the caller's record written as log-off writes it.
TEST_F(Questionnaire, LogoffEndsTheCallWithItsOwnStatus) {
    Script("bye", "postinfo\n"
                  "setflag B2 ON\n"
                  "logoff 0\n"
                  "writef \"not reached\"\n");
    auto c = Start("bye /d/N");
    EXPECT_EQ(50, c->Wait()) << c->Rest();
    EXPECT_EQ(std::string::npos, c->session().Output().find("not reached"));
    EXPECT_FALSE(fs::exists(board().DataDir() / "bye.asw"));
    EXPECT_EQ((FlagGroups{0, 2, 0, 0}), User(1).Flags);
    EXPECT_EQ(1u, User(1).TotalCalls);
    std::string log = CallerLog();
    EXPECT_EQ(std::string::npos, log.find("Questionnaire bye")) << log;
    EXPECT_NE(std::string::npos, log.find("bye.q-a ended the call")) << log;
}

// A new level's minutes count from the start of the call: the minutes the
// call has already run are charged by the clock, not once more.
TEST_F(Questionnaire, NewLevelTakesOnlyTheEarlierCallsOfTheDay) {
    time_t start = LocalTime(2026, 3, 4, 10, 0);
    SetClock(start);
    std::tm day{};
    localtime_r(&start, &day);
    UserRecord terry = User(1);
    terry.MinutesToday = 10;  // of an earlier call today
    terry.LastCallDate = FormatDate(day, board().config().DateOrder);
    PutUser(1, terry);
    board().WriteFile(board().DataDir() / "limits.ctl", "10 60 50 100 150 200 300 800 5 10\n"
                                                        "100 90 100 200 300 400 500 800 5 10\n");
    Script("level", "setsecurity 100\n");
    WriteTopMenu("[~] Choice: ", {{12, 'Q', "level"}, {9, 'G', "bye"}});
    StartBoard();
    auto c = Dial({}, ClockEnv());
    c->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(c->Expect("[50] Choice: ")) << c->Rest();
    SetClock(start + 5 * 60);
    c->Send("q");
    ASSERT_TRUE(c->Expect("[75] Choice: ")) << c->Rest();
    c->Send("g");
    EXPECT_EQ(1, c->Wait()) << c->Rest();
}

// A script that branches back for ever without waiting for a key still
// ends its call when the line hangs up, rather than run on, line taken.
TEST_F(Questionnaire, EndlessBranchEndsWhenTheLineHangsUp) {
    Script("loop", "writef \"looping\"\n"
                   "label 1\n"
                   "branch 1\n");
    auto c = Start("loop");
    ASSERT_TRUE(c->Expect("looping")) << c->Rest();
    c->session().Hangup();
    EXPECT_EQ(99, c->Wait());
}

struct BrokenScript {
    const char* name;
    const char* body;
    int line;  // the line the report names
};
void PrintTo(const BrokenScript& b, std::ostream* os) { *os << b.name; }

class BrokenScripts : public Questionnaire, public ::testing::WithParamInterface<BrokenScript> {};

// A keyword that fails stops the script with the report naming its line.
TEST_P(BrokenScripts, StopAtTheLineWithTheReport) {
    Script("bad", std::string("# a broken script\n") + GetParam().body + "writef \"not reached\"\n");
    auto c = Start("bad");
    std::string report = "Error in bad.q-a, line " + std::to_string(GetParam().line);
    ASSERT_TRUE(c->Expect(report + "\n\r")) << c->Rest();
    ASSERT_TRUE(c->Answer("Choice: ", "g")) << c->Rest();
    EXPECT_EQ(1, c->Wait());
    // Written by "writef" it would begin a line.
    EXPECT_EQ(std::string::npos, c->session().Output().find("\rnot reached"));
    EXPECT_NE(std::string::npos, CallerLog().find(report)) << CallerLog();
}

const BrokenScript kBroken[] = {
    {"AskWithoutLength", "writef \"x\"\nask Z3\n", 3},
    {"AnswerAboveTwentyNine", "ask Z30 5\n", 2},
    {"AskLongerThanAnAnswer", "ask Z1 256\n", 2},
    {"NotAKeyword", "\n   frobnicate now\n", 3},
    {"KeywordTooLong", "displaydisplaydisplayx \"a\"\n", 2},
    {"BranchToAMissingLabel", "label 1\nbranch 4\n", 4},
    {"HereDocumentWithoutStop", "heredocument\nline\n", 4},
    {"IfWithoutEndif", "if Z1 = \"x\"\nwritef \"y\"\n", 4},
    {"BadCodeInWritef", "writef \"%Q\"\n", 2},
    {"SuffixWithoutClosingBracket", "writef \"%Z1[3\"\n", 2},
    {"SetflagOutOfRange", "setflag E1 ON\n", 2},
    {"LevelAboveTheSysop", "setsecurity 64001\n", 2},
    {"Stop", "stop\n", 2},
};
INSTANTIATE_TEST_SUITE_P(Questionnaire, BrokenScripts, ::testing::ValuesIn(kBroken),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv::test

// New callers register over the line; the record and the last-read record
// land where a user's number says.
#include <thread>

#include "common/users.h"
#include "tests/login/login_fixture.h"

namespace kv::test {
namespace {

// The name is asked and confirmed; the caller agrees to register.
void StartRegistration(Caller& c, const std::string& typedName) {
    ASSERT_TRUE(c.Answer("Your full name: ", typedName + "\r"));
    ASSERT_TRUE(c.Answer("Is this right?", "y"));
    ASSERT_TRUE(c.Answer("register as a new user?", "y"));
}

// The questions of a board that asks nothing but the screen, the location
// and the password.
void AnswerShortQuestions(Caller& c, const std::string& location, const std::string& password) {
    ASSERT_TRUE(c.Answer("Lines on your screen", "\r"));
    ASSERT_TRUE(c.Answer("Where are you calling from?", location + "\r"));
    ASSERT_TRUE(c.Answer("Choose a password", password + "\r"));
    ASSERT_TRUE(c.Answer("Type it once more", password + "\r"));
}

// The sample board's "newuser" questionnaire, which every registration
// ends with.
void AnswerNewUserQuestionnaire(Caller& c, const std::string& found = "a friend") {
    ASSERT_TRUE(c.Answer("How did you find this board? ", found + "\r")) << c.Rest();
    ASSERT_TRUE(c.Answer("Your computer: ", "pc\r")) << c.Rest();
    ASSERT_TRUE(c.Answer("Do you write programs", "y")) << c.Rest();
    ASSERT_TRUE(c.Expect("Thank you!")) << c.Rest();
}

// Two callers register, and both confirm at the same moment.
void ConfirmAtOnce(Caller& a, const std::string& nameA, Caller& b, const std::string& nameB) {
    StartRegistration(a, nameA);
    StartRegistration(b, nameB);
    AnswerShortQuestions(a, "aville", "applepie");
    AnswerShortQuestions(b, "btown", "bluebell");
    ASSERT_TRUE(a.Expect("Is all this right?"));
    ASSERT_TRUE(b.Expect("Is all this right?"));
    a.Send("y");
    b.Send("y");
}

// Both end their registrations with the questionnaire.
void AnswerBoth(Caller& a, Caller& b) {
    AnswerNewUserQuestionnaire(a);
    AnswerNewUserQuestionnaire(b);
}

void UseShortQuestions(TempBoard& b) {
    for (const char* key : {"NewUserAnsi", "NewUserColor", "NewUserClearScreen", "NewUserPause"}) b.Set(key, "1");
    b.Set("AskHomePhone", "0");
}

TEST_F(LoginTest, NewCallerAnswersEveryQuestionAndIsStoredWhereTheRecordSays) {
    StartBoard();
    size_t lastRead = LastReadSize();
    auto c = Dial();
    StartRegistration(*c, "nina newcomer");

    // A first round the caller rejects: none of its answers may stay.
    ASSERT_TRUE(c->Answer("ANSI", "n"));
    ASSERT_TRUE(c->Answer("Clear the screen", "y"));
    ASSERT_TRUE(c->Answer("Pause at each", "n"));
    ASSERT_TRUE(c->Answer("Lines on your screen", "\r"));
    ASSERT_TRUE(c->Answer("Where are you calling from?", "nowhere\r"));
    ASSERT_TRUE(c->Answer("Home phone", "5550000000\r"));
    ASSERT_TRUE(c->Answer("Choose a password", "firstone\r"));
    ASSERT_TRUE(c->Answer("Type it once more", "firstone\r"));
    ASSERT_TRUE(c->Answer("Is all this right?", "n"));

    ASSERT_TRUE(c->Answer("register as a new user?", "y"));
    ASSERT_TRUE(c->Answer("ANSI", "y"));
    ASSERT_TRUE(c->Answer("colours?", "y"));
    ASSERT_TRUE(c->Answer("Clear the screen", "n"));
    ASSERT_TRUE(c->Answer("Pause at each", "y"));
    // 9 and 53 are refused; two digits end the answer without Enter.
    ASSERT_TRUE(c->Answer("Lines on your screen", "9\r"));
    ASSERT_TRUE(c->Answer("from 10 to 52", ""));
    ASSERT_TRUE(c->Answer("Lines on your screen", "53"));
    ASSERT_TRUE(c->Answer("from 10 to 52", ""));
    ASSERT_TRUE(c->Answer("Lines on your screen", "30"));
    ASSERT_TRUE(c->Answer("Where are you calling from?", "springfield\r"));
    ASSERT_TRUE(c->Answer("Home phone", "5550102020\r"));
    // The name's words, a word of pwdtrash.ctl and a short one are refused.
    ASSERT_TRUE(c->Answer("Choose a password", "nina\r"));
    ASSERT_TRUE(c->Answer("too easy to guess", ""));
    ASSERT_TRUE(c->Answer("Choose a password", "NINA NEWCOMER\r"));
    ASSERT_TRUE(c->Answer("too easy to guess", ""));
    ASSERT_TRUE(c->Answer("Choose a password", "password\r"));
    ASSERT_TRUE(c->Answer("too easy to guess", ""));
    ASSERT_TRUE(c->Answer("Choose a password", "abc\r"));
    ASSERT_TRUE(c->Answer("too short", ""));
    ASSERT_TRUE(c->Answer("Choose a password", "marigold\r"));
    ASSERT_TRUE(c->Answer("Type it once more", "marigolf\r"));
    ASSERT_TRUE(c->Answer("differ", ""));
    ASSERT_TRUE(c->Answer("Choose a password", "marigold\r"));
    ASSERT_TRUE(c->Answer("Type it once more", "MARIGOLD\r"));
    ASSERT_TRUE(c->Answer("Is all this right?", "y"));
    AnswerNewUserQuestionnaire(*c, "the | news");
    EXPECT_NE(c->session().Output().find("Then look into the Utilities file area."), std::string::npos);
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();

    // The answers block for the user editor, under its "***" heading.
    std::string answers = board().ReadFile(board().DataDir() / "newuser.asw");
    EXPECT_EQ(answers.rfind("\n*** Answers of Nina Newcomer at ", 0), 0u) << answers;
    EXPECT_NE(answers.find(" on " + Today() + " ***\nFound the board through: the | news\nComputer: pc\n"
                           "Writes programs: Y\n"),
              std::string::npos)
        << answers;
    EXPECT_NE(CallerLog().find("New user Nina answered the questionnaire"), std::string::npos) << CallerLog();

    // The sample board holds two users: the new one is number 2.
    ASSERT_EQ(UserCount(), 3u);
    UserRecord u = User(2);
    EXPECT_EQ(u.Name, "Nina Newcomer");
    EXPECT_EQ(u.Location, "Springfield");
    EXPECT_EQ(u.Password, "Marigold");
    EXPECT_EQ(u.HomePhone, "(555) 010-2020");
    EXPECT_EQ(u.DataPhone, "");
    EXPECT_EQ(u.ScreenLength, 30u);
    EXPECT_EQ(u.Options, USER_ANSI | USER_PAGE_BREAK);
    EXPECT_EQ(u.Options2, USER_HOT_KEYS);
    EXPECT_EQ(u.SecurityLevel, board().config().NewUserLevel);
    EXPECT_EQ(u.FirstCallDate, Today());
    EXPECT_EQ(u.LastCallDate, Today());
    EXPECT_EQ(u.Comment1.rfind("Inserted by Kivo on " + Today() + " at ", 0), 0u) << u.Comment1;
    EXPECT_FALSE(u.Comment2.empty());
    EXPECT_EQ(u.SubscriptionEnd, "00/00/00");
    for (uint8_t b : u.ScanAreas) EXPECT_EQ(b, 0xFF);
    // The call itself was counted at log-off.
    EXPECT_EQ(u.TotalCalls, 1u);
    EXPECT_EQ(u.CallsToday, 1u);
    EXPECT_EQ(LastReadSize(), lastRead + 400);
    EXPECT_NE(CallerLog().find("A new user registered"), std::string::npos) << CallerLog();
}

TEST_F(LoginTest, TheFirstUserOfAnEmptyFileIsNumberZero) {
    UseShortQuestions(board());
    board().WriteFile(board().DataDir() / "users.bbs", "");
    board().WriteFile(board().MsgBaseDir() / "lastread.bbs", "");
    // Area 1 is the first that a new user may read.
    board().Set("MsgAreas[0].ReadLevel", "100");
    StartBoard();
    auto c = Dial();
    StartRegistration(*c, "first caller");
    AnswerShortQuestions(*c, "here", "beginning");
    ASSERT_TRUE(c->Answer("Is all this right?", "y"));
    AnswerNewUserQuestionnaire(*c);
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    ASSERT_EQ(UserCount(), 1u);
    EXPECT_EQ(User(0).Name, "First Caller");
    EXPECT_EQ(User(0).TotalCalls, 1u);
    EXPECT_EQ(User(0).MsgArea, 1);
    EXPECT_EQ(LastReadSize(), 400u);
}

// A record that cannot be appended (the file ends in a torn record) leaves
// the caller without a number for the call: nothing of it may land on
// another user's record, the sysop's record 0 least of all.
TEST_F(LoginTest, ARegistrationThatCannotBeSavedWritesNoRecord) {
    UseShortQuestions(board());
    std::string torn = UsersFile() + "torn";
    board().WriteFile(board().DataDir() / "users.bbs", torn);
    StartBoard();
    auto c = Dial();
    StartRegistration(*c, "lost caller");
    AnswerShortQuestions(*c, "nowhere", "forgotten");
    ASSERT_TRUE(c->Answer("Is all this right?", "y"));
    EXPECT_TRUE(c->Expect("your registration could not be saved"));
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_TRUE(c->Expect("your user record could not be saved"));
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(UsersFile(), torn);
    EXPECT_NE(CallerLog().find("Cannot save the new user's record"), std::string::npos) << CallerLog();
}

// Both callers confirm at the same moment; each must get a number of its
// own, or one record would be written over the other at log-off.
TEST_F(LoginTest, TwoRegistrationsAtOnceGetTwoNumbers) {
    UseShortQuestions(board());
    StartBoard();
    size_t lastRead = LastReadSize();
    auto a = Dial();
    auto b = Dial();
    ConfirmAtOnce(*a, "anna alpha", *b, "bert beta");
    AnswerBoth(*a, *b);
    ASSERT_TRUE(a->LogOffAtMenu()) << a->Rest();
    ASSERT_TRUE(b->LogOffAtMenu()) << b->Rest();
    EXPECT_EQ(a->Wait(), 1) << a->Rest();
    EXPECT_EQ(b->Wait(), 1) << b->Rest();

    ASSERT_EQ(UserCount(), 4u);
    std::set<std::string> names = {User(2).Name, User(3).Name};
    EXPECT_EQ(names, (std::set<std::string>{"Anna Alpha", "Bert Beta"}));
    for (size_t n : {2u, 3u}) EXPECT_EQ(User(n).TotalCalls, 1u) << n;
    EXPECT_EQ(LastReadSize(), lastRead + 2 * 400);
}

// Both callers register one name at once: the name is looked for again
// under the lock, so one of them is sent back to the name prompt and the
// file holds the name once.
TEST_F(LoginTest, OneNameRegisteredOnTwoLinesAtOnceIsStoredOnce) {
    UseShortQuestions(board());
    StartBoard();
    auto a = Dial();
    auto b = Dial();
    ConfirmAtOnce(*a, "eve doe", *b, "eve doe");
    Caller* loser = nullptr;
    WaitUntil([&] {
        for (Caller* c : {a.get(), b.get()}) {
            c->session().Pump(0);
            if (c->session().Output().find("registered on another line") != std::string::npos) loser = c;
        }
        return loser != nullptr;
    }, 8000);
    ASSERT_NE(loser, nullptr) << a->Rest() << b->Rest();
    Caller* winner = loser == a.get() ? b.get() : a.get();
    StartRegistration(*loser, "eve other");
    AnswerShortQuestions(*loser, "ctown", "cheddar");
    ASSERT_TRUE(loser->Answer("Is all this right?", "y"));
    AnswerBoth(*loser, *winner);
    ASSERT_TRUE(loser->LogOffAtMenu()) << loser->Rest();
    ASSERT_TRUE(winner->LogOffAtMenu()) << winner->Rest();
    EXPECT_EQ(a->Wait(), 1) << a->Rest();
    EXPECT_EQ(b->Wait(), 1) << b->Rest();

    ASSERT_EQ(UserCount(), 4u);
    std::set<std::string> names = {User(2).Name, User(3).Name};
    EXPECT_EQ(names, (std::set<std::string>{"Eve Doe", "Eve Other"}));
    EXPECT_NE(CallerLog().find("Name Eve Doe registered on another line meanwhile"), std::string::npos)
        << CallerLog();
}

}  // namespace
}  // namespace kv::test

// Callers of the sample board log in, or are refused, over the line.
#include <unistd.h>

#include <functional>

#include "caller/term/last_call.h"
#include "common/online_status.h"
#include "tests/login/login_fixture.h"

namespace kv::test {
namespace {

TEST_F(LoginTest, TheSysopLogsInAndReachesTheMenus) {
    StartBoard();
    uint32_t calls = User(0).TotalCalls;
    auto c = Dial();
    c->LogInAs("sam sysop", "LightHouse");
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    std::string log = CallerLog();
    EXPECT_NE(log.find("Sam Sysop calls at"), std::string::npos) << log;
    EXPECT_NE(log.find("Caller left the menus"), std::string::npos) << log;
    EXPECT_EQ(log.find("Log-in refused"), std::string::npos) << log;
    EXPECT_EQ(User(0).TotalCalls, calls + 1);
    EXPECT_EQ(User(0).LastCallDate, Today());

    // The first call of the board's line started its last-caller file.
    std::string bytes = board().ReadFile(board().DataDir() / "lastcall0.bbs");
    ASSERT_EQ(bytes.size(), caller::LastCallRecord::kSize);
    caller::LastCallRecord last;
    DecodeRecord(reinterpret_cast<const uint8_t*>(bytes.data()), last);
    EXPECT_EQ(last.Name, "Sam Sysop");
    EXPECT_EQ(last.TotalCalls, 1u);
}

// A last-caller file cut short is started afresh rather than refusing the
// call.
TEST_F(LoginTest, ACutShortLastCallerFileIsStartedAfresh) {
    board().WriteFile(board().DataDir() / "lastcall0.bbs", "abc");
    StartBoard();
    auto c = Dial();
    c->LogInAs("sam sysop", "lighthouse");
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    std::string bytes = board().ReadFile(board().DataDir() / "lastcall0.bbs");
    ASSERT_EQ(bytes.size(), caller::LastCallRecord::kSize);
    caller::LastCallRecord last;
    DecodeRecord(reinterpret_cast<const uint8_t*>(bytes.data()), last);
    EXPECT_EQ(last.Name, "Sam Sysop");
    EXPECT_NE(CallerLog().find("cut short; started afresh"), std::string::npos) << CallerLog();
}

// The limit of the caller's level in "limits.ctl" is the call's: with one
// minute left both time-left warnings come with the first key.  The key
// goes to the password change the board forces after PasswordChangeCalls
// calls, the first question once the call's time is set.
TEST_F(LoginTest, AOneMinuteLevelGivesBothTimeWarnings) {
    board().Set("PasswordChangeCalls", "1");
    board().WriteFile(board().DataDir() / "limits.ctl", "10 1 50 100 150 200 300 800 5 10\n");
    UserRecord terry = User(1);
    terry.PasswordCalls = 1;
    PutUser(1, terry);
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(c->Answer("New password", "b"));
    EXPECT_TRUE(c->Expect("Only two minutes are left"));
    EXPECT_TRUE(c->Expect("Only one minute is left"));
    c->Send("luebird\r");
    ASSERT_TRUE(c->Answer("Type it once more", "bluebird\r"));
    ASSERT_TRUE(c->Expect("Your password is changed."));
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    EXPECT_EQ(User(1).Password, "Bluebird");
    EXPECT_EQ(User(1).PasswordCalls, 1u);  // this call, since the change
}

// The confirmation of the name takes one key: the Enter a caller types
// after it, or any empty answer, is asked again and counts for nothing.
// With three tries, two wrong passwords among empty answers still leave
// the right one its turn.
TEST_F(LoginTest, AnEmptyPasswordIsAskedAgainWithoutCounting) {
    struct Case {
        const char* what;
        std::string keys;  // after the name is confirmed with "y"
        size_t wrong;
    };
    const Case cases[] = {
        {"the Enter after the confirmation", "\rkeyboard\r", 0},
        {"empty answers between wrong ones", "\rwrong1\r\r\rwrong2\r\rkeyboard\r", 2},
    };
    StartBoard();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        std::string before = CallerLog();
        auto c = Dial();
        ASSERT_TRUE(c->Answer("Your full name: ", "terry tester\r")) << c->Rest();
        ASSERT_TRUE(c->Answer("Is this right?", "y" + k.keys)) << c->Rest();
        ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
        EXPECT_EQ(c->Wait(), 1) << c->Rest();
        auto count = [](const std::string& in, const std::string& what) {
            size_t n = 0;
            for (size_t at = in.find(what); at != std::string::npos; at = in.find(what, at + 1)) ++n;
            return n;
        };
        const std::string& screen = c->session().Output();
        EXPECT_EQ(count(screen, "Wrong password."), k.wrong) << screen;
        EXPECT_EQ(count(CallerLog().substr(before.size()), " Wrong password\n"), k.wrong) << CallerLog();
        EXPECT_EQ(CallerLog().find("Log-in refused"), std::string::npos);
    }
}

struct Refusal {
    const char* what;
    std::function<void(LoginTest&)> setUp;
    std::string name, password;  // no password: refused before it is asked
    std::string shown, logged;
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << r.what; }

class LoginRefusal : public LoginTest, public ::testing::WithParamInterface<Refusal> {
public:
    // Terry's record, changed.
    void ChangeTerry(const std::function<void(UserRecord&)>& change) {
        UserRecord u = User(1);
        change(u);
        PutUser(1, u);
    }
};

const Refusal kRefusals[] = {
    {"WrongPasswords", nullptr, "terry tester", "wrong1\rwrong2\rwrong3", "Too many wrong passwords", "Wrong password"},
    {"TrashcanName",
     [](LoginTest& t) { t.board_->WriteFile(t.board_->DataDir() / "trashcan.ctl", "# names\nBad\n"); }, "bad guy",
     "", "that name cannot be used", "a forbidden name"},
    {"ClosedBoard", [](LoginTest& t) { t.board_->Set("ClosedSystem", "1"); }, "nobody known", "",
     "takes its registered users only", "unknown caller on a closed board"},
    {"DailyCallsUsedUp",
     [](LoginTest& t) {
         static_cast<LoginRefusal&>(t).ChangeTerry([&](UserRecord& u) {
             u.LastCallDate = t.Today();
             u.CallsToday = 10;  // the board's MaxCallsPerDay
         });
     },
     "terry tester", "keyboard", "all the calls you may make today", "no calls left today"},
    {"TwiceInARow",
     [](LoginTest& t) {
         t.board_->Set("AllowRecall", "0");
         caller::LastCallRecord last;
         last.Name = "Terry Tester";
         last.TotalCalls = 7;
         auto bytes = EncodeRecord(last);
         t.board_->WriteFile(t.board_->DataDir() / "lastcall0.bbs", std::string(bytes.begin(), bytes.end()));
     },
     "terry tester", "keyboard", "You were the last caller", "the same caller twice in a row"},
    {"OnAnotherLine",
     [](LoginTest& t) {
         // Line 1 is held by a live process (this test) for Terry.
         std::string file(kOnlineLines * OnlineEntry::kSize, '\0');
         for (int line = 0; line < kOnlineLines; ++line) {
             OnlineEntry e;
             if (line == 1) {
                 e.Pid = getpid();
                 e.User = 1;
                 e.LogonTime = "10:00:00";
             }
             auto bytes = EncodeRecord(e);
             file.replace(size_t(line) * OnlineEntry::kSize, bytes.size(), reinterpret_cast<const char*>(bytes.data()),
                          bytes.size());
         }
         t.board_->WriteFile(t.board_->DataDir() / kOnlineFile, file);
     },
     "terry tester", "keyboard", "already on another line", "the user is on another line"},
    {"DeletedRecord",
     [](LoginTest& t) {
         static_cast<LoginRefusal&>(t).ChangeTerry([](UserRecord& u) { u.Options |= USER_DELETED; });
     },
     "terry tester", "keyboard", "Your account is not open", "the record is deleted"},
    {"LevelZero",
     [](LoginTest& t) {
         static_cast<LoginRefusal&>(t).ChangeTerry([](UserRecord& u) { u.SecurityLevel = 0; });
     },
     "terry tester", "keyboard", "Your account is not open", "the record has level 0"},
};

TEST_P(LoginRefusal, EndsTheCallWithItsTextAndLogLine) {
    const Refusal& r = GetParam();
    if (r.setUp) {
        r.setUp(*this);
    }
    StartBoard();
    auto c = Dial();
    c->GiveName(r.name);
    if (!r.password.empty()) {
        ASSERT_TRUE(c->Answer("Password: ", r.password + "\r"));
    }
    ASSERT_TRUE(c->Expect(r.shown)) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    std::string log = CallerLog();
    EXPECT_NE(log.find(r.logged), std::string::npos) << log;
    EXPECT_NE(log.find("Log-in refused\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Caller left the menus"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Login, LoginRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace kv::test

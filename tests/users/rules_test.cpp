// The password rules, the new-user defaults and the search for the next
// area a caller may use.
#include <gtest/gtest.h>

#include <set>

#include "common/dates.h"
#include "common/runtime.h"
#include "common/users.h"
#include "tests/support/board.h"

using namespace kv;

namespace {

class Rules : public ::testing::Test {
protected:
    void SetUp() override { SetConfig(board.config()); }
    void TearDown() override { SetClock(nullptr); }
    test::TempBoard board;
};

TEST_F(Rules, PasswordAllowed) {
    // The sample list, with a last line that has no line end.
    board.WriteFile(board.DataDir() / "pwdtrash.ctl", "# not this\npassword\nsecret\r\n#hidden\nopensesame");
    struct Case {
        const char* password;
        const char* name;
        bool allowed;
    };
    const Case cases[] = {
        {"john", "John Smith", false},        // the first word, whatever the case
        {"SMITH", "John Smith", false},       // the second word
        {"john smith", "John Smith", false},  // the whole name
        {"Johnny", "John Smith", true},
        {"smithy", "John Smith", true},
        {"vanilla", "Mary Ann Smith", true},
        {"ann smith", "Mary Ann Smith", false},  // the second word is the rest of the name
        {"madonna", "Madonna", false},
        {"secret", "John Smith", false},  // listed, compared capitalised
        {"SECRET", "John Smith", false},
        {"password", "John Smith", false},
        {"opensesame", "John Smith", false},  // the last line keeps its last letter
        {"opensesam", "John Smith", true},
        {"hidden", "John Smith", true},  // comment lines list nothing
        {"secrets", "John Smith", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PasswordAllowed(c.password, c.name), c.allowed) << c.password << " for " << c.name;
    }
}

TEST_F(Rules, NewPasswordLengthAndChecks) {
    MutableConfig().MinPasswordLength = 4;
    MutableConfig().CheckPasswords = 1;
    EXPECT_EQ(CheckNewPassword("abc", "John Smith"), PasswordVerdict::kTooShort);
    EXPECT_EQ(CheckNewPassword("john", "John Smith"), PasswordVerdict::kRefused);
    EXPECT_EQ(CheckNewPassword("sysop", "John Smith"), PasswordVerdict::kRefused);  // sample pwdtrash.ctl
    EXPECT_EQ(CheckNewPassword("abcd", "John Smith"), PasswordVerdict::kAllowed);
    MutableConfig().CheckPasswords = 0;
    EXPECT_EQ(CheckNewPassword("john", "John Smith"), PasswordVerdict::kAllowed);
    EXPECT_EQ(CheckNewPassword("abc", "John Smith"), PasswordVerdict::kTooShort);
}

TEST_F(Rules, PasswordsAreCapitalisedLikeNames) {
    EXPECT_EQ(CapitalizePassword("o'brien-smith"), "O'Brien-Smith");
    EXPECT_EQ(CapitalizePassword("MACLEAN"), "Maclean");
    EXPECT_EQ(CapitalizePassword("anne-marie d'arc"), "Anne-Marie D'Arc");
    UserRecord r;
    r.Password = CapitalizePassword("tOPsecret");
    EXPECT_EQ(r.Password, "Topsecret");
    EXPECT_TRUE(PasswordMatches(r, "TOPSECRET"));
    EXPECT_TRUE(PasswordMatches(r, "topsecret"));
    EXPECT_FALSE(PasswordMatches(r, "top secret"));
    r.Password = "topsecret";  // set by hand, not capitalised
    EXPECT_TRUE(PasswordMatches(r, "Topsecret"));
}

TEST_F(Rules, NextAreaSearches) {
    auto only = [](std::set<int> areas) { return [areas](int a) { return areas.count(a) > 0; }; };
    struct Case {
        int start, direction;
        bool wrapped;
        std::set<int> readable;
        int want;
    };
    const Case msg[] = {
        {95, 0, false, {3}, 3},     // wraps round to the only one
        {95, 0, false, {}, 0},      // none: the start of the wrapped search
        {95, 1, false, {}, 99},
        {5, 0, false, {3, 7}, 7},
        {5, 1, false, {3, 7}, 3},
        {5, 0, true, {3}, 5},       // already wrapped: no second search
        {7, 0, false, {3, 7}, 7},   // the start itself counts
        {100, 0, false, {3}, 3},    // "after the last area" wraps to the first
        {100, 0, true, {}, 99},     // and never becomes an area of its own
        {-1, 1, false, {7}, 7},
        {-1, 1, true, {}, 0},
    };
    for (const auto& c : msg) {
        EXPECT_EQ(NextMessageArea(c.start, c.direction, c.wrapped, only(c.readable)), c.want)
            << c.start << "/" << c.direction << "/" << c.wrapped;
    }
    EXPECT_EQ(NextFileArea(45, 0, false, only({2})), 2);
    EXPECT_EQ(NextFileArea(45, 0, false, only({})), 0);
    EXPECT_EQ(NextFileArea(3, 1, false, only({})), 49);
    EXPECT_EQ(NextFileArea(3, 1, false, only({40})), 40);
}

TEST_F(Rules, NewUserDefaults) {
    ConfigRecord& c = MutableConfig();
    c.NewUserLevel = 20;
    c.NewUserFlagGroups = {1, 0, 0, 8};
    c.NewUserCredit = 300;
    c.NewUserHotKeys = 1;
    SetClock([] { return time_t(1700000000); });
    UserRecord r;
    ClearUserRecord(r);
    r.CallsToday = 3;
    r.TotalCalls = 9;
    // The tests look at the record being filled: with the cleared level and
    // flags no area would pass.
    auto msg = [&r](int a) { return a >= 2 && r.SecurityLevel >= 20; };
    auto file = [&r](int a) { return a >= 4 && r.Flags[3] == 8; };
    SetNewUserDefaults(r, msg, file);
    EXPECT_EQ(r.SecurityLevel, 20);
    EXPECT_EQ(r.Flags, (FlagGroups{1, 0, 0, 8}));
    EXPECT_EQ(r.Credit, 300);
    EXPECT_EQ(r.Options2 & USER_HOT_KEYS, USER_HOT_KEYS);
    EXPECT_EQ(r.CallsToday, 0);
    EXPECT_EQ(r.TotalCalls, 0u);
    EXPECT_EQ(r.MinutesToday, 0);
    EXPECT_EQ(r.MsgArea, 2);
    EXPECT_EQ(r.FileArea, 4);
    EXPECT_EQ(r.LastCallDate, DateString());
    EXPECT_EQ(r.LastCallTime, TimeString());
    EXPECT_EQ(r.SubscriptionEnd, "00/00/00");
}

}  // namespace

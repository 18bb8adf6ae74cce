// The watchdog message after the last wrong password, as the owner of the
// account finds it in the base.
#include <gtest/gtest.h>

#include "common/runtime.h"
#include "tests/support/caller_fixture.h"
#include "tests/support/msgbase_reader.h"

namespace kv::test {
namespace {

class Watchdog : public CallerTest {
protected:
    // Three wrong passwords for Terry: the call ends.
    void TryThreeWrongPasswords() {
        auto c = Dial();
        c->GiveName("terry tester");
        for (const char* typed : {"wrong1\r", "Second Try\r", "x\r"}) ASSERT_TRUE(c->Answer("Password: ", typed));
        ASSERT_TRUE(c->Expect("Too many wrong passwords")) << c->Rest();
        EXPECT_EQ(c->Wait(), 1) << c->Rest();
        SetConfig(board().config());
    }
};

TEST_F(Watchdog, TheOwnerGetsThePasswordsTriedEachOnItsOwnLine) {
    StartBoard();
    TryThreeWrongPasswords();
    MsgBaseContents base = ReadMsgBase(board().MsgBaseDir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_EQ(base.messages.size(), 1u);
    const StoredMessage& m = base.messages[0];
    EXPECT_EQ(m.header.MsgArea, 4);
    EXPECT_EQ(m.header.FromName, "Sam Sysop");
    EXPECT_EQ(m.header.ToName, "Terry Tester");
    EXPECT_EQ(m.header.Subject, "Security");
    EXPECT_TRUE(m.header.Status & MSG_PRIVATE);
    EXPECT_EQ(m.recipient, "Terry Tester");
    EXPECT_EQ(m.text.Lines, (std::vector<std::string>{
                                "Somebody tried to log in to your account with wrong passwords.",
                                "If it was not you, choose a new password and tell the sysop.",
                                "",
                                "    Passwords tried:",
                                "    Wrong1",  // passwords are read capitalised
                                "    Second Try",
                                "    X",
                            }));
    ASSERT_TRUE(base.info);
    EXPECT_EQ(base.info->AreaCounts[4], 1);
    // The sysop's text stays for the next time.
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(board().config().TextDir) / "watchdog.msg"));
}

TEST_F(Watchdog, WithoutTheSysopsTextNothingIsPostedAndTheLogSaysWhy) {
    std::filesystem::remove(std::filesystem::path(board().config().TextDir) / "watchdog.msg");
    StartBoard();
    TryThreeWrongPasswords();
    EXPECT_TRUE(ReadMsgBase(board().MsgBaseDir()).messages.empty());
    EXPECT_NE(CallerLog().find("Watchdog message not posted: no watchdog.msg"), std::string::npos) << CallerLog();
}

}  // namespace
}  // namespace kv::test

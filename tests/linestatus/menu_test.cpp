// The page and the call status as a logged-in caller reaches them: from the
// sample board's top menu, while the line's entry names the caller.
#include <gtest/gtest.h>

#include "common/online_status.h"
#include "common/runtime.h"
#include "tests/support/caller_fixture.h"

namespace kv::test {
namespace {

class LineMenus : public CallerTest {};

TEST_F(LineMenus, PageAndCallStatusFromTheTopMenu) {
    board().WriteFile(board().DataDir() / "6opbusy.bbs", "");
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(c->Answer("Your choice: ", "p")) << c->Rest();
    ASSERT_TRUE(c->Expect("The sysop is busy at the moment")) << c->Rest();

    SetConfig(board().config());
    OnlineEntry e;
    ASSERT_TRUE(ReadOnlineEntry(0, e));
    EXPECT_EQ(c->session().pid(), e.Pid);
    EXPECT_EQ(1, e.User);  // Terry's record
    EXPECT_EQ(0, e.Flags & LINE_PAGING);

    ASSERT_TRUE(c->Answer("Your choice: ", "c")) << c->Rest();
    ASSERT_TRUE(c->Expect("Status of your call")) << c->Rest();
    ASSERT_TRUE(c->Answer("Press any key to continue...", " ")) << c->Rest();
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    ASSERT_TRUE(ReadOnlineEntry(0, e));
    EXPECT_EQ(-1, e.Pid);
}

}  // namespace
}  // namespace kv::test

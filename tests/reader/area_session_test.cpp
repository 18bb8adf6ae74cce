// The caller's areas as a caller sets them on the sample board: the
// current message and file areas, the scan selection, the other message
// file; what log-off writes into "users.bbs".
#include <gtest/gtest.h>

#include "tests/support/caller_fixture.h"

namespace kv::test {
namespace {

class AreaSession : public CallerTest {};

TEST_F(AreaSession, ChoicesAndScanSelectionReachTheUserRecordAtLogOff) {
    board().Set("FileAreas[1].AreaDefined", "1");
    board().Set("FileAreas[1].AreaName", "Games");
    board().Set("FileAreas[1].AreaDir", (board().root() / "files").string());
    board().Set("FileAreas[1].ListLevel", "10");
    board().Set("FileAreas[2].AreaDefined", "1");
    board().Set("FileAreas[2].AreaName", "Staff files");
    board().Set("FileAreas[2].AreaDir", (board().root() / "files").string());
    board().Set("FileAreas[2].ListLevel", "100");
    board().Set("FileAreas[2].OpenArea", "0");
    StartBoard();
    auto terry = Dial();
    terry->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(terry->Answer("Your choice: ", "m")) << terry->Rest();

    ASSERT_TRUE(terry->Answer(": ", "c")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Area number: ", "2")) << terry->Rest();

    // None selected, then 1 and 3 flipped on and 1 off again.
    ASSERT_TRUE(terry->Answer(": ", "y")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("eep as it is: ", "x")) << terry->Rest();  // no such key: asked on
    terry->Send("n");
    ASSERT_TRUE(terry->Answer(": ", "s")) << terry->Rest();
    for (const char* area : {"1", "3", "1", "\r"}) {
        ASSERT_TRUE(terry->Expect("Type an area")) << terry->Rest();
        ASSERT_TRUE(terry->Expect("Area number: ")) << terry->Rest();
        if (*area == '\r') {
            std::string screen = terry->session().Screen();
            // Two entries to a row within 80 columns, whatever their marks.
            EXPECT_NE(screen.find("    1 - General .............. off         2 - Private mail ......... off\n"),
                      std::string::npos)
                << screen;
            EXPECT_NE(screen.find("  3 - Internet mail ........ on "), std::string::npos) << screen;
            EXPECT_NE(screen.find("  5 - Watchdog ............. off     Area number:"), std::string::npos) << screen;
        }
        terry->Send(area);
    }

    // The other message file: the list speaks French now.
    ASSERT_TRUE(terry->Answer(": ", "t")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(": ", "c")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Zones")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Numero de zone : ", "\r")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(": ", "q")) << terry->Rest();

    // File areas: one the caller may not list is refused, then area 2.
    ASSERT_TRUE(terry->Answer("Your choice: ", "f")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(": ", "a")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Games")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Numero de zone : ", "3")) << terry->Rest();
    ASSERT_TRUE(terry->Expect("Vous ne pouvez pas utiliser cette zone.")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(": ", "a")) << terry->Rest();
    ASSERT_TRUE(terry->Answer("Numero de zone : ", "2")) << terry->Rest();
    ASSERT_TRUE(terry->Answer(": ", "q")) << terry->Rest();
    ASSERT_TRUE(terry->LogOffAtMenu()) << terry->Rest();
    EXPECT_EQ(terry->Wait(), 1) << terry->Rest();
    EXPECT_EQ(terry->session().Output().find("Staff files"), std::string::npos);

    UserRecord u = User(1);
    EXPECT_EQ(u.MsgArea, 1);
    EXPECT_EQ(u.FileArea, 1);
    std::array<uint8_t, 13> scan{};
    scan[0] = 0x04;  // area 3 as the caller counts
    EXPECT_EQ(u.ScanAreas, scan);
}

}  // namespace
}  // namespace kv::test

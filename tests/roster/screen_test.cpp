// kvroster as the sysop meets it: start-up, the setup menu, the widgets one
// by one, and the ways the program ends.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "common/record_io.h"
#include "roster/settings.h"
#include "tests/roster/roster_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

TEST_F(RosterTest, StartsOnTheMainScreenAndLeavesOnConfirmation) {
    fs::remove(board.DataDir() / "kvconfig.kvr");  // a board without settings yet
    auto s = Start();
    ASSERT_TRUE(s->WaitForText("kvroster v1.0"));
    ASSERT_TRUE(s->WaitForText(" Browse "));
    EXPECT_TRUE(s->WaitForText("<PgUp/PgDn/Home/End> | <Arrows/Tab/-/+> Move | <Enter> Select | <Esc> Quit"));
    EXPECT_NE(s->Screen().find(" Num   Name                 Password             Location "), std::string::npos);
    EXPECT_EQ(s->Cell(5, 1).text, "├");  // the rule under the current-record line
    // Esc, then 'N' stays; '-' on the first row wraps to the fourth.
    s->Send("\x1b");
    ASSERT_TRUE(s->WaitForText("About to leave kvroster"));
    s->Send("n");
    ASSERT_TRUE(s->WaitForText("Browse the list to select a record"));
    s->Send("-");
    ASSERT_TRUE(s->WaitForText("Move a record"));
    Quit(*s);
    EXPECT_FALSE(fs::exists(board.DataDir() / "kvconfig.kvr")) << "never saved without the setup menu";
}

TEST_F(RosterTest, SetupSavesAChangedSettingOnYes) {
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    s->Send("+");  // " Setup " begins the second row
    ASSERT_TRUE(s->WaitForText("Configure the program"));
    s->Send("\r");
    ASSERT_TRUE(s->WaitForText("Kvroster Configuration Utility"));
    s->Send("\x1bOD\x1bOD");  // to "  Misc."
    ASSERT_TRUE(s->WaitForText("Miscellaneous parameters"));
    s->Send("\r");
    ASSERT_TRUE(s->WaitForText("Show password in view mode  : Yes"));
    s->Send("\r");  // toggles the password display
    ASSERT_TRUE(s->WaitForText("Show password in view mode  : No"));
    s->Send(" \r\r");  // the default layout two steps on
    ASSERT_TRUE(s->WaitForText("Name, Level, FlagA, FlagB, FlagC, FlagD"));
    s->Send("\x1b");
    s->Send("\x1b");  // leaves the setup menu
    ASSERT_TRUE(s->WaitForText("Do you want to save the configuration"));
    EXPECT_TRUE(s->WaitForText("Your choice [Y/n]"));
    s->Send("y");
    ASSERT_TRUE(s->WaitForText("<Esc> Quit"));
    Quit(*s);

    std::ifstream in(board.DataDir() / "kvconfig.kvr", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(bytes.size(), roster::RosterSettings::kSize);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
    EXPECT_EQ(p[3105], 0);  // ShowPassword
    EXPECT_EQ(p[2922], 2);  // DefaultLayout
    EXPECT_EQ(GetLE32(p + 2924), 10u);  // the sample board's unvalidated level, kept
}

TEST_F(RosterTest, AFlagDescriptionIsEditedAndKeptOnNo) {
    const std::string before = ReadAll(board.DataDir() / "kvconfig.kvr");
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    s->Send("+\r");
    ASSERT_TRUE(s->WaitForText("Kvroster Configuration Utility"));
    s->Send("\r");
    ASSERT_TRUE(s->WaitForText("Selected flag : A"));
    EXPECT_EQ(s->Cell(6, 45).text, "A");  // the window's column 42
    s->Send("\x1b[6~");  // PgDn: set B
    ASSERT_TRUE(s->WaitForText("Selected flag : B"));
    EXPECT_EQ(s->Cell(6, 45).text, "B");
    s->Send("\x1bOB\rCan read mail\r");
    ASSERT_TRUE(s->WaitForText("bit 2: Can read mail"));
    s->Send("\x1b\x1b");
    ASSERT_TRUE(s->WaitForText("Do you want to save the configuration"));
    s->Send("n");
    ASSERT_TRUE(s->WaitForText("<Esc> Quit"));
    Quit(*s);
    EXPECT_EQ(ReadAll(board.DataDir() / "kvconfig.kvr"), before) << "nothing saved on No";
}

TEST_F(RosterTest, WidgetsAnswerTheirKeys) {
    struct Case {
        std::vector<std::string> args;
        std::string keys;
        std::string shown;   // on screen before the keys go in
        std::string result;  // the probe's RESULT line
    } cases[] = {
        {{"line", "2", "1", "0", "8", ""}, "1a2/12/31\r", "", "RESULT 1 [12/12/31]"},
        {{"line", "0", "0", "0", "8", "abc"}, "\x1b\x1b", "abc", "RESULT 0 [<ESC>]"},
        {{"prompt", "4", "7"}, "5\r", "Jump to which record? (0..9)", "RESULT 1 [75]"},
        {{"choice", "1", "Delete ^Marked^ or Selected user", "YN"}, "\r", "Your choice [Y/n]", "RESULT 89 []"},
        {{"choice", "1", "Quit/Mark/Unmark/Selected/Current", "QMUSC"}, "x\x1bOAu", "Your choice [QMUSC]",
         "RESULT 85 []"},
        {{"choice", "0", "No record matching your criteria", ""}, "z", "Hit any key to continue:", "RESULT 122 []"},
        {{"pick", "16", "10"}, "\x1bOF\x1bOA\r", "Item 09", "RESULT 14 []"},
        {{"pick", "16", "10"}, "]]\x1b", "Item 00", "RESULT -1 []"},
        {{"area", "0"}, "\x1bOB\x1bOB\r", "Messages area", "RESULT 3 []"},
        {{"bits", "1"}, "r \r", "First flag of B", "RESULT 1 [3]"},
        {{"bits", "1"}, " \x1b", "First flag of B", "RESULT 0 [1]"},
        {{"number", "64000", "10"}, "70000\r", "10", "RESULT 1 [64000]"},
        {{"number", "64000", "10"}, "\r", "10", "RESULT 0 [10]"},
        {{"quit"}, "x\r", "Are you sure [Y/n] :", "RESULT -2 []"},
        {{"quit"}, "n", "About to leave kvroster", "RESULT 0 []"},
    };
    // Areas 1, 2 and 4 defined: the third entry is area 4 (index 3).
    board.Set("MsgAreas[2].AreaDefined", "0");
    for (int a = 4; a < 100; ++a) board.Set("MsgAreas[" + std::to_string(a) + "].AreaDefined", "0");
    for (const Case& c : cases) {
        auto s = Probe(c.args);
        if (!c.shown.empty()) {
            EXPECT_TRUE(s->WaitForText(c.shown)) << c.args[0] << " " << c.keys;
        }
        s->Send(c.keys);
        EXPECT_TRUE(s->WaitForText(c.result)) << c.args[0] << " " << c.keys << "\n" << s->Screen();
        EXPECT_EQ(s->Wait(), 0);
    }
}

// A popup that goes gives back exactly what stood under it, so the dialog
// that opened it stays whole: rows 0-19 read as they did before it came.
TEST_F(RosterUsersTest, AClosedPopupLeavesTheDialogUnderItWhole) {
    WriteUsers(3);
    roster::RosterSettings settings;
    settings.UtilityCommands[0] = "/bin/echo !";
    ASSERT_TRUE(roster::WriteSettingsFile(board.DataDir() / roster::kSettingsFile, settings));
    struct Case {
        const char* what;
        std::string to;                            // from the main menu into the dialog
        std::function<bool(PtySession&)> standing;  // the dialog is drawn whole
        std::string open, popup, close;            // the popup's keys and text
        std::string back;                          // to the main menu again
    } cases[] = {
        {"setup after a sub-screen", "+\r",
         [](PtySession& s) { return s.Screen().find("Edit flags description") != std::string::npos; }, "\r",
         "Selected flag : A", "\x1b", "\x1b"},
        {"validation parameters after the area picker", "+\r\t\r\x1bOB\x1bOB\x1bOB\x1bOB",
         [](PtySession& s) { return s.Cell(13, 5).text == ">"; }, "\r", "Messages area", "\x1b", "\x1b\x1bn"},
        {"report generator after its width refusal", "++\t\t\t\t\t\r",
         [](PtySession& s) { return s.Screen().find("Select/Unselect fields") != std::string::npos; }, "\t\r",
         "Cannot change width for on-screen reports", " ", "\x1b"},
        {"utilities after the '!' prompt", "+++\t\r",
         [](PtySession& s) { return s.Screen().find("Enter the number to execute") != std::string::npos; }, "1",
         "Enter command to execute", "\x1b", "\x1b"},
        {"extended screen after the alias conflict", "\r\x1bOB\x06" "2\x1bOB\x1bOB\x1bOB\x1bOB\x1bOB\r",
         [](PtySession& s) { return s.Row(14).find("u1") != std::string::npos; }, "\x7f\x7fSYSOP\r",
         "This ALIAS is already in use (record #0)", " ", "\x1b\x1bn\x1b"},
    };
    auto upper = [](PtySession& s) {
        std::string rows;
        for (int r = 0; r < 20; ++r) rows += s.Row(r) + "\n";
        return rows;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto s = Start();
        ASSERT_TRUE(s->WaitForText(" Browse "));
        s->Send(c.to);
        ASSERT_TRUE(s->WaitFor([&] { return c.standing(*s); })) << s->Screen();
        const std::string before = upper(*s);
        s->Send(c.open);
        ASSERT_TRUE(s->WaitForText(c.popup)) << s->Screen();
        s->Send(c.close);
        EXPECT_TRUE(s->WaitFor([&] { return upper(*s) == before; })) << "before:\n" << before << "after:\n" << upper(*s);
        s->Send(c.back);
        Quit(*s);
    }
}

// On a UTF-8 terminal a stored letter shows as itself, one column, and the
// sysop's typed letters are stored as their PC bytes; a character the set
// lacks is refused with a beep and leaves nothing behind.
TEST_F(RosterTest, TheLineEditorShowsAndStoresLettersOfThePcSet) {
    auto s = Probe({"line", "0", "0", "0", "20", "caf\x82"});
    ASSERT_TRUE(s->WaitForText("café")) << s->Screen();
    s->Send(" Z\xC3\xBCrich\xE2\x82\xAC!");
    ASSERT_TRUE(s->WaitForText("café Zürich!")) << s->Screen();
    // The field at row 5, column 2 of the list window (row 2, column 1).
    const char* want[] = {"c", "a", "f", "é", " ", "Z", "ü", "r", "i", "c", "h", "!", " "};
    for (int i = 0; i < 13; ++i) EXPECT_EQ(s->Cell(7, 3 + i).text, want[i]) << i;
    s->Send("\r");
    EXPECT_TRUE(s->WaitForOutput("RESULT 1 [caf\x82 Z\x81rich!]"));
    EXPECT_EQ(s->Wait(), 0);
    const std::string& out = s->Output();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\a'), 1);
}

// A byte that is no UTF-8 (a Latin-1 letter, a lone lead or continuation
// byte, 0xFF, an overlong form, a UTF-16 half) rings the bell once and takes
// nothing with it: the keys typed right after it, in the same burst, are
// stored.
TEST_F(RosterTest, TheLineEditorKeepsTheKeysAfterABrokenByte) {
    auto s = Probe({"line", "0", "0", "0", "20", ""});
    ASSERT_TRUE(s->WaitForText("kvroster v1.0")) << s->Screen();
    s->Send(" X\xE9YZW\xD8" "a\x80" "b\xFF" "c\xC0\xAF" "d\xED\xA0\x80" "e");
    ASSERT_TRUE(s->WaitForText(" XYZWabcde")) << s->Screen();
    s->Send("\r");
    EXPECT_TRUE(s->WaitForOutput("RESULT 1 [ XYZWabcde]"));
    EXPECT_EQ(s->Wait(), 0);
    const std::string& out = s->Output();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\a'), 6);
}

TEST_F(RosterTest, ATooSmallTerminalIsRefusedWithAMessage) {
    auto s = Start({}, 20, 80);
    EXPECT_TRUE(s->WaitForText("at least 80 columns and 24 lines"));
    EXPECT_EQ(s->Wait(), 1);
}

// A sysop's terminal made smaller for a while and then full size again
// shows the whole frame once more, and the menu goes on where it was.
TEST_F(RosterTest, ATerminalThatShrinksAndGrowsAgainIsPaintedWhole) {
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    s->Resize(15, 50);
    s->Send("\t");  // " Next ", taken after the smaller size
    EXPECT_TRUE(s->WaitForOutput("Display next page"));
    s->Resize(24, 80);
    s->Send("\t");  // on to " Previous "
    auto whole = [&] {
        return s->Cell(0, 79).text == "┐" && s->Cell(23, 79).text == "┘" && s->Cell(23, 0).text == "└" &&
               s->Row(1).find("kvroster v1.0") != std::string::npos &&
               s->Row(20).find("Previous    Top         Bottom      Comment") != std::string::npos &&
               s->Row(22).find("Display previous page") != std::string::npos;
    };
    EXPECT_TRUE(s->WaitFor(whole)) << s->Screen();
    Quit(*s);
}

TEST_F(RosterTest, AHangUpEndsTheProgram) {
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    s->Hangup();
    EXPECT_EQ(s->Wait(), 1);
}

TEST_F(RosterTest, VersionAndAMissingConfiguration) {
    RunResult v = RunProgram({ProgramPath("kvroster"), "-x", "-v"}, board.root());
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("kvroster v1.0", 0), 0u) << v.out;
    RunResult none = RunProgram({ProgramPath("kvroster")}, board.DataDir(), {"KIVOCNF=/nonexistent"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "Cannot load kivo configuration\n");
}

TEST_F(RosterTest, NoUsersFileIsRefused) {
    fs::remove(board.DataDir() / "users.bbs");
    auto s = Start();
    ASSERT_TRUE(s->WaitForText("You must use 'Kivo' at least once before using 'Kvroster'"));
    s->Send(" ");
    EXPECT_EQ(s->Wait(), 0);
}

}  // namespace
}  // namespace kv::test

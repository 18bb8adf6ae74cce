// The file commands as a caller meets them on a line: the two listings with
// their paging and keys, the area arguments and their refusals, the sysop's
// move and remove with the lists read back, and the text display commands.
#include <gtest/gtest.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/board.h"
#include "tests/support/pty_session.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

constexpr int kSam = 0, kTerry = 1;

// A local time as a file's modification time.
void SetFileDate(const fs::path& p, int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    utimbuf u{mktime(&t), mktime(&t)};
    ASSERT_EQ(utime(p.c_str(), &u), 0) << p;
}

class FileSession : public ::testing::Test {
protected:
    // The sample board's Utilities area (typed as area 2) holds files the
    // test knows to the byte; Terry last called on 01/02/24.
    void SetUp() override {
        utils = board.root() / "files" / "utils";
        uploads = board.root() / "files" / "uploads";
        fs::remove_all(utils);
        fs::create_directories(utils);
        Put(utils / "A.ZIP", 100, 2024, 3, 5);
        Put(utils / "b.zip", 2000, 2023, 12, 30);
        Put(utils / "exactly15chars!", 7, 2024, 3, 5);
        Put(utils / "notes.txt", 5, 2024, 3, 5);
        WriteList(utils,
                  "# The utilities\n"
                  "A.ZIP          Archive tools\n"
                  " for every archive kind\n"
                  "b.zip          An old file with a long description that goes on past the end of one line "
                  "and wraps onto the next\n"
                  "exactly15chars! Fifteen\n"
                  "GONE.ZIP       Taken away\n");
    }

    void Put(const fs::path& p, size_t size, int y, int m, int d) {
        std::ofstream(p) << std::string(size, 'x');
        SetFileDate(p, y, m, d);
    }
    void WriteList(const fs::path& dir, const std::string& body) {
        std::ofstream(dir / "files.bbs") << body;
        SetFileDate(dir / "files.bbs", 2024, 3, 1);
    }
    std::string Read(const fs::path& p) {
        std::ifstream in(p);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    // The probe for a caller (plain screen unless settings say more).
    PtySession& Start(int user, std::vector<std::string> steps) {
        PtyOptions o;
        o.argv = {std::string(KV_TESTBIN_DIR) + "/kvmenu_probe", "user=" + std::to_string(user), "options=0"};
        o.argv.insert(o.argv.end(), steps.begin(), steps.end());
        o.dir = board.root();
        s = std::make_unique<PtySession>(o);
        return *s;
    }
    bool Answer(const std::string& text, const std::string& keys) {
        if (!s->WaitForText(text)) {
            ADD_FAILURE() << "no \"" << text << "\" on the screen:\n" << s->Screen();
            return false;
        }
        s->Send(keys);
        return true;
    }
    // The same for a text that comes again: keys typed while a file is
    // still shown would be taken by its display, so they wait for the nth.
    bool AnswerNth(const std::string& text, int nth, const std::string& keys) {
        if (!s->WaitForOutputCount(text, nth)) {
            ADD_FAILURE() << "no \"" << text << "\" the " << nth << ". time:\n" << s->Screen();
            return false;
        }
        s->Send(keys);
        return true;
    }
    // The rows of the screen from first on, until an empty row.
    std::vector<std::string> Rows(int first, int count) {
        std::vector<std::string> r;
        for (int i = first; i < first + count; ++i) r.push_back(s->Row(i));
        return r;
    }
    void Done() {
        ASSERT_TRUE(s->WaitForText("done")) << s->Screen();
        EXPECT_EQ(s->Wait(), 0);
    }

    TempBoard board;
    fs::path utils, uploads;
    std::unique_ptr<PtySession> s;
};

TEST_F(FileSession, PlainListWithAPatternAndItsTotals) {
    Start(kTerry, {"run=30,$F2"});
    ASSERT_TRUE(Answer("File name or pattern (Enter for all):", "*.zip\r"));
    ASSERT_TRUE(Answer("Press a key to go on.", "x"));
    Done();
    EXPECT_EQ(Rows(1, 5), (std::vector<std::string>{
                              "File name         Date       Size",
                              "----------------  --------   ----------",
                              "b.zip             12/30/23   2000",
                              "Total: 1 file  2000 bytes",
                              "Press a key to go on.",
                          }))
        << s->Screen();
}

TEST_F(FileSession, PlainListPausesAtAFullPageAndStops) {
    // Six rows: the heading and three files fill a page.
    Start(kTerry, {"screen=6", "options=4", "filearea=1", "run=30,/F", "run=30,/F"});
    ASSERT_TRUE(Answer("File name or pattern (Enter for all):", "\r"));
    ASSERT_TRUE(Answer("-- More --", "="));  // no more pauses
    ASSERT_TRUE(Answer("Press a key to go on.", "x"));
    EXPECT_NE(s->Screen().find("Total: 5 files"), std::string::npos) << s->Screen();
    // The second list is stopped at its pause: no totals, no wait.
    ASSERT_TRUE(AnswerNth("File name or pattern (Enter for all):", 2, "\r"));
    ASSERT_TRUE(AnswerNth("-- More --", 2, "n"));
    Done();
    EXPECT_EQ(s->Output().find("Total:", s->Output().rfind("-- More --")), std::string::npos);
}

TEST_F(FileSession, DescribedListInBothStyles) {
    Start(kTerry, {"lastcall=01/02/24", "run=31,$F2"});
    ASSERT_TRUE(Answer("Press a key to go on.", "x"));
    Done();
    EXPECT_EQ(Rows(1, 10), (std::vector<std::string>{
                               "Files of this area",
                               "------------------",
                               "",
                               "A.ZIP              100 *03/05/24 Archive tools",
                               " for every archive kind",
                               "b.zip             2000  12/30/23 An old file with a long description that goes",
                               "                                 on past the end of one line and wraps onto the",
                               "                                 next",
                               "exactly15chars!      7 *03/05/24 Fifteen",
                               "GONE.ZIP       missing           Taken away",
                           }))
        << s->Screen();

    board.Set("FileListStyle", "0");
    Start(kTerry, {"run=31,$F2"});
    ASSERT_TRUE(Answer("Press a key to go on.", "x"));
    Done();
    EXPECT_EQ(Rows(4, 6), (std::vector<std::string>{
                              "A.ZIP              100  Archive tools",
                              " for every archive kind",
                              "b.zip             2000  An old file with a long description that goes on past",
                              "                        the end of one line and wraps onto the next",
                              "exactly15chars!      7  Fifteen",
                              "GONE.ZIP       missing  Taken away",
                          }))
        << s->Screen();
}

TEST_F(FileSession, DescribedListInColour) {
    Start(kTerry, {"ansi", "color", "lastcall=01/02/24", "run=31,$F2"});
    ASSERT_TRUE(Answer("Press a key to go on.", "x"));
    Done();
    ASSERT_EQ(s->Row(4), "A.ZIP              100 *03/05/24 Archive tools") << s->Screen();
    // Terminal colours: 1 red, 2 green, 5 magenta, 6 cyan, 7 grey; the
    // board's bright ones are bold.
    struct Want {
        int row, col, fg;
        bool bold;
    } cells[] = {
        {4, 0, 7, false},   // the name
        {4, 20, 5, true},   // the size
        {4, 23, 1, false},  // the new mark
        {4, 24, 2, true},   // the date
        {4, 33, 6, false},  // the description
        {5, 1, 6, true},    // a continuation line, in the title pair
    };
    for (const Want& w : cells) {
        ScreenCell c = s->Cell(w.row, w.col);
        EXPECT_EQ(c.fg, w.fg) << w.row << "," << w.col;
        EXPECT_EQ(c.bold, w.bold) << w.row << "," << w.col;
    }
}

TEST_F(FileSession, AnUploadsDescriptionOnTwoLines) {
    Start(kTerry, {"describe=new.zip", "describe=none.zip"});
    ASSERT_TRUE(s->WaitForText("Describe new.zip"));
    // The word that does not fit the first line starts the second.
    std::string first = std::string(64, 'a') + " tools";
    ASSERT_TRUE(Answer(" 1:", first));
    ASSERT_TRUE(Answer(" 2:", " and more\r"));
    ASSERT_TRUE(AnswerNth(" 1:", 2, "\r"));
    Done();
    EXPECT_NE(s->Output().find("description=1[" + std::string(64, 'a') + " tools and more]"), std::string::npos)
        << s->Screen();
    EXPECT_NE(s->Screen().find("description=0[No description]"), std::string::npos) << s->Screen();
}

TEST_F(FileSession, TheStopKeyEndsAListingAtOnce) {
    // A key to go on at the pause, and the stop key typed after it: the
    // list ends at the next character.
    Start(kTerry, {"screen=6", "options=4", "run=31,$F2"});
    ASSERT_TRUE(Answer("-- More --", "xS"));
    Done();
    EXPECT_EQ(s->Output().find("Fifteen"), std::string::npos) << s->Screen();
    EXPECT_EQ(s->Output().find("Press a key"), std::string::npos) << s->Screen();
}

TEST_F(FileSession, AnAreaKeptApartListsFromItsOwnListing) {
    // The documents (area 3) list from files/lists/docs.bbs; the list may
    // be read-only.
    fs::path list = board.root() / "files" / "lists" / "docs.bbs";
    fs::permissions(list, fs::perms::owner_read | fs::perms::group_read);
    Start(kTerry, {"run=31,$F3"});
    ASSERT_TRUE(Answer("Press a key to go on.", "x"));
    Done();
    EXPECT_NE(s->Screen().find("rules.txt"), std::string::npos) << s->Screen();
    EXPECT_NE(s->Screen().find("The rules of this board."), std::string::npos) << s->Screen();
}

struct Refusal {
    const char* name;
    const char* argument;
    const char* text;
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class AreaRefusal : public FileSession, public ::testing::WithParamInterface<Refusal> {};

TEST_P(AreaRefusal, IsToldAndListsNothing) {
    // Area 4 is defined for the sysop level only.
    board.Set("FileAreas[3].AreaDefined", "1");
    board.Set("FileAreas[3].AreaDir", utils.string());
    board.Set("FileAreas[3].ListLevel", "64000");
    Start(kTerry, {std::string("run=31,") + GetParam().argument});
    Done();
    EXPECT_NE(s->Screen().find(GetParam().text), std::string::npos) << s->Screen();
    EXPECT_EQ(s->Screen().find("Files of this area"), std::string::npos) << s->Screen();
}

INSTANTIATE_TEST_SUITE_P(Arguments, AreaRefusal,
                         ::testing::Values(Refusal{"BelowTheFirst", "$F0", "There is no file area 0."},
                                           Refusal{"PastTheLast", "$F51", "There is no file area 51."},
                                           Refusal{"NotInUse", "$F7", "File area 7 is not in use."},
                                           Refusal{"NotForTheCaller", "$f4", "You may not use that file area."}),
                         [](const ::testing::TestParamInfo<Refusal>& i) { return std::string(i.param.name); });

TEST_F(FileSession, SysopMovesAFileWithItsEntryToAnotherArea) {
    WriteList(uploads, "new.zip        Just uploaded\n");
    Start(kSam, {"run=29,$F2"});
    ASSERT_TRUE(Answer("File name:", "A.ZIP\r"));
    ASSERT_TRUE(Answer("Move to (directory or $F and area):", "$F1\r"));
    // The area's directory takes the place of the typed "$F1".
    ASSERT_TRUE(s->WaitForText(uploads.string()));
    ASSERT_TRUE(Answer("Move its list entry too?", "y"));
    Done();
    EXPECT_FALSE(fs::exists(utils / "A.ZIP"));
    EXPECT_TRUE(fs::exists(uploads / "A.ZIP"));
    EXPECT_EQ(Read(uploads / "files.bbs"),
              "new.zip        Just uploaded\n"
              "A.ZIP          Archive tools\n"
              " for every archive kind\n");
    EXPECT_EQ(Read(utils / "files.bbs").find("A.ZIP"), std::string::npos);
    EXPECT_EQ(Read(utils / "files.bbs").find("every archive"), std::string::npos);
    // Touched on the way: new in its new area.
    EXPECT_GT(fs::last_write_time(uploads / "A.ZIP"), fs::last_write_time(uploads / "files.bbs") - std::chrono::hours(1));
}

TEST_F(FileSession, SysopRemovesOneFileAndItsEntryOnly) {
    Put(utils / "data", 3, 2024, 3, 5);
    WriteList(utils, "DATA.ZIP       Data\ndata           Plain data\n more of it\nnotes.txt      Notes\n");
    Put(utils / "DATA.ZIP", 3, 2024, 3, 5);
    Start(kSam, {"run=62,$F2", "run=62,$F2", "run=62,$F2"});
    ASSERT_TRUE(Answer("File name:", "files.bbs\r"));
    ASSERT_TRUE(s->WaitForText("The file list itself cannot be removed."));
    // A file beside the area's directory is out of reach.
    Put(utils / ".." / "x", 1, 2024, 3, 5);
    ASSERT_TRUE(AnswerNth("File name:", 2, "../x\r"));
    ASSERT_TRUE(s->WaitForText("../x: no such file."));
    ASSERT_TRUE(AnswerNth("File name:", 3, "data\r"));
    ASSERT_TRUE(Answer("Remove this file?", "y"));
    Done();
    EXPECT_FALSE(fs::exists(utils / "data"));
    EXPECT_TRUE(fs::exists(utils / "DATA.ZIP"));
    EXPECT_TRUE(fs::exists(utils / ".." / "x"));
    EXPECT_EQ(Read(utils / "files.bbs"), "DATA.ZIP       Data\nnotes.txt      Notes\n");
    EXPECT_NE(Read(board.DataDir() / "menu.log").find("Removed " + (utils / "data").string()), std::string::npos);
}

// The Documents area (typed as area 3) keeps its list apart from its
// files: move and remove change that list, not a "files.bbs" beside them.
TEST_F(FileSession, SysopMoveAndRemoveChangeTheListOfAnAreaKeptApart) {
    fs::path docs = board.root() / "files" / "docs";
    fs::path list = board.root() / "files" / "lists" / "docs.bbs";
    Start(kSam, {"run=62,$F3", "run=29,$F3", "run=29,$F2"});
    ASSERT_TRUE(Answer("File name:", "rules.txt\r"));
    ASSERT_TRUE(Answer("Remove this file?", "y"));
    ASSERT_TRUE(AnswerNth("File name:", 2, "history.txt\r"));
    ASSERT_TRUE(Answer("Move to (directory or $F and area):", "$F2\r"));
    ASSERT_TRUE(Answer("Move its list entry too?", "y"));
    ASSERT_TRUE(AnswerNth("File name:", 3, "b.zip\r"));
    ASSERT_TRUE(AnswerNth("Move to (directory or $F and area):", 2, "$F3\r"));
    ASSERT_TRUE(AnswerNth("Move its list entry too?", 2, "y"));
    Done();
    EXPECT_EQ(s->Output().find("The move failed."), std::string::npos) << s->Screen();
    EXPECT_NE(Read(board.DataDir() / "menu.log").find("Removed " + (docs / "rules.txt").string()), std::string::npos);
    EXPECT_FALSE(fs::exists(docs / "rules.txt"));
    EXPECT_TRUE(fs::exists(utils / "history.txt"));
    EXPECT_TRUE(fs::exists(docs / "b.zip"));
    EXPECT_EQ(Read(list),
              "# The documents area keeps its list here, apart from its files.\n"
              "b.zip          An old file with a long description that goes on past the end of one line "
              "and wraps onto the next\n");
    EXPECT_NE(Read(utils / "files.bbs").find("history.txt    How the board began.\n"), std::string::npos);
    EXPECT_EQ(Read(utils / "files.bbs").find("b.zip"), std::string::npos);
    EXPECT_FALSE(fs::exists(docs / "files.bbs"));
}

// A target list that cannot be written: the file has moved, the entry
// stays in its source list, and the sysop is told.
TEST_F(FileSession, SysopMoveToAListThatCannotBeWrittenKeepsTheEntry) {
    board.Set("FileAreas[0].ListingPath", (board.root() / "nowhere" / "uploads.bbs").string());
    Start(kSam, {"run=29,$F2"});
    ASSERT_TRUE(Answer("File name:", "A.ZIP\r"));
    ASSERT_TRUE(Answer("Move to (directory or $F and area):", "$F1\r"));
    ASSERT_TRUE(Answer("Move its list entry too?", "y"));
    ASSERT_TRUE(s->WaitForText("The move failed.")) << s->Screen();
    Done();
    EXPECT_TRUE(fs::exists(uploads / "A.ZIP"));
    EXPECT_NE(Read(utils / "files.bbs").find("A.ZIP          Archive tools\n for every archive kind\n"),
              std::string::npos);
}

// A target that already holds a file of the name keeps it: the move is
// refused and neither file nor list changes.
TEST_F(FileSession, SysopMoveNeverReplacesAFileOfTheTarget) {
    WriteList(uploads, "A.ZIP          Someone else's tools\n");
    Put(uploads / "A.ZIP", 33, 2024, 3, 5);
    Start(kSam, {"run=29,$F2"});
    ASSERT_TRUE(Answer("File name:", "A.ZIP\r"));
    ASSERT_TRUE(Answer("Move to (directory or $F and area):", "$F1\r"));
    ASSERT_TRUE(s->WaitForText("The move failed.")) << s->Screen();
    Done();
    EXPECT_EQ(s->Output().find("Move its list entry too?"), std::string::npos);
    EXPECT_EQ(fs::file_size(uploads / "A.ZIP"), 33u);
    EXPECT_EQ(fs::file_size(utils / "A.ZIP"), 100u);
    EXPECT_EQ(Read(uploads / "files.bbs"), "A.ZIP          Someone else's tools\n");
    EXPECT_NE(Read(utils / "files.bbs").find("A.ZIP          Archive tools\n"), std::string::npos);
}

TEST_F(FileSession, TypeTextFileAsksForOneNameInTheArea) {
    Start(kTerry, {"run=38,$F3", "run=38,$F3", "run=38,$F3rules.txt /N"});
    ASSERT_TRUE(Answer("File name:", "../../system/users.bbs\r"));
    ASSERT_TRUE(s->WaitForText("Sorry, that screen is not available."));
    ASSERT_TRUE(AnswerNth("File name:", 2, "history.txt\r"));
    ASSERT_TRUE(s->WaitForText("The second line"));
    ASSERT_TRUE(AnswerNth("Press Enter to go on.", 1, "\r"));
    // Named in the argument, non-stop: the stop key typed ahead is ignored.
    ASSERT_TRUE(AnswerNth("Press Enter to go on.", 2, "S\r"));
    Done();
    EXPECT_NE(s->Screen().find("3. Upload only"), std::string::npos) << s->Screen();
    EXPECT_EQ(s->Output().find("Sam Sysop"), std::string::npos);
}

// A file of an area may be anybody's upload: typed, its control bytes
// (a new title, a cursor report that would come back as keys, a cleared or
// swapped screen) show as blanks.  A file of the sysop's text directory
// keeps its colours.
TEST_F(FileSession, TypedFilesOfAnAreaCannotDriveTheTerminal) {
    std::ofstream(utils / "trap.txt") << "A\x1b]0;owned\x07" "B\x1b[6nC\x1b[2J\x1b[?1049hD\tE\n";
    const fs::path art = board.root() / "text" / "art.txt";
    std::ofstream(art) << "\x1b[1mBold\x1b[0m\n";
    Start(kTerry, {"run=38,$F2trap.txt", "run=38," + art.string()});
    ASSERT_TRUE(AnswerNth("Press Enter to go on.", 1, "\r"));
    ASSERT_TRUE(AnswerNth("Press Enter to go on.", 2, "\r"));
    Done();
    const std::string& out = s->Output();
    EXPECT_NE(out.find("A ]0;owned B [6nC [2J [?1049hD\tE"), std::string::npos) << out;
    for (const char* code : {"\x1b]0;", "\x1b[6n", "\x1b[?1049h", "\x07"})
        EXPECT_EQ(out.find(code), std::string::npos)
            << "reached the terminal: " << testing::PrintToString(std::string(code));
    EXPECT_NE(out.find("\x1b[1mBold\x1b[0m"), std::string::npos) << out;
}

TEST_F(FileSession, DisplayFilesWithAndWithoutTheirWait) {
    Start(kTerry, {"run=45,rules", "run=46," + (board.root() / "text" / "history.asc").string(), "run=39,nothere"});
    ASSERT_TRUE(s->WaitForText("The rules of the board"));
    ASSERT_TRUE(Answer("Press Enter to go on.", "x\r"));
    ASSERT_TRUE(AnswerNth("Press Enter to go on.", 2, "\r"));
    EXPECT_NE(s->Output().find("borrowed modem"), std::string::npos);
    ASSERT_TRUE(s->WaitForText("Sorry, that screen is not available."));
    Done();
}

}  // namespace
}  // namespace kv::test

namespace kv::test {
namespace {

// The searches run over every area the caller may list: the Utilities as
// the test writes them and the sample's Documents, dated long ago.
class SearchSession : public FileSession {
protected:
    void SetUp() override {
        FileSession::SetUp();
        fs::remove_all(utils);
        fs::create_directories(utils);
        Put(utils / "MODEMS.ZIP", 100, 2024, 3, 5);
        Put(utils / "term.zip", 200, 2023, 12, 30);
        Put(utils / "tools.zip", 300, 2024, 3, 5);
        WriteList(utils,
                  "MODEMS.ZIP     Terminal programs\n"
                  " and modem settings\n"
                  "term.zip       A terminal for any modem\n"
                  "tools.zip      Tools\n"
                  "ghost.zip      A modem file that is not there\n");
        for (const char* n : {"rules.txt", "history.txt"}) SetFileDate(board.root() / "files" / "docs" / n, 2020, 1, 1);
    }
    bool Shows(const std::string& row) { return s->Screen().find(row) != std::string::npos; }
};

TEST_F(SearchSession, ByKeywordPatternAndDate) {
    Start(kTerry, {"run=35", "run=36", "run=37", "run=37", "run=37"});
    ASSERT_TRUE(Answer("Keyword to look for:", "Modem\r"));
    ASSERT_TRUE(s->WaitForText("Press any key to continue..."));
    EXPECT_TRUE(Shows("Area Utilities (#2)\n"
                      "MODEMS.ZIP         100  Terminal programs\n"
                      "term.zip           200  A terminal for any modem\n"
                      "\n"
                      "Press any key to continue..."))
        << s->Screen();
    EXPECT_FALSE(Shows("ghost.zip")) << "a file missing from the directory is never shown";
    EXPECT_FALSE(Shows("modem settings")) << "continuation lines are not shown";
    s->Send("x");

    // The pattern compares the name as the list spells it.
    ASSERT_TRUE(AnswerNth("File name pattern:", 1, "*.ZIP\r"));
    ASSERT_TRUE(AnswerNth("Press any key to continue...", 2, "x"));
    EXPECT_TRUE(Shows("Area Utilities (#2)\nMODEMS.ZIP         100  Terminal programs\n\nPress any")) << s->Screen();

    // New files: a date typed in the wrong form is refused; a file of the
    // day itself is not new.
    ASSERT_TRUE(AnswerNth("Files newer than your last call (01/02/24)?", 1, "n"));
    ASSERT_TRUE(AnswerNth("Since which date (MM/DD/YY) :", 1, "1/2/99\r"));
    ASSERT_TRUE(s->WaitForText("That is not a date."));
    ASSERT_TRUE(AnswerNth("Files newer than your last call (01/02/24)?", 2, "n"));
    ASSERT_TRUE(AnswerNth("Since which date (MM/DD/YY) :", 2, "03/05/24\r"));
    ASSERT_TRUE(AnswerNth("Press any key to continue...", 3, "x"));
    const std::string& out = s->Output();
    size_t since = out.rfind("03/05/24");
    EXPECT_EQ(out.find("Area ", since), std::string::npos) << s->Screen();
    ASSERT_TRUE(AnswerNth("Files newer than your last call (01/02/24)?", 3, "n"));
    ASSERT_TRUE(AnswerNth("Since which date (MM/DD/YY) :", 3, "03/04/24\r"));
    ASSERT_TRUE(AnswerNth("Press any key to continue...", 4, "x"));
    Done();
    EXPECT_TRUE(Shows("Area Utilities (#2)\n"
                      "MODEMS.ZIP         100  Terminal programs\n"
                      "tools.zip          300  Tools\n"
                      "\n"
                      "Press any"))
        << s->Screen();
    EXPECT_EQ(s->Output().find("Documents"), std::string::npos);
}

TEST_F(FileSession, ArchiveViewOfAZip) {
    fs::copy_file(SourcePath("sample/files/utils/TOOLS.ZIP"), utils / "TOOLS.ZIP");
    Start(kTerry, {"run=34,$F2", "run=34,$F2", "run=34,$F2"});
    ASSERT_TRUE(Answer("Archive name:", "TOOLS.ZIP\r"));
    ASSERT_TRUE(s->WaitForText("End of the archive. Press a key."));
    EXPECT_TRUE(s->Screen().find("Contents of TOOLS.ZIP\n"
                                 "Name            Length   Packed  Save Date      Time\n"
                                 "--------------------------------------------------------\n"
                                 "hexview.txt        560       22  97%  03/05/24  10h20:30\n"
                                 "split.txt          780       35  96%  03/05/24  10h20:30\n"
                                 "sum.txt             11       11   0%  03/05/24  10h20:30\n"
                                 "--------------------------------------------------------\n"
                                 "3 files, 1351 bytes, 68 packed, 95% saved\n"
                                 "End of the archive. Press a key.") != std::string::npos)
        << s->Screen();
    s->Send("x");
    ASSERT_TRUE(AnswerNth("Archive name:", 2, "tools.tgz\r"));
    ASSERT_TRUE(s->WaitForText("Archives it reads: Zoo, Zip, Arc, Lzh"));
    ASSERT_TRUE(Answer("Press a key to go on.", "x"));
    // One name inside the area, never a path.
    Put(board.root() / "files" / "x.zip", 1, 2024, 3, 5);
    ASSERT_TRUE(AnswerNth("Archive name:", 3, "../x.zip\r"));
    ASSERT_TRUE(s->WaitForText("No such archive here."));
    Done();
}

TEST_F(FileSession, AStoppedArchiveListingStillShowsItsTotals) {
    fs::copy_file(SourcePath("sample/files/utils/TOOLS.ZIP"), utils / "TOOLS.ZIP");
    Start(kTerry, {"screen=5", "options=4", "run=34,$F2"});
    ASSERT_TRUE(Answer("Archive name:", "TOOLS.ZIP\r"));
    ASSERT_TRUE(Answer("-- More --", "xS"));
    ASSERT_TRUE(Answer("End of the archive. Press a key.", "x"));
    Done();
    EXPECT_NE(s->Output().find("2 files, 1340 bytes, 57 packed, 96% saved (stopped)"), std::string::npos)
        << s->Screen();
}

}  // namespace
}  // namespace kv::test

// Display files on a line: the macro codes rendered, the ".ans"/".asc"
// choice, the sysop's command macro, the stop, pause and hot keys, the page
// pause, and a missing file.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/cp437.h"
#include "common/runtime.h"
#include "common/users.h"
#include "tests/prompts/probe_session.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::test;

namespace {

// A file of numbered lines, "line 1" to "line n".
std::string Lines(int n) {
    std::string s;
    for (int i = 1; i <= n; ++i) s += "line " + std::to_string(i) + "\n";
    return s;
}

// The sample's second user, with values every caller macro can show.
void PrepareCaller(const TempBoard& b) {
    SetConfig(b.config());
    UserRecord u;
    ASSERT_TRUE(ReadUserRecord(1, u));
    u.TotalCalls = 41;
    u.Credit = 150;
    u.SecurityLevel = 10;
    u.Flags = {0x05, 0, 0, 0};
    u.Options = USER_PAGE_BREAK;
    u.Options2 = 0;
    u.ScreenLength = 24;
    u.MsgArea = 1;
    ASSERT_TRUE(WriteUserRecord(1, u));
}

TEST(DisplayFile, MacroCodesShowTheirValues) {
    TempBoard b;
    PrepareCaller(b);
    int areas = 0;
    for (const MsgAreaDef& a : b.config().MsgAreas) areas += a.AreaDefined != 0;
    b.WriteFile("text/macros.asc",
                "# a comment line never shows\n"
                "name=[~fa] first=[~fw] place=[~fb]\n"
                "level=[~fo] calls=[~fp] credit=[~fl] screen=[~fv]\n"
                "flags=[~fh] colour=[~fx] pause=[~fy] language=[~f4]\n"
                "board=[~@] sysop=[~k9]\n"
                "areas=[~r] area=[~k1] name=[~ky]\n"
                "per day=[~k4] pages=[~k8] users=[~kh] open=[~k<-~k>]\n"
                "text=[~!99 x]\n"
                "end=[~!99\n"
                "]\n"
                "tilde=[~~] tab=[\t] blanks=[~i] none=[~n~o~p~q]\n"
                "# and another\n"
                "mid # stays\n"
                "~xtouch ran.flag|not shown\n"
                "after\n"
                "end~");
    auto s = StartProbe(b, {"user=1", "display=macros"});
    ASSERT_TRUE(s->WaitForText("display=255"));
    const std::string want[] = {
        "ready",
        "name=[Terry Tester] first=[Terry] place=[Testville]",
        "level=[00010] calls=[42] credit=[150] screen=[24]",
        "flags=[o-o-----] colour=[No] pause=[Yes] language=[English]",
        "board=[Kivo Sample Board] sysop=[Sam Sysop]",
        "areas=[" + std::to_string(areas) + "] area=[1] name=[" + b.config().MsgAreas[1].AreaName + "]",
        "per day=[10] pages=[3] users=[" + std::to_string(UpdateUserCount()) + "] open=[00:00-24:00]",
        "text=[Sorry, that screen is not available. x]",
        "end=[Sorry, that screen is not available.",
        "]",
        "tilde=[~] tab=[        ] blanks=[        ] none=[]",
        "mid # stays",
        "after",
        "end",
        "display=255",
    };
    for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(s->Row(int(i)), want[i]) << "row " << i;
    EXPECT_EQ(s->Wait(), 0);
    // Shell escapes are off on the sample board: the command did not run.
    EXPECT_FALSE(fs::exists(b.root() / "ran.flag"));
}

TEST(DisplayFile, CommandMacroRunsTheSysopsCommandOnlyWhenAllowed) {
    TempBoard b;
    b.Set("AllowShellEscapes", "1");
    b.WriteFile("text/cmd.asc",
                "before\n"
                "~xtouch ran.flag|the rest of this line is not shown\n"
                "~xtouch never.flag\n"
                "between\n"
                "last~x");
    // A caller whose name is shell syntax: names never reach a command line.
    auto s = StartProbe(b, {"caller=$(touch named.flag)", "display=cmd"});
    ASSERT_TRUE(s->WaitForText("display=255"));
    EXPECT_EQ(s->Row(1), "before");
    // The command gets a line of its own before and after it; a line
    // without "|" runs nothing and is gone.
    EXPECT_EQ(s->Row(4), "between") << s->Screen();
    EXPECT_EQ(s->Row(5), "last");
    EXPECT_EQ(s->Wait(), 0);
    EXPECT_TRUE(fs::exists(b.root() / "ran.flag"));
    EXPECT_FALSE(fs::exists(b.root() / "never.flag"));
    EXPECT_FALSE(fs::exists(b.root() / "named.flag"));
}

TEST(DisplayFile, AnsiFileForColourCallersPlainOtherwise) {
    TempBoard b;
    b.WriteFile("text/pick.ans", "the ANSI screen\n");
    b.WriteFile("text/pick.asc", "the plain screen\n");
    b.WriteFile("text/plain.asc", "only plain\n");
    struct Case {
        std::vector<std::string> args;
        const char* want;
    } cases[] = {
        {{"ansi", "color", "display=pick"}, "the ANSI screen"},
        {{"ansi", "display=pick"}, "the plain screen"},
        {{"ansi", "color", "display=plain"}, "only plain"},
        {{"path=" + (b.root() / "text/pick.ans").string()}, "the ANSI screen"},
    };
    for (const Case& c : cases) {
        auto s = StartProbe(b, c.args);
        ASSERT_TRUE(s->WaitForText("display=255"));
        EXPECT_EQ(s->Row(1), c.want);
    }
}

TEST(DisplayFile, MissingFileGivesMinusOneOrTheKeys) {
    TempBoard b;
    auto s = StartProbe(b, {"display=nosuch", "display=nosuch,ABC", "path=/nonexistent/file"});
    ASSERT_TRUE(s->WaitForText("display=-1"));
    ASSERT_TRUE(s->WaitForText(">> BC <<"));
    // The probe ends after its last step; the screen then holds them all.
    EXPECT_EQ(s->Wait(), 0);
    EXPECT_NE(s->Screen().find("Sorry, that screen is not available."), std::string::npos);
    EXPECT_NE(s->Screen().find("display=255"), std::string::npos) << s->Screen();
    EXPECT_EQ(CountOf(s->Screen(), "display=-1"), 2) << s->Screen();
}

// A key pressed while a long file runs.
struct KeyCase {
    const char* what;
    std::vector<std::string> settings;
    std::string file;   // what comes before the numbered lines
    std::string key;
    const char* result; // the display's result
    bool toTheEnd;      // the last line was shown
};

TEST(DisplayFile, KeysWhileAFileRuns) {
    const KeyCase cases[] = {
        // The position counts the blank: the menu gets its fourth line.
        {"hot key", {"options2=1"}, "", "c", "display=3", false},
        {"a blank is no key", {"options2=1"}, "", " ", "display=255", true},
        {"stop key", {"options2=0"}, "", "s", "display=255", false},
        {"menu keys are no keys without hot keys", {"options2=0"}, "", "c", "display=255", true},
        {"stop switched off", {"options2=0"}, "~b", "s", "display=255", true},
    };
    TempBoard b;
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.what);
        b.WriteFile("text/long.asc", c.file + Lines(20000) + "~c");
        std::vector<std::string> args = c.settings;
        args.push_back("display=long,A BC");
        auto s = StartProbe(b, args);
        ASSERT_TRUE(s->WaitForOutput("line 1\n"));
        s->Send(c.key);
        ASSERT_TRUE(s->WaitForText(c.result, 20000)) << s->Screen();
        EXPECT_EQ(s->Output().find("line 20000") != std::string::npos, c.toTheEnd);
        EXPECT_EQ(s->Wait(), 0);
    }
}

TEST(DisplayFile, PauseKeyWaitsForAnyKey) {
    TempBoard b;
    b.WriteFile("text/long.asc", Lines(20000));
    auto s = StartProbe(b, {"display=long"});
    ASSERT_TRUE(s->WaitForOutput("line 1\n"));
    s->Send("p");
    // The lines on their way drain, then nothing comes: the display waits
    // and is far from its end (the line held no more than a few kilobytes
    // when the key went).  A program held up by a loaded machine before it
    // read the key looks the same here and still passes what follows.
    EXPECT_TRUE(s->WaitForQuiet(500, 20000));
    EXPECT_EQ(s->Output().find("line 20000"), std::string::npos);
    s->Send("x");
    ASSERT_TRUE(s->WaitForText("display=255", 20000));
    EXPECT_NE(s->Output().find("line 20000"), std::string::npos);
}

TEST(DisplayFile, PagePauseStopsOrTurnsOff) {
    struct Case {
        const char* key;
        bool toTheEnd;
    } cases[] = {{"n", false}, {"=", true}};
    TempBoard b;
    b.WriteFile("text/page.asc", Lines(40));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        // Screen length 10: nine lines a page.
        auto s = StartProbe(b, {"screen=10", "options=4", "display=page"});
        ASSERT_TRUE(s->WaitForText("-- More --"));
        EXPECT_NE(s->Output().find("line 9\n"), std::string::npos);
        EXPECT_EQ(s->Output().find("line 10\n"), std::string::npos);
        s->Send(c.key);
        ASSERT_TRUE(s->WaitForText("display=255"));
        EXPECT_EQ(CountOf(s->Output(), "-- More --"), 1);
        EXPECT_EQ(s->Output().find("line 40\n") != std::string::npos, c.toTheEnd);
    }
}

// A framed display file of PC bytes (box lines, a letter, the flag marks of
// ~fh) on a UTF-8 terminal: each byte one cell, the character an 8-bit
// terminal shows for it.  The 8-bit line gets the file's bytes, the UTF-8
// line exactly their translation.
TEST(DisplayFile, AFramedFileOnAUtf8Terminal) {
    TempBoard b;
    PrepareCaller(b);  // flags A: bits 0 and 2
    const std::string rule(16, '\xCD');
    b.WriteFile("text/frame.asc", "\xC9" + rule + "\xBB\n\xBA caf\x82 ~fh  \xBA\n\xC8" + rule + "\xBC\n");
    std::string sent[2];
    for (bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "UTF-8" : "8-bit");
        auto s = StartProbe(b, {"user=1", "ansi", "color", "display=frame"}, utf8);
        ASSERT_TRUE(s->WaitForText("display=255"));
        EXPECT_EQ(s->Wait(), 0);
        const std::string& out = s->Output();
        size_t from = out.find("ready\n");
        sent[utf8] = out.substr(from, out.find("display=255") - from);
        if (!utf8) continue;
        int row = 0;
        while (row < 22 && !s->Row(row).starts_with("╔")) ++row;
        ASSERT_LT(row, 22) << s->Screen();
        const std::string inside[16] = {" ", "c", "a", "f", "é", " ", "■", "∙", "■", "∙", "∙", "∙", "∙", "∙", " ", " "};
        EXPECT_EQ(s->Cell(row, 0).text, "╔");
        EXPECT_EQ(s->Cell(row, 17).text, "╗");
        EXPECT_EQ(s->Cell(row + 1, 0).text, "║");
        EXPECT_EQ(s->Cell(row + 1, 17).text, "║");
        EXPECT_EQ(s->Cell(row + 2, 0).text, "╚");
        EXPECT_EQ(s->Cell(row + 2, 17).text, "╝");
        for (int col = 1; col <= 16; ++col) {
            EXPECT_EQ(s->Cell(row, col).text, "═") << col;
            EXPECT_EQ(s->Cell(row + 1, col).text, inside[col - 1]) << col;
            EXPECT_EQ(s->Cell(row + 2, col).text, "═") << col;
        }
    }
    EXPECT_NE(sent[0].find("\xBA caf\x82 "), std::string::npos);
    EXPECT_EQ(Cp437ToUtf8(sent[0]), sent[1]);
}

TEST(DisplayFile, SampleScreensShowTheirValues) {
    TempBoard b;
    auto s = StartProbe(b, {"user=1", "display=welcome", "display=account", "display=system"});
    ASSERT_TRUE(s->WaitForOutput("Calls today: 1 of 10"));
    EXPECT_EQ(s->Wait(), 0);
    EXPECT_EQ(CountOf(s->Output(), "display=255"), 3);
    EXPECT_NE(s->Output().find("Welcome to Kivo Sample Board!"), std::string::npos);
    EXPECT_NE(s->Output().find("Name ............ Terry Tester"), std::string::npos);
    EXPECT_NE(s->Output().find("Security level .. 00010"), std::string::npos);
    EXPECT_NE(s->Output().find("Kivo Sample Board, run by Sam Sysop"), std::string::npos);
    EXPECT_EQ(s->Output().find('~'), std::string::npos);  // every code known
}

}  // namespace

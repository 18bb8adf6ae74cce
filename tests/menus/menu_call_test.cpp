// The menus as a caller meets them: kivo on a pseudo-terminal against a
// real kvhubd, logged in as one of the sample callers, the sample board's
// menu tree (or a menu a test writes), keys in, the rendered screen and the
// line log read back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/menu_record.h"
#include "tests/support/caller_fixture.h"

namespace kv::test {
namespace {

// ANSI palette numbers as the screen reports them.
constexpr int kBlue = 4, kYellow = 3, kGreen = 2, kRed = 1, kWhite = 7;

MenuRecord Record(uint8_t command, char key, const std::string& text, const std::string& argument = "") {
    MenuRecord r;
    r.Command = command;
    r.HotKey = uint8_t(key);
    r.Text = text;
    r.Argument = argument;
    r.LineForeground = 7;
    return r;
}

MenuRecord Prompt(const std::string& text) {
    MenuRecord p = Record(10, 0, text);   // light green on black
    p.LineForeground = 14;               // "^" switches to yellow
    return p;
}

class MenuCall : public CallerTest {
protected:
    // The server, once the test has set the board up.
    void Start() { StartBoard(); }

    // A call that logs in as user 0 (the sysop) or 1 (Terry) with the
    // sample passwords and goes on to the menus.
    PtySession& Call(int user, const std::vector<std::string>& options = {}) {
        caller_ = Dial(options);
        if (user == 0) caller_->LogInAs("sam sysop", "lighthouse");
        else caller_->LogInAs("terry tester", "keyboard");
        return caller_->session();
    }
    // Waits for text in what came after the last text waited for.
    bool Next(const std::string& text) {
        if (caller_->Expect(text)) return true;
        ADD_FAILURE() << "no \"" << text << "\" in:\n" << caller_->Rest() << "\nscreen:\n" << Screen().Screen();
        return false;
    }
    // Waits until the screen shows text (for texts that colour changes split).
    bool Shown(const std::string& text) {
        if (Screen().WaitForText(text)) return true;
        ADD_FAILURE() << "no \"" << text << "\" on the screen:\n" << Screen().Screen();
        return false;
    }
    // No more output comes for a moment (the program waits for a key).
    void Settle() {
        while (Screen().Pump(150)) {
            size_t before = Screen().Output().size();
            Screen().Pump(150);
            if (Screen().Output().size() == before) return;
        }
    }
    void WriteMenu(const std::string& name, const std::vector<MenuRecord>& records) {
        std::vector<uint8_t> bytes = EncodeMenuFile(records);
        board().WriteFile(std::string(board().config().MenuDir) + "/" + name, std::string(bytes.begin(), bytes.end()));
    }
    size_t Count(const std::string& text) {
        const std::string& out = Screen().Output();
        size_t n = 0;
        for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
        return n;
    }
    PtySession& Screen() { return caller_->session(); }

    std::unique_ptr<Caller> caller_;
};

TEST_F(MenuCall, TheTopMenuAsACallerSeesIt) {
    ASSERT_NO_FATAL_FAILURE(Start());
    PtySession& s = Call(1);
    ASSERT_TRUE(Next("Your choice: "));
    Settle();
    // The banner runs first (an AutoRun line), the level-10 caller sees
    // neither the sysop's line nor the one that needs flag A1, and the
    // ";" line shares its row with the next.
    const std::vector<std::string> rows = {
        "        Kivo Sample Board - hello, Terry!",
        " Main menu",
        "",
        "  M  Messages        (area: General)",
        "  F  Files           (area: Uploads)",
        "  U  Your settings",
        "  B  Bulletins",
        "  X  Texts to read",
        "  P  Page the sysop    C  Your call status",
        "  T  Talk to another line",
        "  N  USENET news       D  Doors         I  Information",
        "",
        "  G  Goodbye (log off)",
        "[60 min left] Your choice:",
    };
    for (size_t r = 0; r < rows.size(); ++r) EXPECT_EQ(s.Row(int(r)), rows[r]) << "row " << r << "\n" << s.Screen();

    // The title's background runs to column 79 and stops there.
    EXPECT_EQ(s.Cell(1, 0).bg, kBlue);
    EXPECT_EQ(s.Cell(1, 78).bg, kBlue);
    EXPECT_NE(s.Cell(1, 79).bg, kBlue);
    EXPECT_EQ(s.Cell(1, 1).fg, kWhite);
    EXPECT_TRUE(s.Cell(1, 1).bold);
    // "^" switches to the prompt's alternate pair and back.
    EXPECT_EQ(s.Cell(3, 2).fg, kYellow);
    EXPECT_TRUE(s.Cell(3, 2).bold);
    EXPECT_EQ(s.Cell(3, 5).fg, kWhite);
    EXPECT_FALSE(s.Cell(3, 5).bold);
    EXPECT_EQ(s.Cell(13, 0).fg, kYellow);   // "[60 min left]"
    EXPECT_EQ(s.Cell(13, 14).fg, kGreen);   // "Your choice:"
    EXPECT_TRUE(s.Cell(13, 14).bold);

    // Keys of hidden lines choose nothing; code 9 leaves with the goodbye screen.
    s.Send("s");
    s.Send("w");
    Settle();
    EXPECT_EQ(Count("Your choice: "), 1u);
    s.Send("g");
    ASSERT_TRUE(Next("Thank you for calling Kivo Sample Board.  Goodbye!"));
    EXPECT_EQ(s.Wait(), 1);
}

TEST_F(MenuCall, HotKeysChooseAtOnce) {
    ASSERT_NO_FATAL_FAILURE(Start());
    PtySession& s = Call(1);
    ASSERT_TRUE(Next("Your choice: "));
    s.Send("u");                       // lower case does
    ASSERT_TRUE(Next("Settings: "));
    EXPECT_NE(s.Screen().find("  L  Location          P  Password"), std::string::npos) << s.Screen();
    s.Send("z");                       // no such line: swallowed
    Settle();
    EXPECT_EQ(Count("Settings: "), 1u);
    s.Send("\r");                      // Enter alone draws the menu again
    ASSERT_TRUE(Next("Settings: "));
    s.Send("q");
    ASSERT_TRUE(Next("Your choice: "));

    // Typed while a menu is drawn, a key stops the drawing and is taken:
    // the settings menu is left before any of it shows.
    size_t settings = Count("Location");
    s.Send("uq");
    ASSERT_TRUE(Next("Your choice: "));
    Settle();
    EXPECT_EQ(Count("Location"), settings);
    EXPECT_EQ(Count("Settings: "), 2u);
    s.Send("g");
    EXPECT_EQ(s.Wait(), 1);
}

TEST_F(MenuCall, WithoutHotKeysEnterTakesTheLastKey) {
    UserRecord terry = User(1);
    terry.Options2 = 0;
    PutUser(1, terry);
    ASSERT_NO_FATAL_FAILURE(Start());
    PtySession& s = Call(1);
    ASSERT_TRUE(Next("Your choice: "));
    s.Send("\r");                      // nothing marked: ignored
    s.Send("mu");                      // each key replaces the one before
    ASSERT_TRUE(Next("\bM"));
    ASSERT_TRUE(Next("\bU"));
    Settle();
    EXPECT_EQ(s.Row(s.CursorRow()), "[60 min left] Your choice: U");
    s.Send("\r");
    ASSERT_TRUE(Next("Settings: "));
    s.Send("x\r");                     // a key of no line clears the mark
    Settle();
    EXPECT_EQ(Count("Settings: "), 1u);
    s.Send("q\r");
    ASSERT_TRUE(Next("Your choice: "));
    s.Send("g\r");
    EXPECT_EQ(s.Wait(), 1);
}

// A line above even the sysop's level: the sysop sees it only when started
// with -f and either on the console or with RemoteSysopMenus set (a
// pseudo-terminal is never the console).  Its key works only where it shows.
class HiddenLine : public MenuCall, public ::testing::WithParamInterface<const char*> {};

TEST_P(HiddenLine, ShownToTheSysopWithMinusFOnly) {
    MenuRecord hidden = Record(9, 'H', "  H  A way out above every level");
    hidden.MinLevel = 65000;
    WriteMenu("top.mnu", {Prompt("Choice: "), Record(0, 0, "Test menu"), hidden, Record(9, 'G', "  G  Goodbye")});
    const bool remoteMenus = std::string(GetParam()) == "1";
    board().Set("RemoteSysopMenus", GetParam());
    ASSERT_NO_FATAL_FAILURE(Start());
    for (bool minusF : {false, true}) {
        SCOPED_TRACE(minusF ? "-f" : "strict");
        const bool shown = minusF && remoteMenus;
        PtySession& s = Call(0, minusF ? std::vector<std::string>{"-f"} : std::vector<std::string>{});
        ASSERT_TRUE(Next("Choice: "));
        Settle();
        EXPECT_EQ(s.Screen().find("A way out") != std::string::npos, shown) << s.Screen();
        s.Send("h");
        if (!shown) {
            Settle();
            EXPECT_TRUE(s.Running());
            s.Send("g");
        }
        ASSERT_TRUE(Next("Goodbye!"));
        EXPECT_EQ(s.Wait(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(RemoteSysopMenus, HiddenLine, ::testing::Values("0", "1"),
                         [](const auto& info) { return std::string(info.param[0] == '1' ? "On" : "Off"); });

TEST_F(MenuCall, CallReturnRestartAndGoToThroughTheStack) {
    ASSERT_NO_FATAL_FAILURE(Start());
    PtySession& s = Call(0);
    ASSERT_TRUE(Next("Your choice: "));
    EXPECT_NE(s.Screen().find("  S  Sysop menu"), std::string::npos);
    EXPECT_EQ(s.Cell(11, 5).fg, kRed);
    s.Send("s");                       // call: the sysop menu on top
    ASSERT_TRUE(Next("Sysop: "));
    EXPECT_EQ(s.Row(0), " Sysop menu");
    s.Send("t");                       // restart at the top menu
    ASSERT_TRUE(Next("hello, Sam!"));
    ASSERT_TRUE(Next("Your choice: "));
    s.Send("m");                       // call: messages
    ASSERT_TRUE(Shown("Messages in General:"));
    s.Send("+");                       // go to: messages again, next area
    ASSERT_TRUE(Shown("Messages in Private mail:"));
    EXPECT_EQ(s.Row(0), " Messages - area Private mail");
    s.Send("-");
    ASSERT_TRUE(Shown("Messages in General:"));
    s.Send("++");
    ASSERT_TRUE(Shown("Messages in Internet mail:"));
    s.Send("q");                       // return: the top, with the area kept
    ASSERT_TRUE(Shown("(area: Internet mail)"));
    s.Send("g");
    ASSERT_TRUE(Next("Goodbye!"));
    EXPECT_EQ(s.Wait(), 1);
    // The sysop menu's AutoRun line wrote its visit into the log.
    std::string log = CallerLog();
    EXPECT_NE(log.find("Sysop menu, message area General"), std::string::npos) << log;
}

TEST_F(MenuCall, AMissingMenuSendsTheCallerBackToTheTop) {
    WriteMenu("top.mnu", {Prompt("Choice: "), Record(0, 0, "Test menu"),
                          Record(2, 'X', "  X  Nowhere", "nowhere /M=+"),
                          Record(1, 'L', "  L  Long name", "alongername"),
                          Record(9, 'G', "  G  Goodbye")});
    ASSERT_NO_FATAL_FAILURE(Start());
    PtySession& s = Call(1);
    ASSERT_TRUE(Next("Choice: "));
    s.Send("x");
    ASSERT_TRUE(Next("Menu nowhere.mnu cannot be found!"));
    Settle();
    EXPECT_TRUE(s.Running());
    s.Send(" ");                       // the key wait after the message
    ASSERT_TRUE(Next("Choice: "));
    // A name longer than a stack entry holds is cut, not copied past it.
    s.Send("l");
    ASSERT_TRUE(Next("Menu alongernam.mnu cannot be found!"));
    s.Send(" ");
    ASSERT_TRUE(Next("Choice: "));
    s.Send("g");
    EXPECT_EQ(s.Wait(), 1);
    std::string log = CallerLog();
    EXPECT_NE(log.find("Menu nowhere.mnu cannot be found!"), std::string::npos) << log;
    EXPECT_NE(log.find("Menu alongernam.mnu cannot be found!"), std::string::npos) << log;
}

// An AutoRun display file (code 40) takes the menu's keys; when none is
// pressed the prompt is asked at once, and Enter shows the file again.
TEST_F(MenuCall, AnAutoRunDisplayFileWithTheMenuKeys) {
    board().WriteFile(std::string(board().config().TextDir) + "/intro.asc", "The intro screen\n");
    MenuRecord intro = Record(40, 0, "", "intro");
    intro.AutoRun = 1;
    WriteMenu("top.mnu", {Prompt("Choice: "), intro, Record(9, 'G', "  G  Goodbye")});
    ASSERT_NO_FATAL_FAILURE(Start());
    PtySession& s = Call(1);
    ASSERT_TRUE(Next("The intro screen"));
    ASSERT_TRUE(Next("Choice: "));
    Settle();
    EXPECT_EQ(s.Screen().find("Goodbye"), std::string::npos) << s.Screen();  // never drawn
    s.Send("\r");
    ASSERT_TRUE(Next("The intro screen"));
    ASSERT_TRUE(Next("Choice: "));
    s.Send("g");
    ASSERT_TRUE(Next("Thank you for calling"));
    EXPECT_EQ(s.Wait(), 1);
}

}  // namespace
}  // namespace kv::test

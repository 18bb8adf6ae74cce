// The user list, the callers log, the credits and the usage graph as
// callers meet them: kivo on a pseudo-terminal against a real kvhubd, the
// board's clock set by the test, the files read back afterwards.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "caller/call/startup.h"
#include "caller/term/time_log.h"
#include "common/cp437.h"
#include "tests/support/caller_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

class ListsCall : public CallerTest {
protected:
    // A local time in March 2026.
    static time_t At(int day, int hour, int minute) { return LocalTime(2026, 3, day, hour, minute); }
    // A call at the board's clock, logged in.
    std::unique_ptr<Caller> LogIn(const std::string& name, const std::string& password) {
        auto c = Dial({}, ClockEnv());
        c->LogInAs(name, password);
        return c;
    }
    std::vector<std::string> Lines(const fs::path& file) {
        std::vector<std::string> out;
        std::string body = board().ReadFile(file), line;
        for (char ch : body) {
            if (ch != '\n') {
                line += ch;
                continue;
            }
            out.push_back(line);
            line.clear();
        }
        EXPECT_TRUE(line.empty()) << file << " ends without a line end";
        return out;
    }
};

// Users beyond the sample's two, for a list longer than a page.
void AddUsers(CallerTest& t, int count) {
    std::string bytes = t.UsersFile();
    for (int i = 1; i <= count; ++i) {
        UserRecord u;
        char name[32];
        std::snprintf(name, sizeof name, "Pat Number%02d", i);
        u.Name = name;
        u.Location = "Row " + std::to_string(i);
        u.SecurityLevel = 10;
        u.TotalCalls = uint32_t(i);
        u.LastCallDate = "01/02/24";
        u.LastCallTime = "12:00:00";
        UserBytes rec = EncodeUserRecord(u);
        bytes.append(reinterpret_cast<const char*>(rec.data()), rec.size());
    }
    t.board().WriteFile(t.board().DataDir() / "users.bbs", bytes);
}

TEST_F(ListsCall, UserListByPatternWithPagesAndStopKeys) {
    AddUsers(*this, 25);
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    auto list = [&](const std::string& pattern) {
        ASSERT_TRUE(c->Answer("Your choice: ", "i")) << c->Rest();
        ASSERT_TRUE(c->Answer("Information: ", "u")) << c->Rest();
        ASSERT_TRUE(c->Expect("Users as of ")) << c->Rest();
        ASSERT_TRUE(c->Answer("  : ", pattern + "\r")) << c->Rest();
    };
    auto more = [&](const std::string& key) { ASSERT_TRUE(c->Answer("-- More --", key)) << c->Rest(); };
    auto end = [&] {
        ASSERT_TRUE(c->Answer("Press any key to continue...", " ")) << c->Rest();
        ASSERT_TRUE(c->Answer("Information: ", "q")) << c->Rest();
    };

    // Everybody (the sysop too, the sample shows him): 21 lines a page;
    // the pause's stop key ends the list there.
    list("");
    ASSERT_TRUE(c->Expect("Sam Sysop")) << c->Rest();
    ASSERT_TRUE(c->Expect("Terry Tester             Testville")) << c->Rest();
    ASSERT_TRUE(c->Expect("Pat Number19")) << c->Rest();
    more("n");
    end();
    EXPECT_EQ(c->session().Output().find("Pat Number20"), std::string::npos);

    // One capital and "*": the names beginning with it (the first page
    // Pat Number01-21).  "S" typed after the pause's key stops the list
    // before the next line.
    list("P*");
    ASSERT_TRUE(c->Expect("Pat Number21")) << c->Rest();
    more(" s");
    end();
    EXPECT_EQ(c->session().Output().find("Pat Number22"), std::string::npos);

    // Lower case finds the capitalised name; after the pause the header
    // comes again, and "=" ends the pauses.
    list("number");
    ASSERT_TRUE(c->Expect("Pat Number21")) << c->Rest();
    more("=");
    ASSERT_TRUE(c->Expect("Name                     Location")) << c->Rest();
    ASSERT_TRUE(c->Expect("Pat Number22")) << c->Rest();
    ASSERT_TRUE(c->Expect("Pat Number25")) << c->Rest();
    end();
    list("ter");
    ASSERT_TRUE(c->Expect("Terry Tester")) << c->Rest();
    end();

    // Nothing matches: no header, the words that say so.
    list("zz");
    ASSERT_TRUE(c->Expect("Nobody matches.")) << c->Rest();
    EXPECT_EQ(c->Rest().find("Location"), std::string::npos);
    end();
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
}

// Two calls on a Tuesday, then a Wednesday; a week later the Wednesday
// file of the week before is set aside, not added to.
TEST_F(ListsCall, CallersLogByDayWithItsBackupAndTodaysList) {
    WriteTopMenu("Log menu: ", {{51, 'T', ""}, {51, 'L', "%"}, {51, 'Z', "0"}, {9, 'G', ""}});
    fs::path data = board().DataDir();
    StartBoard();
    auto call = [&](time_t start, int minutes, const std::string& name, const std::string& password,
                    const std::function<void(Caller&)>& during) {
        SetClock(start);
        auto c = LogIn(name, password);
        ASSERT_TRUE(c->Expect("Log menu: ")) << c->Rest();
        if (during) during(*c);
        SetClock(start + minutes * 60);
        c->Send("g");
        EXPECT_EQ(c->Wait(), 1) << c->Rest();
    };

    // Tuesday: Terry, then the sysop (ShowSysop is set), both on line 0.
    call(At(3, 10, 0), 5, "terry tester", "keyboard", nullptr);
    devices_.clear();
    call(At(3, 11, 0), 2, "sam sysop", "lighthouse", nullptr);
    std::vector<std::string> tuesday = Lines(data / "tue_call.tdy");
    ASSERT_EQ(tuesday.size(), 2u);
    EXPECT_EQ(tuesday[0], "Terry Tester|0|38400|10:00:00|10:05:00|1|Testville");
    EXPECT_TRUE(tuesday[1].starts_with("Sam Sysop|0|38400|11:00:00|11:02:00|")) << tuesday[1];

    // Wednesday: the first call sets Tuesday aside and finds nobody today.
    devices_.clear();
    call(At(4, 9, 0), 10, "terry tester", "keyboard", [](Caller& c) {
        c.Send("t");
        ASSERT_TRUE(c.Expect("Nobody has called today.")) << c.Rest();
    });
    EXPECT_FALSE(fs::exists(data / "tue_call.tdy"));
    EXPECT_EQ(Lines(data / "tue_call.tdy.B"), tuesday);
    // The sysop lists them on line 1 (a caller still at the log-in holds
    // line 0): every line, his own line, line 0.
    devices_.clear();
    auto idle = Dial({}, ClockEnv());
    ASSERT_TRUE(idle->Expect("Your full name: ")) << idle->Rest();
    call(At(4, 9, 30), 1, "sam sysop", "lighthouse", [](Caller& c) {
        c.Send("t");
        ASSERT_TRUE(c.Expect("Today's callers of Kivo Sample Board")) << c.Rest();
        ASSERT_TRUE(c.Expect("Terry Tester")) << c.Rest();
        ASSERT_TRUE(c.Expect("0       38400     09:00  09:10    2      Testville")) << c.Rest();
        ASSERT_TRUE(c.Answer("Press a key to go on.", " ")) << c.Rest();
        c.Send("l");
        ASSERT_TRUE(c.Expect("Press a key to go on.")) << c.Rest();
        EXPECT_EQ(c.Rest().find("Terry"), std::string::npos);
        c.Send(" z");
        ASSERT_TRUE(c.Expect("Terry Tester")) << c.Rest();
        ASSERT_TRUE(c.Answer("Press a key to go on.", " ")) << c.Rest();
        ASSERT_TRUE(c.Expect("Log menu: ")) << c.Rest();
    });
    std::vector<std::string> wednesday = Lines(data / "wed_call.tdy");
    ASSERT_EQ(wednesday.size(), 2u);
    EXPECT_EQ(wednesday[0], "Terry Tester|0|38400|09:00:00|09:10:00|2|Testville");

    // The next Wednesday, after days without calls.
    devices_.clear();
    call(At(11, 8, 0), 1, "terry tester", "keyboard", nullptr);
    EXPECT_EQ(Lines(data / "wed_call.tdy.B"), wednesday);
    std::vector<std::string> week = Lines(data / "wed_call.tdy");
    ASSERT_EQ(week.size(), 1u);
    EXPECT_TRUE(week[0].starts_with("Terry Tester|0|38400|08:00:00|08:01:00|")) << week[0];
}

TEST_F(ListsCall, CreditsBoxedWithClearScreenPlainWithout) {
    StartBoard();
    std::string banner = caller::ProgramBanner();
    for (bool clear : {true, false}) {
        SCOPED_TRACE(clear ? "boxed" : "plain");
        UserRecord terry = User(1);
        terry.Options = clear ? uint8_t(terry.Options | USER_CLEAR_SCREEN) : uint8_t(terry.Options & ~USER_CLEAR_SCREEN);
        PutUser(1, terry);
        devices_.clear();
        auto c = Dial();
        c->LogInAs("terry tester", "keyboard");
        ASSERT_TRUE(c->Answer("Your choice: ", "i")) << c->Rest();
        ASSERT_TRUE(c->Answer("Information: ", "c")) << c->Rest();
        ASSERT_TRUE(c->Expect("Press any key to continue...")) << c->Rest();
        PtySession& s = c->session();
        if (clear) {
            // The frame from column 1 to 78, rows 1 to 16; the banner
            // centred on row 3, the credits from column 16, row 7.
            EXPECT_EQ(s.Row(0), "┌" + std::string() + [] {
                std::string line;
                for (int i = 0; i < 76; ++i) line += "─";
                return line;
            }() + "┐");
            EXPECT_EQ(s.Row(2), "│" + std::string(36 - banner.size() / 2, ' ') + banner +
                                    std::string(76 - (36 - banner.size() / 2) - banner.size(), ' ') + "│");
            EXPECT_TRUE(s.Row(6).starts_with("│" + std::string(14, ' ') + "Kivo, a multi-line")) << s.Screen();
            EXPECT_EQ(s.Row(13).find("Press any key to continue..."), 15u + 2);  // "│" is 3 bytes
        } else {
            EXPECT_TRUE(s.WaitForText(std::string(18, ' ') + std::string(44, '-'))) << s.Screen();
            EXPECT_TRUE(s.WaitForText(std::string(19, ' ') + banner)) << s.Screen();
            EXPECT_TRUE(s.WaitForText(std::string(19, ' ') + "Press any key to continue...")) << s.Screen();
        }
        c->Send(" ");
        ASSERT_TRUE(c->Answer("Information: ", "q")) << c->Rest();
        ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
        EXPECT_EQ(c->Wait(), 1) << c->Rest();
    }
}

// A caller on a UTF-8 terminal sees the credits box drawn cell by cell as
// an 8-bit terminal draws it; the 8-bit line still gets the PC bytes, and
// the UTF-8 line exactly their translation and nothing else.
TEST_F(ListsCall, CreditsBoxOnAUtf8Terminal) {
    StartBoard();
    UserRecord terry = User(1);
    terry.Options = uint8_t(terry.Options | USER_CLEAR_SCREEN);
    PutUser(1, terry);
    std::string sent[2];
    for (bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "UTF-8" : "8-bit");
        devices_.clear();
        auto c = Dial({}, {}, utf8);
        c->LogInAs("terry tester", "keyboard");
        ASSERT_TRUE(c->Answer("Your choice: ", "i")) << c->Rest();
        ASSERT_TRUE(c->Expect("Information: ")) << c->Rest();
        PtySession& s = c->session();
        const size_t from = s.Output().size();
        c->Send("c");
        ASSERT_TRUE(c->Expect("Press any key to continue...")) << c->Rest();
        sent[utf8] = s.Output().substr(from, s.Output().find("Press any key", from) - from);
        if (utf8) {
            // Rows 1-16, columns 1-78 of the box, 0-based here.
            auto at = [&](int row, int col) { return s.Cell(row, col).text; };
            EXPECT_EQ(at(0, 0), "┌");
            EXPECT_EQ(at(0, 77), "┐");
            EXPECT_EQ(at(15, 0), "└");
            EXPECT_EQ(at(15, 77), "┘");
            for (int col = 1; col < 77; ++col) {
                EXPECT_EQ(at(0, col), "─") << col;
                EXPECT_EQ(at(15, col), "─") << col;
            }
            for (int row = 1; row < 15; ++row) {
                EXPECT_EQ(at(row, 0), "│") << row;
                EXPECT_EQ(at(row, 77), "│") << row;
            }
            std::string banner = caller::ProgramBanner();
            EXPECT_EQ(s.Row(2).find(banner), 3 + 36 - banner.size() / 2);  // "│" is 3 bytes
        }
        c->Send(" ");
        ASSERT_TRUE(c->Answer("Information: ", "q")) << c->Rest();
        ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
        EXPECT_EQ(c->Wait(), 1) << c->Rest();
    }
    EXPECT_NE(sent[0].find("\xDA\xC4\xC4\xC4"), std::string::npos);
    EXPECT_EQ(Cp437ToUtf8(sent[0]), sent[1]);
}

// The graph of line 0 from a time log the test wrote: 6000 minutes at
// 14:00 (100 hours, the top label 1.0) and 2000 at 09:00 (6 of 20 rows).
TEST_F(ListsCall, UsageGraphFromTheTimeLog) {
    caller::TimeLogRecord log;
    log.Date = "03/01/26";
    log.Hours[14] = 6000;
    log.Hours[9] = 2000;
    auto bytes = EncodeRecord(log);
    board().WriteFile(board().DataDir() / "timelog0.bbs", std::string(bytes.begin(), bytes.end()));
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(c->Answer("Your choice: ", "i")) << c->Rest();
    ASSERT_TRUE(c->Answer("Information: ", "g")) << c->Rest();
    ASSERT_TRUE(c->Expect("Press any key to continue...")) << c->Rest();
    PtySession& s = c->session();
    ASSERT_TRUE(s.WaitForText("Press any key to continue..."));

    auto repeat = [](const std::string& piece, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += piece;
        return out;
    };
    std::string axis = "    └──";
    for (int pos = 0; pos < 71; ++pos) axis += pos % 3 ? "─" : (pos / 3 % 4 == 0 ? "╨" : "┴");
    const std::vector<std::string> want = {
        "    Minutes of calls by hour, 03/01/26 to " + Today() + ", line 0",
        "1.0 │" + std::string(44, ' ') + "█",  // row 19: hour 14 alone
        "    │" + std::string(44, ' ') + "█",
    };
    for (size_t r = 0; r < want.size(); ++r) EXPECT_EQ(s.Row(int(r)), want[r]) << "row " << r << "\n" << s.Screen();
    EXPECT_EQ(s.Row(11), "0.5 │──" + repeat("───", 14) + "█──" + repeat("───", 9)) << s.Screen();  // row 9
    EXPECT_EQ(s.Row(14), "    │" + std::string(44, ' ') + "█") << s.Screen();  // row 6
    EXPECT_EQ(s.Row(15), "    │" + std::string(29, ' ') + "█" + std::string(14, ' ') + "█") << s.Screen();
    EXPECT_EQ(s.Row(20), "    │" + std::string(29, ' ') + "█" + std::string(14, ' ') + "█") << s.Screen();
    EXPECT_EQ(s.Row(21), axis) << s.Screen();
    EXPECT_EQ(s.Row(22), "       0           4           8           12          16          20       23");
    c->Send(" ");

    // "S" typed ahead stops the graph before its hour axis.
    ASSERT_TRUE(c->Answer("Information: ", "gs")) << c->Rest();
    ASSERT_TRUE(c->Expect("Press any key to continue...")) << c->Rest();
    std::string out = c->session().Output();
    size_t title = out.rfind("Minutes of calls by hour");
    ASSERT_NE(title, std::string::npos);
    EXPECT_EQ(out.find("12          16", title), std::string::npos);
    c->Send(" ");
    ASSERT_TRUE(c->Answer("Information: ", "q")) << c->Rest();
    ASSERT_TRUE(c->LogOffAtMenu()) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
}

// Another line's graph: line 3 never had a call, so its time log is made
// with nothing counted, and the graph says so.
TEST_F(ListsCall, UsageGraphOfALineWithoutCalls) {
    WriteTopMenu("Graph menu: ", {{10, 'A', "3"}, {9, 'G', ""}});
    StartBoard();
    auto c = Dial();
    c->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(c->Answer("Graph menu: ", "a")) << c->Rest();
    ASSERT_TRUE(c->Expect("No calls have been counted on this line yet.")) << c->Rest();
    ASSERT_TRUE(c->Answer("Press any key to continue...", " ")) << c->Rest();
    ASSERT_TRUE(c->Answer("Graph menu: ", "g")) << c->Rest();
    EXPECT_EQ(c->Wait(), 1) << c->Rest();
    std::string bytes = board().ReadFile(board().DataDir() / "timelog3.bbs");
    ASSERT_EQ(bytes.size(), caller::TimeLogRecord::kSize);
    caller::TimeLogRecord log;
    DecodeRecord(reinterpret_cast<const uint8_t*>(bytes.data()), log);
    EXPECT_EQ(log.Date, Today());
    EXPECT_EQ(log.Hours, caller::TimeLogRecord{}.Hours);
}

}  // namespace
}  // namespace kv::test

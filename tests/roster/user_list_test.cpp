// The user files under kvroster: the list in its layouts, moving through
// it, the record form's editors with the files read back byte for byte,
// an empty file, and a caller registering while the sysop edits.
#include <fcntl.h>
#include <unistd.h>

#include "roster/user_base.h"
#include "tests/roster/roster_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

std::string Repeat(const std::string& keys, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += keys;
    return out;
}

TEST(RosterRows, FieldsStandInTheirColumnsAndAreCutThere) {
    UserRecord r = Person(3);
    r.Name = std::string(30, 'N');
    r.SecurityLevel = 64000;
    r.TotalCalls = 4000000000u;
    r.Credit = -5;
    roster::ListRow row = roster::FormatListRow(true, r, 0);
    ASSERT_EQ(row.text.size(), 76u);
    EXPECT_TRUE(row.marked);
    EXPECT_FALSE(row.deleted);
    EXPECT_EQ(row.text.substr(3, 24), std::string(23, 'N') + " ");
    EXPECT_EQ(row.text.substr(27, 10), "64000     ");
    EXPECT_EQ(row.text.substr(37, 8), "4000000 ") << "a number is cut before the next column";
    EXPECT_EQ(row.text.substr(45, 18), "24/01/02 10:11:12 ");
    EXPECT_EQ(row.text.substr(63, 2), "-5");
    EXPECT_EQ(roster::FormatListRow(false, r, 2).text.substr(36, 8), "11000000");
    EXPECT_EQ(roster::FormatListRow(false, r, 3).text.substr(33, 8), "No  Yes ");
    r.Location = std::string(20, 'L');
    EXPECT_EQ(roster::FormatListRow(false, r, 4).text.substr(27, 18), std::string(17, 'L') + " ");
}

TEST(RosterRows, AliasSuggestionEscapeCodesAndTheWriteBackMerge) {
    EXPECT_EQ(roster::SuggestAlias("John Smith"), "jsmith");
    EXPECT_EQ(roster::SuggestAlias("Bartholomew"), "bartholo");
    EXPECT_EQ(roster::SuggestAlias("Al Longfellowson"), "alongfel");

    const std::pair<const char*, float> amounts[] = {
        {"12.50", 12.5f}, {"1e9", 99999.99f}, {"-5", 0}, {"nan", 0}, {"-nan", 0}, {"inf", 99999.99f}, {"abc", 0},
    };
    for (const auto& [typed, want] : amounts) EXPECT_EQ(roster::AmountFromText(typed), want) << typed;

    UserRecord esc = Person(1);
    esc.ClearScreenCodes.fill(7);
    esc.ClearScreenLength = 2;  // was 5: bytes 2-14 go
    roster::TrimClearScreenCodes(esc);
    EXPECT_EQ(esc.ClearScreenCodes, (std::array<uint8_t, 15>{7, 7}));
    esc.ClearScreenLength = 200;  // never read past the field
    roster::TrimClearScreenCodes(esc);
    EXPECT_EQ(esc.ClearScreenLength, 15);

    UserRecord original = Person(1), edited = original, onDisk = original;
    edited.Location = "Elsewhere";   // the sysop's change
    onDisk.TotalCalls += 1;          // a caller's log-off meanwhile
    onDisk.LastCallTime = "23:59:00";
    UserRecord merged = roster::MergeEdits(onDisk, original, edited);
    EXPECT_EQ(merged.Location, "Elsewhere");
    EXPECT_EQ(merged.TotalCalls, original.TotalCalls + 1);
    EXPECT_EQ(merged.LastCallTime, "23:59:00");
}

TEST_F(RosterUsersTest, BrowseShowsEachLayoutPagesAndJumps) {
    WriteUsers(30);
    auto s = StartBrowsing();
    ASSERT_TRUE(s->WaitForText("User 11"));
    EXPECT_EQ(s->Screen().find("User 12 "), std::string::npos) << "twelve rows from record 0";
    const char* headers[] = {
        "U/L K . U/L S . D/L K", "Flag A .. Flag B", "S/L . Del Cls Brk", "Location ........ Data", "Level ... Calls",
    };
    for (const char* h : headers) {
        s->Send("t");
        EXPECT_TRUE(s->WaitForText(h)) << h;
    }
    s->Send("]");  // twelve on
    ASSERT_TRUE(s->WaitForText(" 12    User 12"));
    s->Send("}");  // the last record
    ASSERT_TRUE(s->WaitForText(" 29    User 29"));
    s->Send("7\r");  // the jump popup, pre-filled with the digit
    ASSERT_TRUE(s->WaitForText(" 7     User 7 "));
    s->Send(" ");  // marks 7 and moves on
    ASSERT_TRUE(s->WaitForText(" 8     User 8 "));
    EXPECT_TRUE(s->WaitForText("√ User 7 ")) << s->Screen();
    s->Send("d");  // record 8 deleted at once
    ASSERT_TRUE(s->WaitForText("φUser 8 "));
    EXPECT_EQ(Record(8).Options, USER_CLEAR_SCREEN | USER_DELETED);
    s->Send("\x1b");
    Quit(*s);
}

// After a jump in a short list or a page back from near the top, the
// lit row is the current record's own row of the page, and the page holds
// each record once, in order.
TEST_F(RosterUsersTest, TheLitRowIsTheCurrentRecordsRowAfterAJumpOrAPageBack) {
    struct Case {
        const char* what;
        int users;
        std::string keys;
        int current;  // the page then starts at 0
    } cases[] = {
        {"jump in a short list", 3, "2\r", 2},
        {"and up from there", 3, "2\r\x1bOA", 1},
        {"page back from the second page", 30, Repeat("\x1bOB", 15) + "[", 3},
    };
    const int firstRow = 7;  // the list's first row on the screen
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteUsers(c.users);
        auto s = StartBrowsing();
        // 't' last: its column header shows that every key before it was
        // taken, so a page passed on the way does not count.
        s->Send(c.keys + "t");
        auto name = [](int n) { return n == 0 ? std::string("Sam Sysop ") : "User " + std::to_string(n) + " "; };
        auto settled = [&] {
            if (s->Screen().find("U/L K . U/L S") == std::string::npos) return false;
            for (int i = 0; i < 12; ++i) {
                const std::string row = s->Row(firstRow + i);
                const bool lit = s->Cell(firstRow + i, 5).reverse;
                const bool shown = i < c.users && row.find(name(i)) != std::string::npos;
                const bool blank = i >= c.users && row.find("User") == std::string::npos;
                if (!(shown || blank) || lit != (i == c.current)) return false;
            }
            return true;
        };
        EXPECT_TRUE(s->WaitFor(settled)) << s->Screen();
        s->Send("\x1b");
        Quit(*s);
    }
}

// Ctrl-L paints the terminal again whole: what another program wrote on
// it goes, in the menu, the list and the form.
TEST_F(RosterUsersTest, CtrlLClearsWhatElseWroteOnTheTerminal) {
    WriteUsers(3);
    struct Case {
        const char* what;
        std::string keys, shown;
    } cases[] = {
        {"main menu", "", " Browse "},
        {"browse list", "\r", "<F2/Find/Tog/Del/Val>"},
        {"record form", "\r\r", "Editing Record no. 0 of 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto s = Start();
        ASSERT_TRUE(s->WaitForText(" Browse "));
        s->Send(c.keys);
        ASSERT_TRUE(s->WaitForText(c.shown));
        const std::string garbage = "\x1b[6;5HGARBAGE ON THE LINE";
        int tty = open(s->SlavePath().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(tty, 0);
        EXPECT_EQ(write(tty, garbage.data(), garbage.size()), ssize_t(garbage.size()));
        close(tty);
        ASSERT_TRUE(s->WaitForText("GARBAGE ON THE LINE"));
        s->Send("\x0c");
        EXPECT_TRUE(s->WaitFor([&] {
            return s->Screen().find("GARBAGE") == std::string::npos && s->Screen().find(c.shown) != std::string::npos;
        })) << s->Screen();
        s->Send(c.keys == "" ? "" : c.keys == "\r" ? "\x1b" : "\x1b\x1b");
        Quit(*s);
    }
}

TEST_F(RosterUsersTest, TheFormEditsEachKindOfFieldAndNothingElse) {
    WriteUsers(4);
    const std::string usersBefore = ReadAll(UsersFile()), lastBefore = ReadAll(LastReadFile());
    auto s = StartBrowsing();
    s->Send("\x1bOB\r");  // record 1 into the form
    ASSERT_TRUE(s->WaitForText("Editing Record no. 1 of 4"));
    struct Step {
        const char* what;
        std::string keys, expect;
    } steps[] = {
        {"location (text)", "\x1bOB\r" + std::string(6, '\x7f') + "far away\r", "Far Away"},  // capitalised
        {"level (number)", "\t\r70000\r", "64000"},                                 // field 3, clamped
        {"last date (date text)", "\x1bOB\x1bOB\r" + std::string(8, '\x7f') + "24/02/29\r", "24/02/29"},           // field 7
        {"screen length (4 bytes)", "\x1bOF\x1bOD\x1bOD\r60\r", "60"},               // field 20
        {"flags", "f\x1bOB\r \r\x1b", "10000000"},                                  // set B, first bit
        {"attributes", "a\t\t\t \x1b", "Del Cls Brk Ans"},                          // ANSI on
        {"scan areas", "c\r", "OFF"},                                       // area 1 off
    };
    for (const Step& st : steps) {
        s->Send(st.keys);
        EXPECT_TRUE(s->WaitForText(st.expect)) << st.what << "\n" << s->Screen();
    }
    s->Send("\x1bl\r77\r\x1b");  // the last-read screen saves by itself
    ASSERT_TRUE(s->WaitForText("Save the modifications ?"));
    s->Send("y");
    s->Send("\x1b");
    ASSERT_TRUE(s->WaitForText("Save MODIFIED record"));
    s->Send("y");
    ASSERT_TRUE(s->WaitForText("Browse the list to select a record"));
    s->Send("\x1b");
    Quit(*s);

    UserRecord want = Person(1);
    want.Location = "Far Away";
    want.SecurityLevel = 64000;
    want.LastCallDate = "24/02/29";
    want.ScreenLength = 60;
    want.Flags[1] = 0x01;
    want.Options |= USER_ANSI;
    want.ScanAreas[0] = 0xfe;
    UserBytes wantBytes = EncodeUserRecord(want);
    std::string usersAfter = ReadAll(UsersFile());
    ASSERT_EQ(usersAfter.size(), usersBefore.size());
    EXPECT_EQ(usersAfter.substr(0, kUserRecordSize), usersBefore.substr(0, kUserRecordSize));
    EXPECT_EQ(usersAfter.substr(kUserRecordSize, kUserRecordSize),
              std::string(reinterpret_cast<const char*>(wantBytes.data()), wantBytes.size()));
    EXPECT_EQ(usersAfter.substr(2 * kUserRecordSize), usersBefore.substr(2 * kUserRecordSize));

    std::string lastAfter = ReadAll(LastReadFile());
    ASSERT_EQ(lastAfter.size(), lastBefore.size());
    LastReadRecord lr;
    DecodeRecord(reinterpret_cast<const uint8_t*>(lastAfter.data()) + 400, lr);
    EXPECT_EQ(lr.LastRead[0], 77u);
    EXPECT_EQ(lastAfter.substr(0, 400) + lastAfter.substr(404), lastBefore.substr(0, 400) + lastBefore.substr(404));
}

// Enter on a number without typing leaves it as it was, even one wider
// than its field (shown as it fits): on the form, the extended screen and
// the last-read screen, with both files read back byte for byte.
TEST_F(RosterUsersTest, EnterOnAnUntypedNumberLeavesItAsItWas) {
    WriteUsers(3);
    UserRecord wide = Person(1);
    wide.Credit = 123456;          // a field of 5
    wide.TotalCalls = 1234567;     // 6
    wide.CallsToday = 5000;        // 3
    wide.ScreenLength = 123;       // 2
    wide.ClearScreenLength = 2;
    wide.ClearScreenCodes[0] = 27;
    wide.ClearScreenCodes[1] = 200;
    wide.AmountPaid = 123456.78f;  // 8 on the extended screen
    LastReadRecord lr;
    lr.LastRead[0] = 123456;       // 5 on the last-read screen
    {
        UserBytes ub = EncodeUserRecord(wide);
        std::fstream f(UsersFile(), std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(kUserRecordSize);
        f.write(reinterpret_cast<const char*>(ub.data()), std::streamsize(ub.size()));
        auto lb = EncodeRecord(lr);
        std::fstream l(LastReadFile(), std::ios::binary | std::ios::in | std::ios::out);
        l.seekp(400);
        l.write(reinterpret_cast<const char*>(lb.data()), std::streamsize(lb.size()));
    }
    const std::string usersBefore = ReadAll(UsersFile()), lastBefore = ReadAll(LastReadFile());

    auto s = StartBrowsing();
    s->Send("\x1bOB\r");  // record 1 into the form
    ASSERT_TRUE(s->WaitForText("Editing Record no. 1 of 3"));
    // Enter twice on every number of the form (the escape bytes: once more
    // for the second byte), the cursor left on the last field.
    std::string keys;
    for (int field = 0; field <= 23; ++field) {
        const bool text = field <= 2 || (field >= 6 && field <= 9);
        if (!text) keys += field == 23 ? "\r\r\r" : "\r\r";
        if (field < 23) keys += "\t";
    }
    s->Send(keys);
    s->Send("\x06" "2");  // the extended screen: the amount paid
    ASSERT_TRUE(s->WaitForText("UUCP Alias"));
    s->Send("\x1bOB\x1bOB\r\r\x1bOB");
    EXPECT_TRUE(s->WaitFor([&] { return s->Cell(12, 10).text == ">"; })) << s->Screen();
    EXPECT_NE(s->Screen().find("Ammount Paid so far      : 123456.78 "), std::string::npos) << s->Screen();
    s->Send("\x1b");
    s->Send("l\r\r\x1b");  // the last-read number of area 1
    ASSERT_TRUE(s->WaitForText("Save the modifications ?"));
    EXPECT_NE(s->Row(9).find("123456"), std::string::npos) << s->Screen();
    s->Send("y");
    s->Send("\x1b");
    ASSERT_TRUE(s->WaitForText("Save MODIFIED record"));
    s->Send("y");
    ASSERT_TRUE(s->WaitForText("Browse the list to select a record"));
    // The list shows the record as written: calls and credit whole.
    EXPECT_TRUE(s->WaitFor([&] {
        const std::string row = s->Row(8);
        return row.find("User 1") != std::string::npos && row.find(" 1234567 ") != std::string::npos &&
               row.find(" 123456 ") != std::string::npos;
    })) << s->Screen();
    s->Send("\x1b");
    Quit(*s);
    EXPECT_EQ(ReadAll(UsersFile()), usersBefore);
    EXPECT_EQ(ReadAll(LastReadFile()), lastBefore);
}

// The sysop changes one area's last-read number while the user's log-off
// writes new numbers for other areas: both are kept.
TEST_F(RosterUsersTest, ALastReadSaveKeepsWhatALogOffWroteMeanwhile) {
    WriteUsers(3);
    auto s = StartBrowsing();
    s->Send("\x1bOB\r");  // record 1 into the form
    ASSERT_TRUE(s->WaitForText("Editing Record no. 1 of 3"));
    s->Send("l");
    ASSERT_TRUE(s->WaitForText(" LastRead "));
    LastReadRecord loggedOff;
    loggedOff.LastRead[0] = 1;
    loggedOff.LastRead[1] = 777;
    loggedOff.LastRead[99] = 5;
    {
        auto bytes = EncodeRecord(loggedOff);
        std::fstream f(LastReadFile(), std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(400);
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    s->Send("\r55\r\x1b");  // area 1
    ASSERT_TRUE(s->WaitForText("Save the modifications ?"));
    s->Send("y");
    s->Send("\x1b\x1b");
    Quit(*s);
    const std::string last = ReadAll(LastReadFile());
    ASSERT_EQ(last.size(), 3 * 400u);
    LastReadRecord lr;
    DecodeRecord(reinterpret_cast<const uint8_t*>(last.data()) + 400, lr);
    LastReadRecord want = loggedOff;
    want.LastRead[0] = 55;
    EXPECT_EQ(lr.LastRead, want.LastRead);
}

TEST_F(RosterUsersTest, AnEmptyUsersFileShowsAnEmptyList) {
    WriteUsers(0);
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    s->Send("\r");
    ASSERT_TRUE(s->WaitForText("No user record to browse"));
    s->Send("\t\r");  // " Next " beeps and does nothing
    Quit(*s);
    EXPECT_EQ(fs::file_size(UsersFile()), 0u);
}

TEST_F(RosterUsersTest, ACallerRegisteringOrLoggingOffMeanwhileIsKept) {
    WriteUsers(3);
    auto s = StartBrowsing();
    s->Send("\x1bOB\r");
    ASSERT_TRUE(s->WaitForText("Editing Record no. 1 of 3"));
    // Meanwhile a caller registers and user 1 logs off.
    UserRecord fresh = Person(3);
    fresh.Name = "New Caller";
    UserBytes fb = EncodeUserRecord(fresh);
    std::ofstream(UsersFile(), std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(fb.data()), std::streamsize(fb.size()));
    {
        std::fstream f(UsersFile(), std::ios::binary | std::ios::in | std::ios::out);
        UserRecord after = Person(1);
        after.TotalCalls = 999;
        UserBytes ab = EncodeUserRecord(after);
        f.seekp(kUserRecordSize);
        f.write(reinterpret_cast<const char*>(ab.data()), std::streamsize(ab.size()));
    }
    s->Send("\x1bOB\r" + std::string(6, '\x7f') + "north\r\x1b");
    ASSERT_TRUE(s->WaitForText("Save MODIFIED record"));
    s->Send("y");
    ASSERT_TRUE(s->WaitForText("Browse the list to select a record"));
    s->Send("}");
    EXPECT_TRUE(s->WaitForText(" 3     New Caller")) << "the new record is in the list";
    s->Send("\x1b");
    Quit(*s);
    ASSERT_EQ(fs::file_size(UsersFile()), 4 * kUserRecordSize);
    EXPECT_EQ(Record(1).Location, "North");
    EXPECT_EQ(Record(1).TotalCalls, 999u);
    EXPECT_EQ(Record(3).Name, "New Caller");
}

TEST_F(RosterUsersTest, AnAliasInUseElsewhereIsRefused) {
    WriteUsers(3);
    auto s = StartBrowsing();
    s->Send("\x1bOB\x06" "2");  // record 1, then F2 as Ctrl-F and 2
    ASSERT_TRUE(s->WaitForText("UUCP Alias")) << s->Screen();
    s->Send("\x1bOB\x1bOB\x1bOB\x1bOB\x1bOB\r");
    ASSERT_TRUE(s->WaitForText("u1"));  // the suggestion from "User 1"
    s->Send("\x7f\x7fSYSOP\r");
    ASSERT_TRUE(s->WaitForText("This ALIAS is already in use (record #0)"));
    s->Send(" ");
    s->Send("\r\x1b");  // the suggestion taken
    ASSERT_TRUE(s->WaitForText("Save MODIFIED record"));
    s->Send("y\x1b");
    Quit(*s);
    EXPECT_EQ(Record(1).Alias, "u1");
    EXPECT_EQ(Record(0).Alias, "sysop");
}

}  // namespace
}  // namespace kv::test

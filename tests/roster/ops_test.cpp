// Finding, marking, reordering, packing and the global edit: the rules as
// plain functions, then the commands run on the screen with both user files
// read back, a rewrite that fails or is killed half-way, and the refusal
// while a caller is on line.
#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include <fmt/printf.h>

#include "common/msgbase.h"
#include "common/online_status.h"
#include "common/runtime.h"
#include "common/users.h"
#include "roster/user_ops.h"
#include "tests/roster/roster_fixture.h"

namespace kv::test {
namespace {

using roster::IndexEntry;
using roster::SearchCriteria;

IndexEntry Entry(int number, const UserRecord& r, int keyType) {
    IndexEntry e;
    e.RecordNumber = number;
    roster::SetKey(e.Key, keyType, r);
    return e;
}

TEST(RosterFind, EachCriterionMatchesItsField) {
    UserRecord r = Person(1);
    r.Name = "John Smith";
    r.Location = "Springfield";
    r.DataPhone = "555-0101";
    r.SecurityLevel = 64000;
    r.Flags = {0, 0x81, 0, 0};
    struct Case {
        const char* what;
        int field, op;
        std::string value;
        bool match;
    } cases[] = {
        {"part of a name, capitalised", roster::kFindName, 0, "smi", true},
        {"a name wildcard", roster::kFindName, 0, "J*th", true},
        {"another name", roster::kFindName, 0, "brown", false},
        {"location", roster::kFindLocation, 0, "field", true},
        {"phone part", roster::kFindDataPhone, 0, "0101", true},
        {"phone wildcard", roster::kFindDataPhone, 0, "555-0?0?", true},
        {"date", roster::kFindDate, 0, "24/01", true},
        {"date elsewhere", roster::kFindDate, 0, "99/", false},
        {"level greater than 63999", roster::kFindLevel, roster::kGreater, "63999", true},
        {"level less than", roster::kFindLevel, roster::kLess, "64000", false},
        {"level equal", roster::kFindLevel, roster::kEqual, "64000", true},
        {"calls different", roster::kFindLevel + 1, roster::kDifferent, "101", false},
        {"calls at least", roster::kFindLevel + 1, roster::kGreaterEqual, "101", true},
    };
    for (const Case& c : cases) {
        SearchCriteria sc;
        sc.Field = c.field;
        sc.Operator = c.op;
        sc.Value = c.value;
        EXPECT_EQ(roster::MatchRecord(Entry(1, r, c.field + 1), sc), c.match) << c.what;
    }
    SearchCriteria flags;
    flags.Field = roster::kFindFlags;
    flags.FlagSet = 1;
    flags.FlagValue = 0x81;
    EXPECT_TRUE(roster::MatchRecord(Entry(1, r, 7), flags));
    flags.FlagValue = 0x80;
    EXPECT_FALSE(roster::MatchRecord(Entry(1, r, 7), flags)) << "the whole byte must be equal";
}

TEST(RosterSort, OrdersKeepTheSysopFirstAndBreakTiesByName) {
    std::vector<UserRecord> rs = {Person(0), Person(1), Person(2), Person(3), Person(4)};
    rs[0].SecurityLevel = 10;
    rs[1].SecurityLevel = 63999;
    rs[2].SecurityLevel = 64000;
    rs[3].SecurityLevel = 50;
    rs[4].SecurityLevel = 50;
    rs[3].Name = "Zed";
    rs[4].Name = "Abe";
    roster::NameTable names;
    std::vector<IndexEntry> index;
    for (int i = 0; i < 5; ++i) {
        names.push_back(rs[size_t(i)].Name);
        index.push_back(Entry(i, rs[size_t(i)], roster::kKeyLevel));
    }
    roster::SortIndex(index, roster::kKeyLevel, 0, names);
    std::vector<int> got;
    for (const IndexEntry& e : index) got.push_back(e.RecordNumber);
    EXPECT_EQ(got, (std::vector<int>{0, 2, 1, 4, 3}));

    // Month/day/year: the last call on 12/31/95 comes after one on 01/02/96.
    rs[1].LastCallDate = "12/31/95";
    rs[2].LastCallDate = "01/02/96";
    rs[3].LastCallDate = "01/02/96";
    rs[3].LastCallTime = "23:00:00";
    index = {Entry(0, rs[0], 6), Entry(1, rs[1], 6), Entry(2, rs[2], 6), Entry(3, rs[3], 6)};
    roster::SortIndex(index, roster::kKeyDate, 1, names);
    got.clear();
    for (const IndexEntry& e : index) got.push_back(e.RecordNumber);
    EXPECT_EQ(got, (std::vector<int>{0, 3, 2, 1}));
}

// Every order beside a plain stable sort of the same keys, on a list full
// of ties: levels and dates repeat, and names and locations share their
// first eight bytes or more (a byte above 127 among them), some equal.
TEST(RosterSort, EachOrderMatchesAStableSortOfItsKeys) {
    const std::vector<std::string> names = {"Alexander Smith", "Alexander Smithers", "Alexander", "Alex",
                                            "Zo\xe9 Adams", "Zoe Adams", "Alexander Smith"};
    const std::vector<std::string> places = {"Springfield North", "Springfield", "Springfield North", "Ames"};
    std::vector<UserRecord> rs;
    for (int n = 0; n < 300; ++n) {
        UserRecord r = Person(n);
        r.Name = names[size_t(n * 7 % 11) % names.size()];
        r.Location = places[size_t(n * 5 % 13) % places.size()];
        r.SecurityLevel = 10 * (n * 3 % 4);
        r.TotalCalls = uint32_t(n % 5);
        r.MessagesPosted = n % 3 - 1;
        r.LastCallDate = fmt::sprintf("%02d/%02d/95", 1 + n % 2, 1 + n % 3);
        r.LastCallTime = n % 4 ? "10:00:00" : "09:59:59";
        rs.push_back(r);
    }
    roster::NameTable table;
    for (const UserRecord& r : rs) table.push_back(r.Name);
    for (int order = 0; order < 5; ++order) {
        const int type = roster::SortKeyType(order);
        std::vector<IndexEntry> index;
        // A reversed index, so that the record numbers are not the positions.
        for (int n = int(rs.size()) - 1; n >= 0; --n) index.push_back(Entry(n, rs[size_t(n)], type));
        std::vector<int> want;
        for (const IndexEntry& e : index) want.push_back(e.RecordNumber);
        std::stable_sort(want.begin() + 1, want.end(), [&](int a, int b) {
            const UserRecord &x = rs[size_t(a)], &y = rs[size_t(b)];
            auto later = [](const std::string& d) { return d.substr(6, 2) + d.substr(0, 5); };
            switch (type) {
            case roster::kKeyDate:
                if (x.LastCallDate != y.LastCallDate) return later(x.LastCallDate) > later(y.LastCallDate);
                return x.LastCallTime > y.LastCallTime;
            case roster::kKeyLocation:
                if (x.Location != y.Location) return x.Location < y.Location;
                break;
            case roster::kKeyLevel:
                if (x.SecurityLevel != y.SecurityLevel) return x.SecurityLevel > y.SecurityLevel;
                break;
            case roster::kKeyCalls:
                if (x.TotalCalls != y.TotalCalls) return x.TotalCalls > y.TotalCalls;
                break;
            default:
                if (x.MessagesPosted != y.MessagesPosted) return x.MessagesPosted > y.MessagesPosted;
                break;
            }
            return x.Name < y.Name;
        });
        roster::SortIndex(index, type, 1, table);
        std::vector<int> got;
        for (const IndexEntry& e : index) got.push_back(e.RecordNumber);
        EXPECT_EQ(got, want) << "order " << order;
    }
}

TEST(RosterMove, AnEntryGoesRightAfterTheOneNamed) {
    auto make = [] {
        std::vector<IndexEntry> v(8);
        for (int i = 0; i < 8; ++i) v[size_t(i)].RecordNumber = i;
        return v;
    };
    auto numbers = [](const std::vector<IndexEntry>& v) {
        std::vector<int> out;
        for (const IndexEntry& e : v) out.push_back(e.RecordNumber);
        return out;
    };
    struct Case {
        int a, b;
        bool moved;
        std::vector<int> want;
    } cases[] = {
        {5, 1, true, {0, 1, 5, 2, 3, 4, 6, 7}},
        {2, 5, true, {0, 1, 3, 4, 5, 2, 6, 7}},
        {2, 1, false, {0, 1, 2, 3, 4, 5, 6, 7}},
        {0, 3, false, {0, 1, 2, 3, 4, 5, 6, 7}},
        {8, 1, false, {0, 1, 2, 3, 4, 5, 6, 7}},
        {3, 7, false, {0, 1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& c : cases) {
        auto v = make();
        EXPECT_EQ(roster::MoveEntry(v, c.a, c.b), c.moved) << c.a << " after " << c.b;
        EXPECT_EQ(numbers(v), c.want) << c.a << " after " << c.b;
    }
}

TEST(RosterGlobal, APlanSetsClearsAndLeavesBits) {
    UserRecord r = Person(1);
    r.Flags[2] = 0b1010'0101;
    roster::GlobalChange c;
    c.field = 2;
    c.plan = {roster::kOn, roster::kOff, roster::kOn, roster::kLeave, roster::kLeave, roster::kOff, roster::kLeave,
              roster::kOn};
    roster::ApplyChange(r, c);
    EXPECT_EQ(r.Flags[2], 0b1000'0101);
    roster::GlobalChange ignore;
    ignore.field = 8;
    ignore.on = true;
    roster::ApplyChange(r, ignore);
    EXPECT_TRUE(r.Options & USER_IGNORE_LIMITS);
}

class RosterRewriteTest : public RosterUsersTest {
protected:
    // A board where kivo has run: "online.ctl" with every line free.
    void SetUp() override {
        SetConfig(board.config());
        ASSERT_TRUE(CreateOnlineFile());
    }
    void TearDown() override { SetConfig(ConfigRecord{}); }

    // Runs main-menu entry `to` (0-23) with the bar on entry `from`.
    static void Select(PtySession& s, int from, int to) {
        s.Send(std::string(size_t((to / 6 - from / 6 + 4) % 4), '+') +
               std::string(size_t((to % 6 - from % 6 + 6) % 6), '\t') + "\r");
    }
    static void RunEntry(PtySession& s, int item) { Select(s, 0, item); }
    // Record n's bytes of both files.
    std::string UserBytesOf(const std::string& users, int n) { return users.substr(size_t(n) * kUserRecordSize, kUserRecordSize); }
    std::string LastReadOf(const std::string& last, int n) { return last.substr(size_t(n) * 400, 400); }
    void MarkDeleted(std::initializer_list<int> numbers) {
        for (int n : numbers) {
            UserRecord r = Record(n);
            r.Options |= USER_DELETED;
            ASSERT_TRUE(WriteUserRecord(n, r));
        }
    }
};

TEST_F(RosterRewriteTest, PackDropsDeletedUsersButNeverTheSysopAndKeepsBothFilesInStep) {
    WriteUsers(6);
    MarkDeleted({0, 2, 4});
    const std::string users = ReadAll(UsersFile()), last = ReadAll(LastReadFile());
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    RunEntry(*s, 11);
    ASSERT_TRUE(s->WaitForText("Do you really want to pack user's file?"));
    s->Send("y");
    ASSERT_TRUE(s->WaitForText("2 Users deleted"));
    EXPECT_NE(s->Screen().find("User 2                         of Town 2"), std::string::npos);
    s->Send(" ");
    Quit(*s);
    const std::string newUsers = ReadAll(UsersFile()), newLast = ReadAll(LastReadFile());
    ASSERT_EQ(newUsers.size(), 4 * kUserRecordSize);
    ASSERT_EQ(newLast.size(), 4 * 400u);
    const int kept[] = {0, 1, 3, 5};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(UserBytesOf(newUsers, i), UserBytesOf(users, kept[i])) << i;
        EXPECT_EQ(LastReadOf(newLast, i), LastReadOf(last, kept[i])) << i;
    }
    EXPECT_EQ(ReadAll(board.DataDir() / "users.bbs.B"), users);
    EXPECT_EQ(ReadAll(board.MsgBaseDir() / "lastread.bbs.B"), last);
}

TEST_F(RosterRewriteTest, ARewriteKeepsLateRecordsAndReadsAShortLastReadFileAsZeros) {
    WriteUsers(4);
    const std::string users = ReadAll(UsersFile()), last = ReadAll(LastReadFile());
    fs::resize_file(LastReadFile(), 2 * 400);
    // The index knew three records; the fourth came while it was in use.
    ASSERT_TRUE(roster::RewriteUsers({0, 2, 1}, false).ok);
    const std::string newUsers = ReadAll(UsersFile()), newLast = ReadAll(LastReadFile());
    const int order[] = {0, 2, 1, 3};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(UserBytesOf(newUsers, i), UserBytesOf(users, order[i])) << i;
    EXPECT_EQ(LastReadOf(newLast, 0), LastReadOf(last, 0));
    EXPECT_EQ(LastReadOf(newLast, 1), std::string(400, '\0'));
    EXPECT_EQ(LastReadOf(newLast, 2), LastReadOf(last, 1));
    EXPECT_EQ(LastReadOf(newLast, 3), std::string(400, '\0'));

    // An added record takes the next number of the file as it is.
    EXPECT_EQ(roster::AppendBlankRecord(), 4);
    EXPECT_EQ(Record(4).Comment2.rfind("kvroster v1.0", 0), 0u);
    EXPECT_EQ(fs::file_size(LastReadFile()), 5 * 400u);
}

TEST_F(RosterRewriteTest, SortAndMoveRewriteBothFilesInTheNewOrder) {
    WriteUsers(5);  // levels 64000, 11, 12, 13, 14
    const std::string users = ReadAll(UsersFile()), last = ReadAll(LastReadFile());
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    RunEntry(*s, 9);
    ASSERT_TRUE(s->WaitForText("Select the sort criteria"));
    s->Send("\r");  // security level
    ASSERT_TRUE(s->WaitForText("Do you want to continue?"));
    s->Send("y");
    ASSERT_TRUE(s->WaitForText(" 0     Sam Sysop"));
    // Then the record now at position 4 (User 1) after position 0.
    Select(*s, 9, 18);
    ASSERT_TRUE(s->WaitForText("Enter record number to move"));
    s->Send("4\r");
    ASSERT_TRUE(s->WaitForText("User 1"));
    s->Send("0\r");
    ASSERT_TRUE(s->WaitForText("Move a record"));
    Quit(*s);
    const std::string newUsers = ReadAll(UsersFile()), newLast = ReadAll(LastReadFile());
    const int order[] = {0, 1, 4, 3, 2};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(UserBytesOf(newUsers, i), UserBytesOf(users, order[i])) << i;
        EXPECT_EQ(LastReadOf(newLast, i), LastReadOf(last, order[i])) << i;
    }
}

TEST_F(RosterRewriteTest, RewritingCommandsAreRefusedWhileACallerIsOnLine) {
    WriteUsers(3);
    MarkDeleted({2});
    OnlineEntry e;
    e.Pid = int32_t(getpid());  // a live process
    e.User = 1;
    ASSERT_TRUE(WriteOnlineEntry(0, e));
    const std::string users = ReadAll(UsersFile());
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    // Each refusal's popup at its own column.
    struct Refusal {
        int from, entry;
        const char* text;
        int col;
    } refusals[] = {
        {0, 11, "Cannot pack file while someone is online", 18},
        {11, 9, "Cannot sort file while someone is online", 18},
        {9, 18, "Cannot move record while someone is online", 17},
        {18, 16, "Cannot edit file while someone is online", 18},
    };
    for (const Refusal& r : refusals) {
        Select(*s, r.from, r.entry);
        ASSERT_TRUE(s->WaitForText(r.text));
        EXPECT_EQ(s->Cell(10, r.col).text + s->Cell(11, r.col + 2).text, "┌C") << r.text;
        s->Send(" ");
    }
    // The form says whose record belongs to a caller on line.
    Select(*s, 16, 0);
    s->Send("\x1bOB\r");
    ASSERT_TRUE(s->WaitForText("Editing Record no. 1 of 3 - on line now"));
    s->Send("\x1b\x1b");
    Quit(*s);
    EXPECT_EQ(ReadAll(UsersFile()), users);
}

// A caller who logs on while the sysop answers the pack question would log
// off into a record the packed file gives to another user: the rewrite
// looks again before it swaps the files in.
TEST_F(RosterRewriteTest, ACallerWhoComesOnLineDuringTheQuestionStopsThePack) {
    WriteUsers(4);
    MarkDeleted({1});
    const std::string users = ReadAll(UsersFile()), last = ReadAll(LastReadFile());
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    RunEntry(*s, 11);
    ASSERT_TRUE(s->WaitForText("Do you really want to pack user's file?"));
    OnlineEntry e;
    e.Pid = int32_t(getpid());  // a live process
    e.User = 3;
    ASSERT_TRUE(WriteOnlineEntry(0, e));
    s->Send("y");
    ASSERT_TRUE(s->WaitForText("Cannot pack file while someone is online"));
    s->Send(" ");
    Quit(*s);
    EXPECT_EQ(ReadAll(UsersFile()), users);
    EXPECT_EQ(ReadAll(LastReadFile()), last);
    for (const auto& f : fs::directory_iterator(board.DataDir()))
        EXPECT_EQ(f.path().filename().string().find("users.bbs."), std::string::npos) << f.path();
}

// A popup that says a user's name shows its control and '^' bytes as '?'
// and its 8-bit ones as their PC characters, one column each, inside the
// popup's border.
TEST_F(RosterRewriteTest, ANameInAPopupKeepsInsideItsBox) {
    WriteUsers(2);
    UserRecord r = Record(0);
    r.Name = "\x1b[7mEv\x01il^B\xc3\xa9";
    ASSERT_TRUE(WriteUserRecord(0, r));
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    RunEntry(*s, 21);  // " Reset " of the current user
    const std::string said = "Limits of ?[7mEv?il?B├⌐ cleared";
    const int columns = 31;
    ASSERT_TRUE(s->WaitForText(said + " │")) << s->Screen();
    // The popup stands at column 38 less half the text, two columns wider
    // than it on each side: both its rows end at that border.
    const int right = 38 - columns / 2 + columns + 3;
    auto boxed = [&] {
        int row = 0;
        while (row < 23 && s->Row(row).find(said) == std::string::npos) ++row;
        return row < 23 && s->Cell(row, right).text == "│" && s->Cell(row + 1, right).text == "│" &&
               s->Row(row + 1).find("Hit any key to continue:") != std::string::npos;
    };
    EXPECT_TRUE(s->WaitFor(boxed)) << s->Screen();
    EXPECT_EQ(s->Screen().find("^["), std::string::npos);
    s->Send(" ");
    Quit(*s);
}

TEST_F(RosterRewriteTest, ARewriteThatCannotWriteLeavesBothFilesAsTheyWere) {
    WriteUsers(120);  // about 49 kB of users: beyond the limit below
    MarkDeleted({3});
    const std::string users = ReadAll(UsersFile()), last = ReadAll(LastReadFile());
    PtyOptions o;
    o.argv = {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 60 && exec \"$0\"", ProgramPath("kvroster")};
    o.dir = board.root();
    o.utf8 = true;
    PtySession s(o);
    ASSERT_TRUE(s.WaitForText(" Browse "));
    RunEntry(s, 11);
    ASSERT_TRUE(s.WaitForText("Do you really want to pack user's file?"));
    s.Send("y");
    ASSERT_TRUE(s.WaitForText("Problems to rewrite the file, no rewriting done"));
    s.Send(" ");
    Quit(s);
    EXPECT_EQ(ReadAll(UsersFile()), users);
    EXPECT_EQ(ReadAll(LastReadFile()), last);
    for (const auto& dir : {board.DataDir(), board.MsgBaseDir()})
        for (const auto& f : fs::directory_iterator(dir))
            EXPECT_EQ(f.path().filename().string().find(".bbs."), std::string::npos) << "left behind: " << f.path();
}

TEST_F(RosterRewriteTest, APackKilledAtAnyStepLeavesTheOldOrTheNewFilesWhole) {
    WriteUsers(10000);
    MarkDeleted({5, 9999});
    const std::string users = ReadAll(UsersFile()), last = ReadAll(LastReadFile());
    std::string packedUsers = users, packedLast = last;
    packedUsers.erase(9999 * kUserRecordSize, kUserRecordSize);
    packedUsers.erase(5 * kUserRecordSize, kUserRecordSize);
    packedLast.erase(9999 * 400, 400);
    packedLast.erase(5 * 400, 400);
    int kills = 0;
    for (const char* point : {"rewrite", "swap"}) {
        for (int pass = 1; pass <= 8; ++pass) {
            std::ofstream(UsersFile(), std::ios::binary | std::ios::trunc) << users;
            std::ofstream(LastReadFile(), std::ios::binary | std::ios::trunc) << last;
            PtyOptions o;
            o.argv = {ProgramPath("kvroster")};
            o.dir = board.root();
            o.utf8 = true;
            o.env = {std::string("KV_TEST_KILL_AT=") + point + ":" + std::to_string(pass)};
            PtySession s(o);
            ASSERT_TRUE(s.WaitForText(" Browse ", 20000));
            RunEntry(s, 11);
            ASSERT_TRUE(s.WaitForText("Do you really want to pack user's file?"));
            s.Send("y");
            if (s.WaitForText("2 Users deleted", 20000)) {
                s.Send(" ");
                Quit(s);
                break;  // past the last step of this kind
            }
            ASSERT_EQ(s.Wait(), 128 + SIGKILL) << point << " pass " << pass;
            ++kills;
            { MsgBaseLock next; ASSERT_TRUE(next); }  // finishes a journalled swap
            const std::string u = ReadAll(UsersFile()), l = ReadAll(LastReadFile());
            const bool old = u == users && l == last, fresh = u == packedUsers && l == packedLast;
            EXPECT_TRUE(old || fresh) << point << " pass " << pass;
        }
    }
    EXPECT_GT(kills, 3);
}

// A rewrite killed before its journal leaves its copy of the users (every
// password in it): private to the board's user, and gone once the next
// program takes the users lock.  Killed after the journal, the copy is the
// swap's and stays until the swap puts it in place.
TEST_F(RosterRewriteTest, CopiesOfTheUsersLeftByAKilledPackArePrivateAndGoWithTheNextLock) {
    WriteUsers(4);
    MarkDeleted({2});
    fs::permissions(UsersFile(), fs::perms(0640));
    const std::string users = ReadAll(UsersFile());
    auto copies = [&] {
        std::vector<fs::path> found;
        for (const auto& f : fs::directory_iterator(board.DataDir()))
            if (f.path().filename().string().rfind("users.bbs.", 0) == 0 && f.path().extension() != ".B")
                found.push_back(f.path());
        return found;
    };
    const struct {
        const char* killAt;
        bool journalled;
    } cases[] = {{"rewrite:1", false}, {"rewrite:2", false}, {"swap:2", true}};
    for (const auto& c : cases) {
        std::ofstream(UsersFile(), std::ios::binary | std::ios::trunc) << users;
        PtyOptions o;
        o.argv = {ProgramPath("kvroster")};
        o.dir = board.root();
        o.utf8 = true;
        o.env = {std::string("KV_TEST_KILL_AT=") + c.killAt};
        PtySession s(o);
        ASSERT_TRUE(s.WaitForText(" Browse "));
        RunEntry(s, 11);
        ASSERT_TRUE(s.WaitForText("Do you really want to pack user's file?"));
        s.Send("y");
        ASSERT_EQ(s.Wait(), 128 + SIGKILL) << c.killAt;
        ASSERT_EQ(copies().size(), 1u) << c.killAt;
        if (!c.journalled) {
            EXPECT_EQ(fs::status(copies()[0]).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write)
                << c.killAt;
        }

        { UsersFileLock next; ASSERT_TRUE(next.held()); }
        EXPECT_EQ(copies().size(), c.journalled ? 1u : 0u) << c.killAt;
        { MsgBaseLock finish; ASSERT_TRUE(finish); }
        EXPECT_TRUE(copies().empty()) << c.killAt;
        // Put in place, the new file has the mode the old one had.
        EXPECT_EQ(ReadAll(UsersFile()).size(), (c.journalled ? 3 : 4) * kUserRecordSize) << c.killAt;
        EXPECT_EQ(fs::status(UsersFile()).permissions() & fs::perms::all, fs::perms(0640)) << c.killAt;
    }
}

TEST_F(RosterRewriteTest, AGlobalEditSetsAFlagOnTheMarkedRecordsOnly) {
    WriteUsers(5);
    const std::string users = ReadAll(UsersFile());
    auto s = StartBrowsing();
    s->Send("\x1bOB \x1bOB ");  // marks 1 and 3
    ASSERT_TRUE(s->WaitForText("√ User 3"));
    s->Send("\x1b");
    RunEntry(*s, 16);
    ASSERT_TRUE(s->WaitForText(" Flag A "));
    s->Send("\x1bOB\x1bOB\x1bOB\r");  // " Flag D "
    ASSERT_TRUE(s->WaitForText("Do you want to modify Marked, All users or Quit"));
    s->Send("\r");
    ASSERT_TRUE(s->WaitForText("Setup of Flag D"));
    s->Send("\x1bOC  \x1bOC \r");  // bit 2 on, bit 3 off
    Quit(*s);
    for (int n = 0; n < 5; ++n) {
        UserRecord want = Person(n);
        if (n == 1 || n == 3) want.Flags[3] = 0x82;
        EXPECT_EQ(Record(n).Flags, want.Flags) << n;
    }
    EXPECT_EQ(ReadAll(UsersFile()).size(), users.size());
}

TEST_F(RosterRewriteTest, FindByNameAndMarkBySearch) {
    WriteUsers(15);
    auto s = Start();
    ASSERT_TRUE(s->WaitForText(" Browse "));
    RunEntry(*s, 8);
    ASSERT_TRUE(s->WaitForText("Select a search criteria"));
    s->Send("\r");  // user name
    ASSERT_TRUE(s->WaitForText("Enter the name or alias to look for"));
    s->Send("user 12\r");
    ASSERT_TRUE(s->WaitForText(" 12    User 12"));
    Select(*s, 8, 0);  // the found record is current in the list
    ASSERT_TRUE(s->WaitForText("<F2/Find/Tog/Del/Val>"));
    s->Send("\x1b");
    Select(*s, 0, 23);
    ASSERT_TRUE(s->WaitForText("Quit/Mark/Unmark/Selected/Current"));
    s->Send("s");
    ASSERT_TRUE(s->WaitForText("Select a search criteria"));
    s->Send("\x1bOB\x1bOB\x1bOB\x1bOB\x1bOB\x1bOB\x1bOB\r");  // " Security "
    ASSERT_TRUE(s->WaitForText(" Greater than "));
    s->Send("\x1bOB\x1bOB\r");
    ASSERT_TRUE(s->WaitForText("Find Level Greater than"));
    s->Send("21\r");  // levels 22-24: users 12, 13, 14
    ASSERT_TRUE(s->WaitForText("√ User 14"));  // the last row drawn
    const std::string screen = s->Screen();
    EXPECT_NE(screen.find("√ User 12"), std::string::npos);
    EXPECT_NE(screen.find("√ User 13"), std::string::npos);
    EXPECT_EQ(screen.find("√ User 11"), std::string::npos);
    Quit(*s);
}

}  // namespace
}  // namespace kv::test

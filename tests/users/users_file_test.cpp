// "users.bbs" on a real board directory: appending and numbering, the
// refusals of a write, the searches, a torn file and the sample board's
// users.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "common/dates.h"
#include "common/runtime.h"
#include "common/users.h"
#include "sample/tools/builders.h"
#include "tests/support/board.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

class UsersFile : public ::testing::Test {
protected:
    void SetUp() override {
        SetConfig(board.config());
        SetLogWriter([this](std::string_view line) { logs.emplace_back(line); });
        // The board's own English texts.
        std::vector<sample::TextEntry> table;
        ASSERT_TRUE(sample::ReadTextTable({test::SourcePath("sample/texts/310-users.tsv")}, table));
        SetTextLookup([table](int n) {
            for (const auto& e : table)
                if (e.number == n) return e.usa;
            return std::string();
        });
    }
    void TearDown() override {
        SetLogWriter(nullptr);
        SetTextLookup(nullptr);
        SetClock(nullptr);
    }
    fs::path Users() const { return board.DataDir() / "users.bbs"; }
    std::string Bytes() const { return board.ReadFile(Users()); }
    bool Logged(const std::string& part) const {
        for (const auto& l : logs)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }
    static UserRecord Named(const std::string& name) {
        UserRecord u;
        ClearUserRecord(u);
        u.Name = name;
        return u;
    }

    test::TempBoard board;
    std::vector<std::string> logs;
};

TEST_F(UsersFile, FirstUserOnAnEmptyFileIsNumberZero) {
    for (bool missing : {true, false}) {
        SCOPED_TRACE(missing ? "missing file" : "empty file");
        fs::remove(Users());
        if (!missing) board.WriteFile(Users(), "");
        EXPECT_EQ(UpdateUserCount(), 0);
        EXPECT_EQ(LastUserNumber(), -1);
        EXPECT_EQ(AppendUserRecord(Named("Ada First")), 0);
        EXPECT_EQ(AppendUserRecord(Named("Bob Second")), 1);
        EXPECT_EQ(UpdateUserCount(), 2);
        EXPECT_EQ(LastUserNumber(), 1);
        EXPECT_EQ(fs::file_size(Users()), 2 * kUserRecordSize);
        UserRecord r;
        ASSERT_TRUE(ReadUserRecord(1, r));
        EXPECT_EQ(r.Name, "Bob Second");
    }
}

// Registrations at the same moment: each gets its own number, and the record
// at that number is its own.
TEST_F(UsersFile, ConcurrentAppendsGetTheirOwnNumbers) {
    fs::remove(Users());
    constexpr int kRacers = 8;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> pids;
    for (int i = 0; i < kRacers; ++i) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(go[1]);
            char c;
            while (read(go[0], &c, 1) > 0) {}  // all start when the pipe closes
            int n = AppendUserRecord(Named("Racer " + std::to_string(i)));
            _exit(n < 0 ? 255 : n);
        }
        pids.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    std::set<int> numbers;
    for (int i = 0; i < kRacers; ++i) {
        int status = 0;
        ASSERT_EQ(waitpid(pids[size_t(i)], &status, 0), pids[size_t(i)]);
        ASSERT_TRUE(WIFEXITED(status));
        int n = WEXITSTATUS(status);
        ASSERT_LT(n, kRacers) << "racer " << i << " failed";
        numbers.insert(n);
        UserRecord r;
        ASSERT_TRUE(ReadUserRecord(n, r));
        EXPECT_EQ(r.Name, "Racer " + std::to_string(i));
    }
    EXPECT_EQ(numbers.size(), size_t(kRacers));
    EXPECT_EQ(UpdateUserCount(), kRacers);
}

// A failed append's -1 must never overwrite the sysop, and a write past the
// end must not make up users.
TEST_F(UsersFile, WriteRefusesNumbersTheFileDoesNotHold) {
    const std::string before = Bytes();
    UserRecord intruder = Named("Not The Sysop");
    EXPECT_FALSE(WriteUserRecord(-1, intruder));
    EXPECT_TRUE(Logged("Refusing to write user record -1"));
    EXPECT_FALSE(WriteUserRecord(2, intruder));
    EXPECT_FALSE(WriteUserRecord(5, intruder));
    EXPECT_EQ(Bytes(), before);

    ASSERT_TRUE(WriteUserRecord(1, intruder));
    UserRecord r;
    ASSERT_TRUE(ReadUserRecord(1, r));
    EXPECT_EQ(r.Name, "Not The Sysop");
    ASSERT_TRUE(ReadUserRecord(0, r));
    EXPECT_EQ(r.Name, "Sam Sysop");
    EXPECT_EQ(Bytes().size(), before.size());
}

TEST_F(UsersFile, SearchesByNameAliasAndPhone) {
    UserRecord r;
    EXPECT_EQ(FindUser("Terry Tester", r), 1);
    EXPECT_EQ(r.Alias, "terry");
    EXPECT_EQ(FindUser("terry tester", r), -1);  // names compare exactly
    EXPECT_EQ(r.Name, "");
    EXPECT_EQ(r.ScanAreas[0], 0xFF);  // not found leaves a cleared record

    EXPECT_TRUE(UserExists("Terry Tester", kByName));
    EXPECT_TRUE(UserExists("terry", kByAlias));
    EXPECT_FALSE(UserExists("terry", kByName));
    EXPECT_FALSE(UserExists("Terry Tester", kByAlias));

    EXPECT_EQ(FindPhoneOwner(2, "(555) 010-0001", ""), 1);
    EXPECT_EQ(FindPhoneOwner(2, "", "(555) 010-0000"), 0);
    EXPECT_EQ(FindPhoneOwner(1, "(555) 010-0001", ""), -1);  // only records below count
    EXPECT_EQ(FindPhoneOwner(2, "", ""), -1);  // both have no data phone: empty never matches
    EXPECT_TRUE(logs.empty());
}

TEST_F(UsersFile, UnreadableFileLogsAndFindsNobody) {
    fs::remove(Users());
    UserRecord r;
    r.Name = "Left Over";
    EXPECT_EQ(FindUser("Sam Sysop", r), -1);
    EXPECT_EQ(r.Name, "");
    EXPECT_TRUE(Logged("Cannot read the user file " + Users().string() + ": No such file"));
    EXPECT_FALSE(UserExists("sysop", kByAlias));
    EXPECT_TRUE(Logged("Cannot search the user file " + Users().string() + ": No such file"));
    EXPECT_FALSE(ReadUserRecord(0, r));
    EXPECT_FALSE(WriteUserRecord(0, r));
    EXPECT_FALSE(fs::exists(Users()));  // a rewrite never creates the file
}

// Half a record at the end: searches still see the whole ones, nothing is
// appended behind it, and the log names the file and the record.
TEST_F(UsersFile, TornLastRecordIsReportedNotBuiltOn) {
    { std::ofstream(Users(), std::ios::app | std::ios::binary) << std::string(100, 'J'); }
    const auto size = fs::file_size(Users());
    UserRecord r;
    EXPECT_EQ(FindUser("Terry Tester", r), 1);
    EXPECT_EQ(FindUser("Nobody Here", r), -1);
    EXPECT_TRUE(Logged("record 2 is cut short (100 of 412 bytes)"));
    EXPECT_FALSE(ReadUserRecord(2, r));
    EXPECT_EQ(AppendUserRecord(Named("Late Comer")), -1);
    EXPECT_TRUE(Logged("not a whole number of records"));
    EXPECT_EQ(fs::file_size(Users()), size);
}

TEST_F(UsersFile, LogoffCountsTheCallAndWritesTheRecord) {
    const time_t logon = 1700000000;
    SetClock([=] { return logon + 125; });  // a call of two whole minutes
    UserRecord r;
    ASSERT_EQ(FindUser("Terry Tester", r), 1);
    r.CallsToday = 1;
    r.MinutesToday = 10;
    r.TotalCalls = 41;
    for (int every : {0, 5}) {
        SCOPED_TRACE(every);
        MutableConfig().PasswordChangeCalls = uint16_t(every);
        UserRecord before = r;
        ASSERT_TRUE(UpdateUserAtLogoff(r, 1, CallSummary{logon, 321}));
        UserRecord back;
        ASSERT_TRUE(ReadUserRecord(1, back));
        std::tm t{};
        localtime_r(&logon, &t);
        EXPECT_EQ(back.LastCallDate, FormatDate(t));
        EXPECT_EQ(back.LastCallTime, FormatTime(t));
        EXPECT_EQ(back.CallsToday, before.CallsToday + 1);
        EXPECT_EQ(back.MinutesToday, before.MinutesToday + 2);
        EXPECT_EQ(back.TotalCalls, before.TotalCalls + 1);
        EXPECT_EQ(back.HighestRead, 321);
        EXPECT_EQ(back.PasswordCalls, before.PasswordCalls + (every ? 1u : 0u));
    }
    EXPECT_FALSE(UpdateUserAtLogoff(r, -1, CallSummary{logon, 0}));
    EXPECT_TRUE(Logged("Cannot save the user record of Terry Tester"));
}

// The sample board's users as the README names them.
TEST_F(UsersFile, SampleBoardUsersReadBack) {
    ASSERT_EQ(UpdateUserCount(), 2);
    UserRecord sysop, tester;
    ASSERT_TRUE(ReadUserRecord(0, sysop));
    ASSERT_TRUE(ReadUserRecord(1, tester));
    EXPECT_EQ(sysop.Name, board.config().SysopName);
    EXPECT_TRUE(IsSysopLevel(sysop.SecurityLevel));
    EXPECT_EQ(sysop.Alias, "sysop");
    EXPECT_EQ(sysop.Password, "Lighthouse");  // stored capitalised
    EXPECT_TRUE(PasswordMatches(sysop, "lighthouse"));
    EXPECT_EQ(tester.Name, "Terry Tester");
    EXPECT_FALSE(IsSysopLevel(tester.SecurityLevel));
    EXPECT_TRUE(PasswordMatches(tester, "KEYBOARD"));
    EXPECT_FALSE(PasswordMatches(tester, "lighthouse"));
    // The sample passwords obey the board's own rules.
    EXPECT_EQ(CheckNewPassword("lighthouse", sysop.Name), PasswordVerdict::kAllowed);
    EXPECT_EQ(CheckNewPassword("keyboard", tester.Name), PasswordVerdict::kAllowed);

    std::string lastRead = board.ReadFile(board.MsgBaseDir() / "lastread.bbs");
    EXPECT_EQ(lastRead, std::string(2 * 400, '\0'));
}

}  // namespace

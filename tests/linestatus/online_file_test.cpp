// "online.ctl": the entry's bytes, making the file without wiping another
// line's entry, entry reads and writes, and the reads of the other programs
// (same user elsewhere, callers on line) with the entries of dead processes
// counted free.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/online_status.h"
#include "common/runtime.h"
#include "tests/support/board.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

// A process id that certainly names no process: a child that has ended
// and been reaped.
int32_t DeadPid() {
    pid_t p = fork();
    if (p == 0) _exit(0);
    waitpid(p, nullptr, 0);
    return int32_t(p);
}

OnlineEntry Entry(int32_t pid, int32_t user, uint8_t flags = 0, const std::string& time = "10:20:30") {
    OnlineEntry e;
    e.Pid = pid;
    e.User = user;
    e.Flags = flags;
    e.LogonTime = time;
    return e;
}

class OnlineFile : public ::testing::Test {
protected:
    void SetUp() override { SetConfig(board.config()); }
    fs::path Path() const { return board.DataDir() / "online.ctl"; }
    std::string Bytes() const { return board.ReadFile(Path()); }

    test::TempBoard board;
};

TEST(OnlineEntryBytes, FieldsAtTheirOffsets) {
    auto b = EncodeRecord(Entry(0x01020304, 0x0A0B0C0D, LINE_MONITORED | LINE_NODISTURB, "23:59:58"));
    const uint8_t want[24] = {0x04, 0x03, 0x02, 0x01, 0x82, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A,
                              '2', '3', ':', '5', '9', ':', '5', '8', 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(b.data(), want, 24));

    auto free = EncodeRecord(OnlineEntry{});
    const uint8_t wantFree[24] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(free.data(), wantFree, 24));

    // A longer time text is cut to fit and still ends with a NUL.
    auto longTime = EncodeRecord(Entry(1, 1, 0, "123456789012"));
    EXPECT_EQ(0, longTime[20]);
    OnlineEntry back;
    DecodeRecord(longTime.data(), back);
    EXPECT_EQ("12345678", back.LogonTime);
}

TEST_F(OnlineFile, MadeWithAllLinesFree) {
    ASSERT_TRUE(CreateOnlineFile());
    std::string b = Bytes();
    ASSERT_EQ(6144u, b.size());
    auto free = EncodeRecord(OnlineEntry{});
    for (int i = 0; i < kOnlineLines; ++i)
        ASSERT_EQ(0, std::memcmp(b.data() + 24 * i, free.data(), 24)) << "entry " << i;
    // No temporary file stays behind.
    int files = 0;
    for (const auto& e : fs::directory_iterator(board.DataDir()))
        if (e.path().filename().string().rfind("online.ctl", 0) == 0) ++files;
    EXPECT_EQ(1, files);
}

TEST_F(OnlineFile, AnExistingFileIsKept) {
    ASSERT_TRUE(CreateOnlineFile());
    ASSERT_TRUE(WriteOnlineEntry(3, Entry(getpid(), 7)));
    ASSERT_TRUE(CreateOnlineFile());
    OnlineEntry e;
    ASSERT_TRUE(ReadOnlineEntry(3, e));
    EXPECT_EQ(getpid(), e.Pid);
    EXPECT_EQ(7, e.User);
    EXPECT_EQ(6144u, Bytes().size());
}

// Lines that start together each make the file if it is missing and write
// their entry at once; no line may lose its entry to another's create.
TEST_F(OnlineFile, LinesStartingTogetherKeepEachOthersEntries) {
    constexpr int kLines = 12;
    for (int round = 0; round < 5; ++round) {
        fs::remove(Path());
        int go[2];
        ASSERT_EQ(0, pipe(go));
        std::vector<pid_t> kids;
        for (int line = 0; line < kLines; ++line) {
            pid_t p = fork();
            if (p == 0) {
                close(go[1]);
                char c;
                if (read(go[0], &c, 1) != 0) _exit(3);
                bool ok = CreateOnlineFile() && WriteOnlineEntry(line, Entry(getpid(), 100 + line));
                _exit(ok ? 0 : 1);
            }
            kids.push_back(p);
        }
        close(go[0]);
        close(go[1]);  // all start at once
        for (pid_t p : kids) {
            int st = 0;
            waitpid(p, &st, 0);
            ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
        }
        for (int line = 0; line < kLines; ++line) {
            OnlineEntry e;
            ASSERT_TRUE(ReadOnlineEntry(line, e));
            EXPECT_EQ(100 + line, e.User) << "round " << round << " line " << line;
        }
        EXPECT_EQ(6144u, Bytes().size());
    }
}

TEST_F(OnlineFile, EntryReadAndWriteFailures) {
    OnlineEntry e;
    std::string why;
    // Nothing makes the file but CreateOnlineFile.
    EXPECT_FALSE(WriteOnlineEntry(0, Entry(1, 1), &why));
    EXPECT_NE(std::string::npos, why.find("online.ctl")) << why;
    EXPECT_FALSE(fs::exists(Path()));
    EXPECT_FALSE(ReadOnlineEntry(0, e));

    ASSERT_TRUE(CreateOnlineFile());
    EXPECT_FALSE(WriteOnlineEntry(256, Entry(1, 1)));
    EXPECT_FALSE(WriteOnlineEntry(-1, Entry(1, 1)));
    EXPECT_FALSE(ReadOnlineEntry(256, e));
    EXPECT_EQ(6144u, Bytes().size());

    // A file cut short: the entries it still holds read, the rest fail.
    fs::resize_file(Path(), 24 * 2 + 10);
    EXPECT_TRUE(ReadOnlineEntry(1, e));
    EXPECT_FALSE(ReadOnlineEntry(2, e, &why));
    EXPECT_NE(std::string::npos, why.find("cut short")) << why;
    std::vector<OnlineEntry> all;
    ASSERT_TRUE(ReadOnlineFile(all));
    EXPECT_EQ(2u, all.size());
}

TEST_F(OnlineFile, EntriesOfDeadProcessesCountFree) {
    int32_t dead = DeadPid();
    struct Case {
        OnlineEntry entry;
        bool inUse, holdsCaller;
    } cases[] = {
        {OnlineEntry{}, false, false},
        {Entry(getpid(), -1), true, false},   // registered, not logged on yet
        {Entry(getpid(), 5), true, true},
        {Entry(dead, 5), false, false},       // crashed without log-off
        {Entry(0, 0), false, false},          // zeros of a hole in the file
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.inUse, LineInUse(c.entry)) << c.entry.Pid;
        EXPECT_EQ(c.holdsCaller, LineHoldsCaller(c.entry)) << c.entry.Pid;
    }
}

TEST_F(OnlineFile, SameUserOnAnotherLine) {
    ASSERT_TRUE(CreateOnlineFile());
    int32_t me = getpid();
    ASSERT_TRUE(WriteOnlineEntry(0, Entry(me, 9)));           // the asking line itself
    OnlineEntry freed;                                         // freed, old user number left
    freed.User = 9;
    ASSERT_TRUE(WriteOnlineEntry(1, freed));
    ASSERT_TRUE(WriteOnlineEntry(2, Entry(DeadPid(), 9)));    // a crashed line
    ASSERT_TRUE(WriteOnlineEntry(4, Entry(me, 9)));
    ASSERT_TRUE(WriteOnlineEntry(6, Entry(me, 9)));

    int found = 0;
    ASSERT_TRUE(FindUserOnOtherLine(0, 9, found));
    EXPECT_EQ(4, found);
    ASSERT_TRUE(FindUserOnOtherLine(4, 9, found));
    EXPECT_EQ(0, found);
    ASSERT_TRUE(FindUserOnOtherLine(0, 8, found));
    EXPECT_EQ(-1, found);

    fs::remove(Path());
    std::string why;
    EXPECT_FALSE(FindUserOnOtherLine(0, 9, found, &why));
    EXPECT_EQ(-1, found);
}

TEST_F(OnlineFile, CallersOnLine) {
    std::vector<OnlineCaller> callers;
    EXPECT_FALSE(ListOnlineCallers(callers));
    ASSERT_TRUE(CreateOnlineFile());
    ASSERT_TRUE(ListOnlineCallers(callers));
    EXPECT_TRUE(callers.empty());

    ASSERT_TRUE(WriteOnlineEntry(1, Entry(getpid(), -1)));
    ASSERT_TRUE(WriteOnlineEntry(3, Entry(getpid(), 0, LINE_CHAT, "08:00:00")));
    ASSERT_TRUE(WriteOnlineEntry(5, Entry(DeadPid(), 2)));
    ASSERT_TRUE(WriteOnlineEntry(255, Entry(getpid(), 12)));
    ASSERT_TRUE(ListOnlineCallers(callers));
    ASSERT_EQ(2u, callers.size());
    EXPECT_EQ(3, callers[0].Line);
    EXPECT_EQ(LINE_CHAT, callers[0].Entry.Flags);
    EXPECT_EQ("08:00:00", callers[0].Entry.LogonTime);
    EXPECT_EQ(255, callers[1].Line);
    EXPECT_EQ(12, callers[1].Entry.User);
}

}  // namespace

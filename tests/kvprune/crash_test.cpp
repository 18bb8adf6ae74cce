// kvprune killed at every step of its swap: the next program that takes the
// base lock finds the base as it was before the run, or whole after the
// pack, or whole after pack and renumbering; never a mix in which a header
// shows another message's text.  And the refusal to pack under a caller.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "common/lastread.h"
#include "common/msgbase_swap.h"
#include "common/online_status.h"
#include "common/users.h"
#include "tests/kvprune/prune_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

// What a swap may change: the parallel and text files, the last-read
// records and the users' highest-read numbers.
struct State {
    std::map<std::string, std::string> files;
    bool operator==(const State&) const = default;
};

// Polls until done() holds, for at most timeoutMs (scaled).
template <class F>
bool WaitUntil(F done, int timeoutMs) {
    for (int waited = 0; waited < ScaledTimeout(timeoutMs); waited += 10) {
        if (done()) return true;
        usleep(10 * 1000);
    }
    return done();
}

class PruneCrashTest : public PruneTest {
protected:
    // A message whose subject and text both name it, so that a header
    // pointing at the wrong text shows.
    void PostNamed(const std::string& name, const std::string& from, const std::string& to, bool isPrivate,
                   int daysAgo) {
        time_t at = kPruneNow - daysAgo * kDay;
        SetClock([at] { return at; });
        MsgHeader h;
        BuildMessageHeader(h, to, name, 0, 0, 0, isPrivate, std::nullopt, false, false, from);
        int32_t offset = 0;
        ASSERT_TRUE(AppendMessage(MsgText{"Kivo v1.0", {"text of " + name}}, h, offset));
        SetClock(nullptr);
    }

    State Take() const {
        State s;
        for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kLastReadFile})
            s.files[f] = ReadBaseFile(dir(), f);
        s.files[kUsersFile] = ReadBaseFile(board.DataDir(), kUsersFile);
        return s;
    }

    // Every file of the base directory and "users.bbs" as they were.
    void Restore(const std::map<std::string, std::string>& base, const std::string& users) {
        for (const auto& e : fs::directory_iterator(dir())) fs::remove(e.path());
        for (const auto& [name, bytes] : base) board.WriteFile(dir() / name, bytes);
        board.WriteFile(board.DataDir() / kUsersFile, users);
    }

    std::map<std::string, std::string> BaseFiles() const {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::directory_iterator(dir()))
            out[e.path().filename().string()] = ReadBaseFile(dir(), e.path().filename().c_str());
        return out;
    }

    RunResult PruneKilledAt(const std::string& point, int pass) {
        return RunProgram({ProgramPath("kvprune"), "-m0", "-p", "-n"}, board.root(),
                          {"KV_TEST_NOW=" + std::to_string(kPruneNow),
                           "KV_TEST_KILL_AT=" + point + ":" + std::to_string(pass)});
    }
};

TEST_F(PruneCrashTest, KilledAtEachStepOfTheSwapLeavesAWholeBase) {
    PostNamed("gone", "Ann Writer", "All", false, 50);
    PostNamed("private to Terry", "Sam Sysop", "Terry Tester", true, 1);
    PostNamed("public one", "Ann Writer", "All", false, 1);
    PostNamed("old private", "Sam Sysop", "Terry Tester", true, 60);
    PostNamed("public two", "Terry Tester", "All", false, 1);
    ASSERT_EQ(Prune({"-m0"}).status, 0);  // 1 and 4 purged: the pack moves the rest

    // Users 0 and 1 have read up to 5 and 3 in area 0.
    for (int u = 0; u < 2; ++u) {
        UserRecord rec;
        ASSERT_TRUE(ReadUserRecord(u, rec));
        rec.HighestRead = u == 0 ? 5 : 3;
        ASSERT_TRUE(WriteUserRecord(u, rec));
        LastReadRecord lr;
        lr.LastRead[0] = uint32_t(rec.HighestRead);
        ASSERT_TRUE(LastReadIO(u, lr, LastReadDirection::kWrite));
    }
    const auto oldBase = BaseFiles();
    const std::string oldUsers = ReadBaseFile(board.DataDir(), kUsersFile);
    const State before = Take();

    ASSERT_EQ(Prune({"-m0", "-p"}).status, 0);
    const State packed = Take();
    Restore(oldBase, oldUsers);
    ASSERT_EQ(Prune({"-m0", "-p", "-n"}).status, 0);
    const State done = Take();
    ASSERT_NE(packed, before);
    ASSERT_NE(done, packed);

    struct Point {
        const char* name;
        int passes;  // how many there are in one run
    };
    for (const Point& p : {Point{"swap", 40}, Point{"users", 2}}) {
        int kills = 0;
        for (int pass = 1; pass <= p.passes; ++pass) {
            Restore(oldBase, oldUsers);
            RunResult r = PruneKilledAt(p.name, pass);
            if (r.status == 0) break;  // past the last step of this kind
            ASSERT_EQ(r.status, 128 + SIGKILL) << p.name << " " << pass << ": " << r.err;
            ++kills;

            // The next program to take the lock finishes what the run left.
            { MsgBaseLock next; ASSERT_TRUE(next) << p.name << " " << pass; }
            EXPECT_FALSE(fs::exists(dir() / kSwapJournalFile));
            State now = Take();
            EXPECT_TRUE(now == before || now == packed || now == done) << p.name << " killed at pass " << pass;

            MsgBaseContents base = ReadMsgBase(dir());
            ASSERT_TRUE(base.InStep()) << base.Problem();
            for (const StoredMessage& m : base.messages) {
                ASSERT_FALSE(m.text.Lines.empty());
                EXPECT_EQ(m.text.Lines.back(), "text of " + m.header.Subject) << p.name << " " << pass;
            }
            // A backup is the old file itself, never a second name of the live one.
            for (const char* f : {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile}) {
                struct stat live, backup;
                if (stat((dir() / f).c_str(), &live) == 0 &&
                    stat((dir() / (std::string(f) + ".B")).c_str(), &backup) == 0) {
                    EXPECT_NE(live.st_ino, backup.st_ino) << f;
                }
            }
        }
        EXPECT_GT(kills, 1) << p.name;
    }
}

TEST_F(PruneCrashTest, KilledAtEachWriteOfThePurgeLeavesEveryMessageLiveOrDeletedInTheIndex) {
    // 25 messages; 1-3 and 22-23 are old.  Their headers lie too far apart
    // for one run, so the purge writes the index, two runs of headers and
    // the recipient entries.
    for (int i = 1; i <= 25; ++i) {
        bool old = i <= 3 || i == 22 || i == 23;
        PostNamed("message " + std::to_string(i), "Ann Writer", "Terry Tester", false, old ? 50 : 1);
    }
    const auto oldBase = BaseFiles();
    const std::string oldUsers = ReadBaseFile(board.DataDir(), kUsersFile);
    const std::vector<int32_t> kept = {4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 24, 25};

    int kills = 0;
    for (int pass = 1; pass <= 20; ++pass) {
        Restore(oldBase, oldUsers);
        RunResult r = RunProgram({ProgramPath("kvprune"), "-m0"}, board.root(),
                                 {"KV_TEST_NOW=" + std::to_string(kPruneNow), "KV_TEST_KILL_AT=purge:" + std::to_string(pass)});
        if (r.status == 0) break;  // past the last write
        ASSERT_EQ(r.status, 128 + SIGKILL) << pass << ": " << r.err;
        ++kills;

        // Each message is live, or deleted in the index before the later
        // files say so: a deleted header or recipient only behind a
        // deleted index entry.
        MsgBaseContents base = ReadMsgBase(dir());
        ASSERT_TRUE(base.InStep()) << base.Problem();
        for (const StoredMessage& m : base.messages) {
            if (m.header.Status & MSG_DELETED) {
                EXPECT_LT(m.index.MsgNumber, 0) << pass << " " << m.header.Subject;
            }
            if (m.recipient == kRecipientDeleted) {
                EXPECT_TRUE(m.header.Status & MSG_DELETED) << pass;
            }
        }
        // The next run purges what is left, and counts what stays.
        ASSERT_EQ(Prune({"-m0"}).status, 0);
        EXPECT_EQ(LiveNumbers(), kept) << "killed at write " << pass;
        base = ReadMsgBase(dir());
        ASSERT_TRUE(base.info);
        EXPECT_EQ(base.info->TotalMessages, int32_t(kept.size()));
        EXPECT_EQ(base.info->AreaCounts[0], int32_t(kept.size()));
        EXPECT_EQ(base.info->LowestNumber, 4);
        EXPECT_EQ(base.info->HighestNumber, 25);
    }
    EXPECT_EQ(kills, 4) << "the index, two runs of headers and the recipients";
}

TEST_F(PruneCrashTest, PackAndRenumberWaitForTheLinesToEmpty) {
    PostNamed("gone", "Ann Writer", "All", false, 50);
    PostNamed("kept", "Ann Writer", "All", false, 1);
    ASSERT_EQ(Prune({"-m0"}).status, 0);
    const auto before = BaseFiles();

    // A caller program on line 3 (a process that runs), and a dead one on 1.
    pid_t caller = fork();
    if (caller == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(caller, 0);
    ASSERT_TRUE(CreateOnlineFile());
    OnlineEntry dead, live;
    dead.Pid = 999999;
    live.Pid = int32_t(caller);
    ASSERT_TRUE(WriteOnlineEntry(1, dead));
    ASSERT_TRUE(WriteOnlineEntry(3, live));

    for (const char* what : {"-p", "-n"}) {
        RunResult r = Prune({"-m0", what});
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_NE(r.err.find("Cannot pack or renumber the messages while a caller is on line 3"), std::string::npos)
            << r.err;
        EXPECT_EQ(BaseFiles(), before) << what;
    }
    EXPECT_NE(PruneLogText().find("Cannot pack or renumber the messages while a caller is on line 3"),
              std::string::npos);
    EXPECT_EQ(Prune({"-m0"}).status, 0) << "a purge alone runs";

    // With -w the run waits, and packs once the caller has gone.
    std::vector<std::string> args = {ProgramPath("kvprune"), "-m0", "-p", "-k", "-w"};
    pid_t pruner = fork();
    if (pruner == 0) {
        if (chdir(board.root().c_str()) != 0) _exit(126);
        setenv("KV_TEST_NOW", std::to_string(kPruneNow).c_str(), 1);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ASSERT_GT(pruner, 0);
    ASSERT_TRUE(WaitUntil([&] { return PruneLogText().find("Waiting for line 3") != std::string::npos; }, 10000));
    EXPECT_EQ(BaseFiles(), before);
    kill(caller, SIGKILL);
    waitpid(caller, nullptr, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pruner, &status, 0), pruner);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(LiveNumbers(), (std::vector<int32_t>{2}));
    EXPECT_EQ(ReadMsgBase(dir()).messages.size(), 1u);
}

}  // namespace
}  // namespace kv::test

// kvprune run as a process on bases the test writes: what a purge takes,
// what it logs, and its failures.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/kvprune/prune_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

struct PurgeCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> config;  // board.Set before posting
    std::vector<PostSpec> posts;                              // numbers 1, 2, ... in this order
    std::vector<std::string> args;
    std::vector<int32_t> survivors;
    const char* logged;
};
// A case shows as its name, never as a dump of its bytes.
void PrintTo(const PurgeCase& c, std::ostream* os) { *os << c.name; }

PostSpec At(int area, int daysAgo, uint8_t status = 0) {
    PostSpec p;
    p.area = area;
    p.daysAgo = daysAgo;
    p.status = status;
    return p;
}

PostSpec Dated(const char* text, int daysAgo) {
    PostSpec p = At(0, daysAgo);
    p.dateText = text;
    return p;
}

class PurgeTableTest : public PruneTest, public ::testing::WithParamInterface<PurgeCase> {};

TEST_P(PurgeTableTest, TakesWhatTheRulesSay) {
    const PurgeCase& c = GetParam();
    for (const auto& [key, value] : c.config) board.Set(key, value);
    Reconfigure();
    for (const PostSpec& p : c.posts) ASSERT_NE(Post(p), 0);

    RunResult r = Prune(c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LiveNumbers(), c.survivors);
    std::string logText = PruneLogText();
    EXPECT_NE(logText.find(c.logged), std::string::npos) << logText;

    // Every purged message is marked in all three parallel files, and the
    // counters hold what is left.
    MsgBaseContents base = ReadMsgBase(dir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    std::array<int32_t, kMsgAreaCount> counts{};
    for (const StoredMessage& m : base.messages) {
        if (m.index.MsgNumber > 0) {
            ++counts[size_t(m.index.MsgArea)];
            EXPECT_FALSE(m.header.Status & MSG_DELETED);
            continue;
        }
        EXPECT_EQ(m.index.MsgArea, -(m.header.MsgArea + 1));
        EXPECT_TRUE(m.header.Status & MSG_DELETED);
        EXPECT_EQ(m.recipient, "Deleted");
    }
    ASSERT_TRUE(base.info);
    EXPECT_EQ(base.info->AreaCounts, counts);
    EXPECT_EQ(base.info->TotalMessages, int32_t(c.survivors.size()));
    EXPECT_EQ(base.info->LowestNumber, c.survivors.empty() ? 0 : c.survivors.front());
    EXPECT_EQ(base.info->HighestNumber, c.survivors.empty() ? 0 : c.survivors.back());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PurgeTableTest,
    ::testing::Values(
        PurgeCase{"CountPerArea", {},
                  {At(0, 9), At(0, 8), At(1, 8), At(0, 7), At(0, 6), At(1, 5), At(0, 5)},
                  {"-m3"}, {3, 4, 5, 6, 7}, "2 messages deleted"},
        PurgeCase{"CountInChosenAreasOnly", {},
                  {At(0, 9), At(1, 9), At(0, 8), At(1, 8), At(0, 7), At(1, 7)},
                  {"-m1", "-b2"}, {1, 3, 5, 6}, "2 messages deleted"},
        PurgeCase{"AgeWithKeepDays", {},
                  {At(0, 41), At(0, 40), At(0, 11, MSG_RECEIVED), At(0, 10, MSG_RECEIVED), At(1, 100)},
                  {"-m0", "-d40", "-r10"}, {2, 4}, "3 messages deleted"},
        PurgeCase{"OneMessageTwoBlanks", {}, {At(0, 41), At(0, 1)}, {"-m0"}, {2}, "1 message  deleted"},
        PurgeCase{"DefaultsPurgeByCountOnly", {}, {At(0, 300), At(1, 300)}, {"-t"}, {1, 2},
                  "0 message  deleted"},
        PurgeCase{"AreaLimitsFromTheConfiguration",
                  {{"MsgAreas[0].MaxMessages", "2"}, {"MsgAreas[1].MaxMessages", "0"},
                   {"MsgAreas[1].KeepDays", "5"}},
                  {At(0, 3), At(0, 2), At(0, 1), At(1, 6), At(1, 5)},
                  {"-o"}, {2, 3, 5}, "2 messages deleted"},
        PurgeCase{"UnreadableDateAgesByWrittenAt", {},
                  {Dated("soon", 50), Dated("", 2), Dated("23/13/40", 45), At(0, 30)},
                  {"-m0"}, {2, 4}, "2 messages deleted"}),
    [](const ::testing::TestParamInfo<PurgeCase>& i) { return std::string(i.param.name); });

TEST_F(PruneTest, PurgedRepliesLoseTheirLinks) {
    int32_t first = Post(At(0, 50));  // purged
    PostSpec answer = At(0, 1);
    answer.replyTo = first;
    int32_t second = Post(answer);    // answers a purged message
    SetLatestReply(0, second);
    int32_t third = Post(At(0, 1));   // its latest reply is purged
    PostSpec late = At(0, 60);
    late.replyTo = third;
    int32_t fourth = Post(late);
    SetLatestReply(2, fourth);
    PostSpec both = At(0, 1);         // answers a message that stays
    both.replyTo = second;
    int32_t fifth = Post(both);
    SetLatestReply(1, fifth);

    RunResult r = Prune({"-m0", "-t"});
    ASSERT_EQ(r.status, 0) << r.err;
    MsgBaseContents base = ReadMsgBase(dir());
    ASSERT_EQ(base.messages.size(), 5u);
    EXPECT_EQ(base.messages[1].header.ReplyTo, 0);
    EXPECT_EQ(base.messages[1].header.LatestReply, fifth);
    EXPECT_EQ(base.messages[2].header.LatestReply, 0);
    EXPECT_EQ(base.messages[4].header.ReplyTo, second);
    std::string logText = PruneLogText();
    EXPECT_NE(logText.find("Removing old links"), std::string::npos);
    EXPECT_NE(logText.find("2 replies removed"), std::string::npos) << logText;
}

TEST_F(PruneTest, LinksToPurgedMessagesGoWhereverTheyLie) {
    // Over a thousand messages, so that links reach from one end of the
    // base to the other.  1095-1097 are old, and so are 1-3 unless their
    // dates are made new, which puts the first purge past the first
    // thousand records.
    constexpr int kCount = 1100;
    auto oldAtEnd = [](int n) { return n >= 1095 && n <= 1097; };
    for (int n = 1; n <= kCount; ++n) ASSERT_EQ(Post(At(0, n <= 3 || oldAtEnd(n) ? 50 : 1)), n);
    struct Links {
        int record;
        int32_t reply, latest;
    };
    const std::vector<Links> links = {
        {1099, 2, 0},     // back to an early message far behind
        {4, 0, 1096},     // on to a purged message far ahead
        {5, 3, 1095},     // both, each way
        {6, 0, 1098},     // on to one that stays
        {7, 6, 1097},     // back to one that stays, on to one that goes
        {1098, 1097, 0},  // to the purged neighbour
    };
    for (const Links& l : links) {
        MsgHeader h;
        ASSERT_TRUE(ReadMessageHeader(h, l.record));
        h.ReplyTo = l.reply;
        h.LatestReply = l.latest;
        ASSERT_TRUE(WriteMessageHeader(h, l.record));
    }
    const std::string index = board.ReadFile(dir() / kMsgIndexFile), headers = board.ReadFile(dir() / kMsgHeaderFile);
    MsgHeader recent;
    ASSERT_TRUE(ReadMessageHeader(recent, 10));

    // As appending leaves the numbers, rising, and with two of them swapped,
    // which the purge must not take for rising.
    for (bool earlyOld : {true, false}) {
        for (bool rising : {true, false}) {
            SCOPED_TRACE(std::string(earlyOld ? "1-3 old" : "1-3 new") + (rising ? ", rising" : ", not rising"));
            board.WriteFile(dir() / kMsgIndexFile, index);
            board.WriteFile(dir() / kMsgHeaderFile, headers);
            board.WriteFile(board.DataDir() / "kivo0.log", "");
            for (int record = 0; record < 3 && !earlyOld; ++record) {
                MsgHeader h;
                ASSERT_TRUE(ReadMessageHeader(h, record));
                h.DateText = recent.DateText;
                h.WrittenAt = recent.WrittenAt;
                ASSERT_TRUE(WriteMessageHeader(h, record));
            }
            if (!rising) {
                for (int record : {500, 501}) {
                    MsgIndexRecord ix;
                    ASSERT_TRUE(ReadMessageIndex(ix, record));
                    ix.MsgNumber = record == 500 ? 502 : 501;
                    ASSERT_TRUE(WriteMessageIndex(ix, record));
                }
            }
            auto old = [&](int32_t n) { return oldAtEnd(n) || (earlyOld && n >= 1 && n <= 3); };
            RunResult r = Prune({"-m0", "-t"});
            ASSERT_EQ(r.status, 0) << r.err;
            MsgBaseContents base = ReadMsgBase(dir());
            ASSERT_EQ(base.messages.size(), size_t(kCount));
            // A link stays unless its message went.
            int relinked = 0;
            for (const Links& l : links) {
                const MsgHeader& h = base.messages[size_t(l.record)].header;
                EXPECT_EQ(h.ReplyTo, old(l.reply) ? 0 : l.reply) << l.record;
                EXPECT_EQ(h.LatestReply, old(l.latest) ? 0 : l.latest) << l.record;
                relinked += old(l.reply) || old(l.latest);
            }
            int gone = 0;
            for (int n = 1; n <= kCount; ++n) {
                EXPECT_EQ(base.messages[size_t(n - 1)].index.MsgNumber < 0, old(n)) << n;
                gone += old(n);
            }
            std::string logText = PruneLogText();
            EXPECT_NE(logText.find(std::to_string(gone) + " messages deleted"), std::string::npos) << logText;
            EXPECT_NE(logText.find(std::to_string(relinked) + " replies removed"), std::string::npos) << logText;
        }
    }
}

TEST_F(PruneTest, RunIsFramedInTheLog) {
    Post(At(0, 2));
    Post(At(0, 1));
    RunResult r = Prune({"-t", "-m1", "-fmaint.log"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string logText = board.ReadFile(board.DataDir() / "maint.log");
    for (const char* line : {"------------- kvprune - v0.1 ----------------\n",
                             "Beginning of operation * Verbose mode: ON\n", "msgtxt.bbs    ",
                             "1 message  deleted\n", "General              1 message \n", "End of operation\n",
                             "------------------------------------------\n\n"})
        EXPECT_NE(logText.find(line), std::string::npos) << line << "\n" << logText;
    EXPECT_EQ(logText.rfind("* ", 0), 0u);
    EXPECT_NE(r.err.find(" record(s) read\n"), std::string::npos);
}

TEST_F(PruneTest, UsageAndOptionErrors) {
    RunResult usage = Prune({});
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.err.rfind("kvprune v1.0", 0), 0u);
    EXPECT_EQ(usage.out.rfind("Usage: kvprune [h] [SWITCH] [-o]\n\n  where SWITCH mean:\n", 0), 0u);
    EXPECT_NE(usage.out.find("    -o    - use info from kvconfig.bbs.\n"), std::string::npos);

    RunResult zero = Prune({"-b5-5"});
    EXPECT_EQ(zero.status, 1);
    EXPECT_EQ(zero.out.rfind("Value of argument \"-b\" cannot be ZERO.\n\a", 0), 0u) << zero.out;

    RunResult bad = Prune({"-q"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out.rfind("Bad argument -> q.\n\a", 0), 0u);

    RunResult version = Prune({"-v"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("kvprune v1.0", 0), 0u);
    EXPECT_FALSE(fs::exists(board.DataDir() / "kivo0.log"));
}

TEST_F(PruneTest, FailuresToLoadOrOpenEndWithAStatus) {
    fs::path empty = board.root() / "elsewhere";
    fs::create_directories(empty);
    RunResult noConfig = RunProgram({ProgramPath("kvprune"), "-t"}, empty);
    EXPECT_EQ(noConfig.status, 1);
    EXPECT_EQ(noConfig.err, "Cannot load Kivo configuration file, please check!\n");

    // The same file found through KIVOCNF runs.
    RunResult viaEnv = RunProgram({ProgramPath("kvprune"), "-t"}, empty,
                                  {"KIVOCNF=" + (board.root() / "kvconfig.bbs").string()});
    EXPECT_EQ(viaEnv.status, 1) << "no message base yet";
    EXPECT_NE(viaEnv.err.find("Cannot open message info file\n"), std::string::npos) << viaEnv.err;

    Post(At(0, 1));
    fs::remove(dir() / kMsgHeaderFile);
    RunResult noHeaders = Prune({"-m0"});
    EXPECT_EQ(noHeaders.status, 1);
    EXPECT_NE(noHeaders.err.find("Cannot open message header file\n"), std::string::npos) << noHeaders.err;
}

TEST_F(PruneTest, WaitsForTheBaseLock) {
    Post(At(0, 50));
    std::optional<MsgBaseLock> held;
    held.emplace();
    ASSERT_TRUE(held->ok());
    RunResult r;
    auto start = std::chrono::steady_clock::now();
    std::thread run([&] { r = Prune({"-m0"}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Nothing may change while another writer holds the base.
    EXPECT_EQ(LiveNumbers(), std::vector<int32_t>{1});
    held.reset();
    run.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(LiveNumbers().empty());
}

}  // namespace
}  // namespace kv::test

// kvprune's pack and renumbering, run as a process: the files read back
// whole, the users' last-read numbers after a renumbering, and a pack that
// fails on its way leaving the base as it was.
#include <csignal>
#include <map>

#include "common/lastread.h"
#include "common/users.h"
#include "tests/kvprune/prune_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

const std::string kPackPid = "\x01PID: Kvprune v0.1\n";

PostSpec Msg(int area, int daysAgo, std::vector<std::string> lines = {"Hello"}, int32_t replyTo = 0) {
    PostSpec p;
    p.area = area;
    p.daysAgo = daysAgo;
    p.lines = std::move(lines);
    p.replyTo = replyTo;
    return p;
}

// Every file of a directory with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) out[e.path().filename().string()] = ReadBaseFile(dir, e.path().filename().c_str());
    return out;
}

TEST_F(PruneTest, PackKeepsTheLiveMessagesWithOnePidLine) {
    const std::string l131(131, 'a'), l300(300, 'c');
    Post(Msg(0, 50, {"gone"}));
    Post(Msg(0, 1, {"First", "  indented  ", l131, l300}));
    Post(Msg(1, 1, {"Bye"}));
    const std::string oldText = ReadBaseFile(dir(), kMsgTextFile);

    RunResult r = Prune({"-m0", "-p"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text2 = kPackPid + "\x01PID: Kivo v1.0\nFirst\n  indented\n" + l131 + "\n" +
                              l300.substr(0, 131) + "\n" + l300.substr(131, 131) + "\n" + l300.substr(262) +
                              "\n\x1A";
    const std::string text3 = kPackPid + "\x01PID: Kivo v1.0\nBye\n\x1A";
    EXPECT_EQ(ReadBaseFile(dir(), kMsgTextFile), text2 + text3);

    MsgBaseContents base = ReadMsgBase(dir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_EQ(base.messages.size(), 2u);
    const int32_t numbers[] = {2, 3}, areas[] = {0, 1}, offsets[] = {0, int32_t(text2.size())};
    for (size_t i = 0; i < 2; ++i) {
        const StoredMessage& m = base.messages[i];
        EXPECT_EQ(m.index.MsgNumber, numbers[i]);
        EXPECT_EQ(m.index.MsgArea, areas[i]);
        EXPECT_EQ(m.header.MsgNumber, numbers[i]);
        EXPECT_EQ(m.header.TextOffset, offsets[i]);
        EXPECT_EQ(m.header.FromName, "Ann Writer");
        EXPECT_EQ(m.recipient, "Joe Caller");
        EXPECT_TRUE(m.textEnded);
        EXPECT_EQ(m.text.Pid, "Kvprune v0.1");
    }
    ASSERT_TRUE(base.info);
    EXPECT_EQ(base.info->TotalMessages, 2);
    EXPECT_NE(PruneLogText().find("Packing procedure: 2 record(s) copied"), std::string::npos);

    // The originals stay as ".B" files; the text one was never touched.
    EXPECT_EQ(ReadBaseFile(dir(), "msgtxt.bbs.B"), oldText);
    EXPECT_EQ(ReadBaseFile(dir(), "msghdr.bbs.B").size(), 3 * MsgHeader::kSize);
    EXPECT_EQ(ReadBaseFile(dir(), "msgidx.bbs.B").size(), 3 * MsgIndexRecord::kSize);
    EXPECT_EQ(ReadBaseFile(dir(), "msgtoidx.bbs.B").size(), 3 * MsgToIndexRecord::kSize);

    // A second pack keeps one line of ours, and -k leaves no backups.
    RunResult again = Prune({"-m0", "-p", "-k"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadBaseFile(dir(), kMsgTextFile), text2 + text3);
    for (const auto& [name, bytes] : Snapshot(dir())) {
        EXPECT_EQ(name.find(".B"), std::string::npos) << name;
        EXPECT_EQ(name.find(".new"), std::string::npos) << name;
    }
}

// The old texts are read a window of a megabyte at a time: texts that run
// across a window's end, and one longer than a window, come out whole.
TEST_F(PruneTest, PackCopiesTextsAcrossAndLongerThanItsReadingWindow) {
    std::string want;
    for (int i = 0; i < 400; ++i) {
        // 60 to 8,000 bytes, so that the windows end at every kind of place.
        std::vector<std::string> lines(size_t(1 + (i * 37) % 100), std::string(size_t(20 + i % 60), char('a' + i % 26)));
        if (i == 150) lines.assign(30000, std::string(99, 'L'));  // about 3 MB
        Post(Msg(i % 3, 1, lines));
        want += kPackPid + "\x01PID: Kivo v1.0\n";
        for (const std::string& l : lines) want += l + "\n";
        want += "\x1A";
    }
    RunResult r = Prune({"-m0", "-p", "-k"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string got = ReadBaseFile(dir(), kMsgTextFile);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    MsgBaseContents base = ReadMsgBase(dir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_EQ(base.messages.size(), 400u);
    for (const StoredMessage& m : base.messages) EXPECT_TRUE(m.textEnded) << m.header.MsgNumber;
}

TEST_F(PruneTest, RenumberLeavesOneToNAndTheUsersLastReadRight) {
    // Areas 0 and 1 in turn; 3 is purged, 5 answers it and 6 answers 4.
    Post(Msg(0, 1));
    Post(Msg(1, 1));
    Post(Msg(0, 50));
    Post(Msg(1, 1));
    Post(Msg(0, 1, {"Re"}, 3));
    Post(Msg(1, 1, {"Re"}, 4));
    SetLatestReply(3, 6);

    // Users 0 and 1 come with the sample board; 2 is added here.
    UserRecord extra;
    ClearUserRecord(extra);
    extra.Name = "Pat Reader";
    ASSERT_EQ(AppendUserRecord(extra), 2);
    struct UserCase {
        int32_t highest;
        std::map<int, uint32_t> before, after;
        int32_t highestAfter;
    } const users[] = {
        // Read up to the purged 3 of area 0 (the next, 5, stays unread), all
        // of area 1 up to 4, and a number in an area without messages.
        {6, {{0, 3}, {1, 4}, {2, 9}}, {{0, 3}, {1, 3}, {2, 0}}, 3},
        // Never read anything: left alone.
        {0, {{0, 5}}, {{0, 5}}, 0},
        // Beyond the area's last message, before its first, an undefined area.
        {6, {{0, 10}, {1, 1}, {50, 7}}, {{0, 4}, {1, 1}, {50, 7}}, 4},
    };
    for (int u = 0; u < 3; ++u) {
        UserRecord rec;
        ASSERT_TRUE(ReadUserRecord(u, rec));
        rec.HighestRead = users[u].highest;
        ASSERT_TRUE(WriteUserRecord(u, rec));
        LastReadRecord lr;
        for (auto [area, n] : users[u].before) lr.LastRead[size_t(area)] = n;
        ASSERT_TRUE(LastReadIO(u, lr, LastReadDirection::kWrite));
    }

    RunResult r = Prune({"-m0", "-p", "-n", "-k"});
    ASSERT_EQ(r.status, 0) << r.err << PruneLogText();

    MsgBaseContents base = ReadMsgBase(dir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_EQ(base.messages.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(base.messages[i].index.MsgNumber, int32_t(i + 1));
        EXPECT_EQ(base.messages[i].header.MsgNumber, int32_t(i + 1));
    }
    EXPECT_EQ(base.messages[3].header.ReplyTo, 0);      // old 5 answered the purged 3
    EXPECT_EQ(base.messages[4].header.ReplyTo, 3);      // old 6 answers old 4, now 3
    EXPECT_EQ(base.messages[2].header.LatestReply, 5);  // old 4's reply, old 6, now 5
    ASSERT_TRUE(base.info);
    EXPECT_EQ(base.info->LowestNumber, 1);
    EXPECT_EQ(base.info->HighestNumber, 5);
    EXPECT_EQ(base.info->TotalMessages, 5);

    for (int u = 0; u < 3; ++u) {
        UserRecord rec;
        ASSERT_TRUE(ReadUserRecord(u, rec));
        EXPECT_EQ(rec.HighestRead, users[u].highestAfter) << "user " << u;
        LastReadRecord lr;
        ASSERT_TRUE(LastReadIO(u, lr, LastReadDirection::kRead));
        LastReadRecord want;
        for (auto [area, n] : users[u].after) want.LastRead[size_t(area)] = n;
        EXPECT_EQ(lr.LastRead, want.LastRead) << "user " << u;
    }
    EXPECT_EQ(Snapshot(dir()).count("msghdr.bbs.old"), 0u);
}

// The files of a snapshot that a run left under mkstemp names ("msgtxt.bbs.
// a1B2c3"), taken out of it.
std::vector<std::string> TakeTemporaryFiles(std::map<std::string, std::string>& files) {
    std::vector<std::string> out;
    for (auto it = files.begin(); it != files.end();) {
        size_t dot = it->first.rfind('.');
        if (it->first.size() - dot == 7 && it->first.find(".bbs.") != std::string::npos) {
            out.push_back(it->first);
            it = files.erase(it);
        } else {
            ++it;
        }
    }
    return out;
}

// A file-size limit below the new text file's size stops the pack halfway
// through writing it: as a write that fails (the signal ignored) or as a
// kill (the signal's default).  Either way the base stays as it was.
TEST_F(PruneTest, PackStoppedWhileWritingLeavesTheBaseAsItWas) {
    const std::vector<std::string> lines(100, std::string(200, 'x'));  // 60 kB kept
    for (int i = 0; i < 4; ++i) Post(Msg(0, i == 0 ? 50 : 1, lines));
    ASSERT_EQ(Prune({"-m0"}).status, 0);  // a deleted record for the pack to drop
    const auto before = Snapshot(dir());
    const std::string users = ReadBaseFile(board.DataDir(), kUsersFile);

    struct Case {
        const char* name;
        const char* shell;
        int status;
        bool leavesFiles;  // new files under temporary names
    } const cases[] = {
        {"failed write", "trap '' XFSZ; ulimit -f 40 && exec \"$0\" -m0 -p -n", 1, false},
        {"killed", "ulimit -f 40 && exec \"$0\" -m0 -p -n", 128 + SIGXFSZ, true},
    };
    for (const Case& c : cases) {
        fs::remove(board.DataDir() / "kivo0.log");
        RunResult r = RunProgram({"/bin/sh", "-c", c.shell, ProgramPath("kvprune")}, board.root(),
                                 {"KV_TEST_NOW=" + std::to_string(kPruneNow)});
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
        if (c.status == 1) {
            EXPECT_NE(PruneLogText().find("File too large"), std::string::npos) << PruneLogText();
            EXPECT_NE(PruneLogText().find("Cannot pack messages files"), std::string::npos);
            EXPECT_EQ(PruneLogText().find("Renumbering"), std::string::npos);
        }
        auto after = Snapshot(dir());
        EXPECT_EQ(!TakeTemporaryFiles(after).empty(), c.leavesFiles) << c.name;
        EXPECT_EQ(after, before) << c.name;
        EXPECT_EQ(ReadBaseFile(board.DataDir(), kUsersFile), users) << c.name;
    }

    // The next run clears what the killed one left and makes the files afresh.
    ASSERT_EQ(Prune({"-m0", "-p", "-n", "-k"}).status, 0);
    EXPECT_EQ(LiveNumbers(), (std::vector<int32_t>{1, 2, 3}));
    auto after = Snapshot(dir());
    EXPECT_TRUE(TakeTemporaryFiles(after).empty());
    EXPECT_NE(PruneLogText().find("left by an interrupted run"), std::string::npos);
}

}  // namespace
}  // namespace kv::test

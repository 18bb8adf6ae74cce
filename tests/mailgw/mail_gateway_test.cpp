// The gateway's passes run inside the test process on a real board: the
// mailbox lock and its wait (with a clock of the test's own), mailboxes
// that must stay untouched, posting, and the mail requests with a sender
// script that records what it was given.
#include <gtest/gtest.h>
#include <sched.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <filesystem>

#include "common/msg_records.h"
#include "common/runtime.h"
#include "server/mail_gateway.h"
#include "server/server_log.h"
#include "server/server_settings.h"
#include "tests/mailgw/gateway_support.h"
#include "tests/support/msgbase_reader.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::server;

namespace {

const std::string kOneMail =
    "From joe@far.org Sat Mar  9 10:15:00 1996\n"
    "From: Joe Far <joe@far.org>\nTo: alice@kivo\nSubject: Hello\nDate: Sat, 9 Mar 1996 10:15 +0100\n\n"
    "Hello Alice.\n";

class Gateway : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteMailUsers(board);
        SetConfig(board.config());
        SetLogWriter(WriteServerLogLine);
        SetMailboxLockSleep([this](unsigned) {
            ++sleeps;
            if (sleeps == releaseLockAfter) fs::remove(Lock());
        });
        setenv("TMPDIR", board.root().c_str(), 1);
        Settings().MailQueued = 0;
    }
    void TearDown() override {
        SetMailboxLockSleep(nullptr);
        SetLogWriter(nullptr);
        SetConfig(ConfigRecord{});
        unsetenv("TMPDIR");
    }
    fs::path Mailbox() const { return board.config().MailboxPath; }
    fs::path Lock() const { return Mailbox().string() + ".lock"; }
    fs::path MailFile(const char* name) const { return fs::path(board.config().MailDir) / name; }
    std::vector<std::string> Log() const { return test::ServerLogLines(board); }
    void Use(const std::string& key, const std::string& value) {
        board.Set(key, value);
        SetConfig(board.config());
    }
    // Request files left behind in the temporary directory.
    int RequestFilesLeft() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(board.root()))
            if (e.path().filename().string().rfind("kvmail", 0) == 0) ++n;
        return n;
    }

    test::TempBoard board;
    int sleeps = 0;
    int releaseLockAfter = -1;
};

TEST_F(Gateway, LockHeldForTheWholeWaitLeavesTheMailboxAlone) {
    board.WriteFile(Mailbox(), kOneMail);
    board.WriteFile(Lock(), "");
    ImportIncomingMail();
    EXPECT_EQ(sleeps, 46);
    auto log = Log();
    EXPECT_TRUE(test::LogHas(log, "There is still a lock on mail box after 45 seconds"));
    EXPECT_TRUE(test::LogHas(log, "Cannot move " + Mailbox().string() + " to the mail directory"));
    EXPECT_EQ(board.ReadFile(Mailbox()), kOneMail);
    EXPECT_TRUE(fs::exists(Lock())) << "the other holder's lock is not ours to remove";
    EXPECT_FALSE(fs::exists(MailFile(kIncomingFile)));
}

TEST_F(Gateway, LockGivenUpDuringTheWaitThenImports) {
    board.WriteFile(Mailbox(), kOneMail);
    board.WriteFile(Lock(), "");
    releaseLockAfter = 3;
    ImportIncomingMail();
    EXPECT_EQ(sleeps, 3);
    EXPECT_FALSE(fs::exists(Mailbox()));
    EXPECT_FALSE(fs::exists(Lock()));
    EXPECT_EQ(board.ReadFile(MailFile(kIncomingFile)), kOneMail);
    EXPECT_TRUE(test::LogHas(Log(), "Message #1 posted to Alice Martin in area 2"));
}

TEST_F(Gateway, MailboxesThatCannotBeSplitStayUntouched) {
    struct Case {
        const char* name;
        std::string mailbox;
        bool mmdf;
        const char* logged;
    } cases[] = {
        {"forwarding", "Forward to joe@far.org\n", false, "Cannot process forwarded mail box"},
        {"no From line", "Return-Path: <joe@far.org>\n" + kOneMail, false, "Mail box is corrupted, cannot process it"},
        {"From line where MMDF is expected", kOneMail, true, "Mail box is corrupted, cannot process it"},
    };
    for (const auto& c : cases) {
        Use("MmdfMailbox", c.mmdf ? "1" : "0");
        fs::remove(board.DataDir() / "server.log");
        board.WriteFile(Mailbox(), c.mailbox);
        ImportIncomingMail();
        EXPECT_EQ(board.ReadFile(Mailbox()), c.mailbox) << c.name;
        EXPECT_FALSE(fs::exists(MailFile(kIncomingFile))) << c.name;
        EXPECT_FALSE(fs::exists(Lock())) << c.name;
        auto log = Log();
        EXPECT_TRUE(test::LogHas(log, c.logged)) << c.name;
        EXPECT_EQ(log.size(), 2u) << c.name << ": only the pass and the refusal";
    }
    // An empty mailbox holds no mail: nothing happens, nothing is logged.
    board.WriteFile(Mailbox(), "");
    fs::remove(board.DataDir() / "server.log");
    ImportIncomingMail();
    EXPECT_TRUE(fs::exists(Mailbox()));
    EXPECT_TRUE(Log().empty());
}

TEST_F(Gateway, EmptyAliasFindsNobody) {
    board.WriteFile(Mailbox(), "From joe Sat Mar  9 10:15:00 1996\nFrom: joe@far.org\nTo: <@kivo>\n\nHi\n");
    ImportIncomingMail();
    auto log = Log();
    EXPECT_TRUE(test::LogHas(log, "Alias \"\" not found, message not posted")) << log.size();
    EXPECT_TRUE(test::LogHas(log, "Message to <@kivo> not sent, bad header"));
    EXPECT_TRUE(test::ReadMsgBase(board.MsgBaseDir()).messages.empty());
}

TEST_F(Gateway, PostsEachMailAndLogsWhatItCouldNot) {
    std::string mbox = kOneMail +
                       "From ann@far.org Sun Mar 10 08:00:00 1996\n"
                       "From: ann@far.org\nTo: nobody@kivo\nCc: Bob <bob@kivo>\nSubject: Tabs\n\n"
                       "a\tb\n" +
                       "From x@far.org Sun Mar 10 08:00:00 1996\nTo: bob@kivo\n\n" +  // no body at all
                       "From y@far.org Sun Mar 10 08:00:00 1996\nTo: nobody@kivo\n\nlost\n" +
                       "From z@far.org Sun Mar 10 08:00:00 1996\nTo: alice@kivo\nSubject: cut off";  // no body
    board.WriteFile(Mailbox(), mbox);
    SetClock([] { return time_t(826366500); });
    ImportIncomingMail();
    SetClock(nullptr);

    auto log = Log();
    EXPECT_TRUE(test::LogHas(log, "Processing incoming mail (" + std::to_string(mbox.size()) + " bytes)"));
    EXPECT_TRUE(test::LogHas(log, "Message #1 posted to Alice Martin in area 2"));
    EXPECT_TRUE(test::LogHas(log, "Alias \"nobody\" not found, message not posted"));
    EXPECT_TRUE(test::LogHas(log, "Message #2 posted to Bob Tremblay in area 2"));
    EXPECT_TRUE(test::LogHas(log, "Message to Bob Tremblay not sent, null message body"));
    EXPECT_TRUE(test::LogHas(log, "Message to nobody@kivo not sent, bad header"));
    EXPECT_TRUE(test::LogHas(log, "Message to Alice Martin not sent, null message body"));

    test::MsgBaseContents base = test::ReadMsgBase(board.MsgBaseDir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_EQ(base.messages.size(), 2u);
    const test::StoredMessage& m = base.messages[0];
    EXPECT_EQ(m.header.FromName, "joe@far.org (Joe Far)");
    EXPECT_EQ(m.header.ToName, "Alice Martin");
    EXPECT_EQ(m.recipient, "Alice Martin");
    EXPECT_EQ(m.header.Subject, "Hello");
    EXPECT_EQ(m.header.DateText, "03/09/96");  // the sample board's month/day/year
    EXPECT_EQ(m.header.TimeText, "10:15:00");
    EXPECT_EQ(m.header.MsgArea, 2);
    EXPECT_EQ(m.index.MsgArea, 2);
    EXPECT_EQ(m.header.Status, MSG_EMAIL | MSG_PRIVATE);
    EXPECT_EQ(m.header.MailFlags, 0);
    EXPECT_EQ(m.header.WrittenAt, 826366500);
    EXPECT_EQ(m.header.ImportedAt, 826366500);
    EXPECT_EQ(m.text.Pid, "kvhubd v0.1b");
    EXPECT_EQ(m.text.Lines, (std::vector<std::string>{"Hello Alice."}));
    EXPECT_TRUE(m.textEnded);
    EXPECT_EQ(base.messages[1].header.FromName, "ann@far.org");
    EXPECT_EQ(base.messages[1].header.DateText, "");
    EXPECT_EQ(base.messages[1].text.Lines, (std::vector<std::string>{"a        b"}));
    ASSERT_TRUE(base.info.has_value());
    EXPECT_EQ(base.info->AreaCounts[2], 2);
    // The PID line as it lies on disk.
    EXPECT_EQ(test::ReadBaseFile(board.MsgBaseDir(), kMsgTextFile).substr(0, 21), "\x01PID: kvhubd v0.1b\nHe");
}

// Control bytes of a mail from outside (a terminal's escapes, a bell, a
// NUL) reach neither a header field nor a text line of the base.
TEST_F(Gateway, ControlBytesOfAMailBecomeBlanks) {
    board.WriteFile(Mailbox(), "From joe@far.org Sat Mar  9 10:15:00 1996\n"
                               "From: Joe\x1b[2J <joe@far.org>\nTo: alice@kivo\nSubject: Hi\x07there\n"
                               "Date: Sat, 9 Mar 1996 \x1b[31m\x07\x07x +0100\n\n" +
                               std::string("Body\0with NUL \x1b[5mblink\n", 24));
    ImportIncomingMail();
    test::MsgBaseContents base = test::ReadMsgBase(board.MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 1u);
    const MsgHeader& h = base.messages[0].header;
    EXPECT_EQ(h.FromName, "joe@far.org (Joe [2J)");
    EXPECT_EQ(h.Subject, "Hi there");
    EXPECT_EQ(h.TimeText, " [31m  x");
    EXPECT_EQ(base.messages[0].text.Lines, (std::vector<std::string>{"Body with NUL  [5mblink"}));

    // Nor does one reach the sysop's screen through the log.
    board.WriteFile(Mailbox(), "From joe@far.org Sat Mar  9 10:15:00 1996\n"
                               "From: joe@far.org\nTo: nobody\x1b]0;owned\x07@kivo\n\nHi\n");
    ImportIncomingMail();
    EXPECT_TRUE(test::LogHas(Log(), "Alias \"nobody ]0;owned \" not found, message not posted"));
    std::string log = board.ReadFile(board.DataDir() / "server.log");
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](char c) { return c != '\n' && (unsigned char)c < 0x20; }), 0);
}

// Not posted, and kept until the sysop mends the configuration; in an
// MMDF mailbox each kept mail keeps both its delimiter lines.
TEST_F(Gateway, MailAreaOutsideTheBaseIsNotPostedUntilMended) {
    const std::string d = "\x01\x01\x01\x01\n";
    const std::string alice = d + "From: joe@far.org\nTo: alice@kivo\nSubject: One\n\nHi.\n" + d;
    const std::string nobody = d + "From: joe@far.org\nTo: nobody@kivo\n\nLost.\n" + d;
    const std::string bob = d + "From: ann@far.org\nTo: bob@kivo\nSubject: Two\n\nHo.\n" + d;
    Use("MmdfMailbox", "1");
    Use("MailArea", "100");
    board.WriteFile(Mailbox(), alice + nobody + bob);
    ImportIncomingMail();
    EXPECT_TRUE(test::LogHas(Log(), "Posting of a message from joe@far.org FAILED"));
    EXPECT_TRUE(test::ReadMsgBase(board.MsgBaseDir()).messages.empty());
    EXPECT_EQ(board.ReadFile(MailFile(kIncomingFile)), alice + bob);

    Use("MailArea", "2");
    ImportIncomingMail();
    test::MsgBaseContents base = test::ReadMsgBase(board.MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 2u);
    EXPECT_EQ(base.messages[0].header.Subject, "One");
    EXPECT_EQ(base.messages[1].header.Subject, "Two");
    EXPECT_FALSE(fs::exists(MailFile(kPendingFile)));
}

ServerCommand Request(int16_t code) {
    ServerCommand c;
    c.Code = code;
    c.Name = "Alice Martin";
    c.Alias = "alice";
    c.MessageNumber = 17;
    c.HeaderOffset = 4288;
    return c;
}

TEST_F(Gateway, SendNowRunsTheSenderOnAOneLineFile) {
    fs::path record = board.root() / "sender.rec";
    test::WriteRecordingSender(board.root() / "bin/sender", record, 0);
    Use("SenderPath", (board.root() / "bin/sender").string());
    HandleMailRequest(Request(CMD_MAIL_NOW));

    std::string got = board.ReadFile(record);
    ASSERT_EQ(got.rfind("ARG " + board.root().string() + "/kvmail", 0), 0u) << got;
    EXPECT_EQ(got.substr(got.find('\n') + 1), "Alice Martin|alice|17|4288\n");
    EXPECT_TRUE(test::LogHas(Log(), "Message #17 from Alice Martin sent"));
    EXPECT_FALSE(fs::exists(MailFile(kOutgoingFile)));
    EXPECT_EQ(RequestFilesLeft(), 0);
    EXPECT_EQ(Settings().MailQueued, 0);
}

TEST_F(Gateway, SendNowThatFailsKeepsTheLineInTheQueue) {
    struct Case {
        const char* name;
        int status;  // of the sender; -1: not executable
        const char* logged;
    } cases[] = {
        {"sender fails", 3, "Message #17 from Alice Martin not sent"},
        {"sender not executable", -1, nullptr},
    };
    for (const auto& c : cases) {
        fs::remove(MailFile(kOutgoingFile));
        fs::remove(board.DataDir() / "server.log");
        Settings().MailQueued = 0;
        fs::path sender = board.root() / "bin/sender";
        test::WriteRecordingSender(sender, board.root() / "sender.rec", c.status < 0 ? 0 : c.status);
        if (c.status < 0) chmod(sender.c_str(), 0644);
        Use("SenderPath", sender.string());
        HandleMailRequest(Request(CMD_MAIL_NOW));

        auto log = Log();
        if (c.status < 0) EXPECT_EQ(log.front().rfind("Cannot execute " + sender.string() + " ", 0), 0u) << c.name;
        else EXPECT_TRUE(test::LogHas(log, c.logged)) << c.name;
        EXPECT_FALSE(test::LogHas(log, "Message #17 from Alice Martin sent")) << c.name;
        EXPECT_TRUE(test::LogHas(log, "Message #17 from Alice Martin queued")) << c.name;
        EXPECT_EQ(board.ReadFile(MailFile(kOutgoingFile)), "Alice Martin|alice|17|4288\n") << c.name;
        EXPECT_EQ(Settings().MailQueued, 1) << c.name;
        EXPECT_EQ(RequestFilesLeft(), 0) << c.name;
    }
}

TEST_F(Gateway, QueueAppendsAndTheOutgoingPassHandsTheFileOver) {
    fs::path record = board.root() / "sender.rec";
    test::WriteRecordingSender(board.root() / "bin/sender", record, 0);
    Use("SenderPath", (board.root() / "bin/sender").string());

    SendQueuedMail();
    EXPECT_TRUE(test::LogHas(Log(), "Cannot find outgoing request mail file " + MailFile(kOutgoingFile).string()));

    ServerCommand a = Request(CMD_MAIL_QUEUE), b = Request(CMD_MAIL_QUEUE);
    b.Name = "Bob|Tremblay\nx";  // neither may split the line or the file
    b.MessageNumber = 18;
    HandleMailRequest(a);
    HandleMailRequest(b);
    EXPECT_EQ(board.ReadFile(MailFile(kOutgoingFile)), "Alice Martin|alice|17|4288\nBob Tremblay x|alice|18|4288\n");
    EXPECT_EQ(Settings().MailQueued, 1);
    EXPECT_TRUE(test::LogHas(Log(), "Message #17 from Alice Martin queued"));
    EXPECT_FALSE(fs::exists(record)) << "a queued request waits for the outgoing pass";

    SendQueuedMail();
    EXPECT_EQ(board.ReadFile(record), "ARG " + MailFile(kOutgoingFile).string() +
                                          "\nAlice Martin|alice|17|4288\nBob Tremblay x|alice|18|4288\n");
}

// kvpost at work on "outgoing.bbs" holds its lock; a request queued
// meanwhile waits for it and then goes into the file that is there, never
// into the one kvpost removes when it is through.
TEST_F(Gateway, QueueWaitsForTheSenderAndNeverWritesIntoTheRemovedFile) {
    board.WriteFile(MailFile(kOutgoingFile), "Alice Martin|alice|16|4020\n");
    int sender = open(MailFile(kOutgoingFile).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(sender, LOCK_EX), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(sender);  // the lock is the sender's, not this child's
        HandleMailRequest(Request(CMD_MAIL_QUEUE));
        _exit(0);
    }
    bool waited = test::WaitForFlockWaiter(MailFile(kOutgoingFile));
    fs::remove(MailFile(kOutgoingFile));
    close(sender);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(waited);
    EXPECT_EQ(board.ReadFile(MailFile(kOutgoingFile)), "Alice Martin|alice|17|4288\n");
}

// One mail each to Alice or Bob, named by n in subject and text.
std::string MailNumbered(int n) {
    return "From joe@far.org Sat Mar  9 10:15:00 1996\nFrom: joe@far.org\nTo: " +
           std::string(n % 2 ? "alice" : "bob") + "@kivo\nSubject: Mail " + std::to_string(n) + "\n\nText " +
           std::to_string(n) + ".\n";
}

// The base directory on a small file system of its own (a tmpfs in a
// private mount namespace), so that a test can fill it up.
class SmallBaseDisk {
public:
    explicit SmallBaseDisk(const fs::path& dir) : dir_(dir) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(dir))
            files[e.path().filename().string()] = test::ReadBaseFile(dir, e.path().filename().c_str());
        if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=256k") != 0) return;
        mounted_ = true;
        for (const auto& [name, bytes] : files) std::ofstream(dir / name, std::ios::binary) << bytes;
    }
    ~SmallBaseDisk() {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    }
    bool ok() const { return mounted_; }
    // Takes every free block but leave bytes, or gives them back.
    void Fill(size_t leave = 0) {
        std::ofstream out(dir_ / "filler", std::ios::binary);
        std::string block(4096, 'f');
        while (fs::space(dir_).available > leave && out.write(block.data(), std::streamsize(block.size())) &&
               out.flush()) {
        }
    }
    void MakeRoom() { fs::remove(dir_ / "filler"); }

private:
    fs::path dir_;
    bool mounted_ = false;
};

// A full disk under the base for two passes: no mail is lost, the mails
// wait in "incoming.bbs" (a second mailbox put after them); with room
// again every mail lands in the base once.
TEST_F(Gateway, MailThatCannotBePostedWaitsForTheNextPass) {
    SmallBaseDisk disk(board.MsgBaseDir());
    if (!disk.ok()) GTEST_SKIP() << "no private mount namespace: " << std::strerror(errno);
    disk.Fill();

    const std::string unknown = "From y@far.org Sun Mar 10 08:00:00 1996\nTo: nobody@kivo\n\nlost\n";
    const std::string first = MailNumbered(1) + unknown + MailNumbered(2) + MailNumbered(3);
    board.WriteFile(Mailbox(), first);
    ImportIncomingMail();
    EXPECT_FALSE(fs::exists(Mailbox()));
    auto log = Log();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l == "Posting of a message from joe@far.org FAILED"; }),
              3);
    EXPECT_TRUE(test::LogHas(log, "3 mail(s) kept in " + MailFile(kIncomingFile).string() + " for the next pass"));
    EXPECT_EQ(board.ReadFile(MailFile(kIncomingFile)), MailNumbered(1) + MailNumbered(2) + MailNumbered(3));

    // Still full: the new mailbox goes after the mail that waits.
    board.WriteFile(Mailbox(), MailNumbered(4));
    ImportIncomingMail();
    EXPECT_EQ(board.ReadFile(MailFile(kIncomingFile)),
              MailNumbered(1) + MailNumbered(2) + MailNumbered(3) + MailNumbered(4));
    EXPECT_TRUE(test::ReadMsgBase(board.MsgBaseDir()).messages.empty());

    // Room again, and no new mailbox: the waiting mail is posted.
    disk.MakeRoom();
    fs::remove(board.DataDir() / "server.log");
    ImportIncomingMail();
    log = Log();
    EXPECT_TRUE(test::LogHas(log, "Posting the mail kept in " + MailFile(kIncomingFile).string()));
    test::MsgBaseContents base = test::ReadMsgBase(board.MsgBaseDir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    std::vector<std::string> subjects;
    for (const auto& m : base.messages) subjects.push_back(m.header.Subject);
    EXPECT_EQ(subjects, (std::vector<std::string>{"Mail 1", "Mail 2", "Mail 3", "Mail 4"}));
    EXPECT_FALSE(fs::exists(MailFile(kPendingFile)));

    // Nothing waits now: the next pass does nothing more.
    ImportIncomingMail();
    EXPECT_EQ(test::ReadMsgBase(board.MsgBaseDir()).messages.size(), 4u);
}

// One mail too big for the room left fails between two that are posted;
// the file then holds that mail alone, which the posted ones' offsets must
// not pass over: with room again it is posted, the others are not again.
TEST_F(Gateway, MailKeptAfterAFailedPostIsPostedNextPass) {
    SmallBaseDisk disk(board.MsgBaseDir());
    if (!disk.ok()) GTEST_SKIP() << "no private mount namespace: " << std::strerror(errno);
    disk.Fill(64 * 1024);
    std::string big = "From joe@far.org Sat Mar  9 10:15:00 1996\nFrom: joe@far.org\nTo: bob@kivo\nSubject: Big\n\n";
    for (int i = 0; i < 1500; ++i) big += std::string(70, 'b') + "\n";
    board.WriteFile(Mailbox(), MailNumbered(1) + big + MailNumbered(3));
    ImportIncomingMail();
    EXPECT_EQ(board.ReadFile(MailFile(kIncomingFile)), big);

    disk.MakeRoom();
    ImportIncomingMail();
    std::vector<std::string> subjects;
    for (const auto& m : test::ReadMsgBase(board.MsgBaseDir()).messages) subjects.push_back(m.header.Subject);
    EXPECT_EQ(subjects, (std::vector<std::string>{"Mail 1", "Mail 3", "Big"}));
    EXPECT_FALSE(fs::exists(MailFile(kPendingFile)));
}

// The server killed in a pass, after each post: the next pass, which finds
// a new mailbox put after the mail that waits, posts only what was left.
// Killed after a post was noted, every mail lands once; killed between the
// post and its note, that one mail comes twice.  None is lost.
TEST_F(Gateway, ServerKilledInAPassPostsWhatWasLeft) {
    const std::string mbox = MailNumbered(1) + MailNumbered(2) + MailNumbered(3);
    for (const char* point : {"import", "posted"}) {
        for (int killAt = 1; killAt <= 3; ++killAt) {
            SCOPED_TRACE(std::string(point) + " " + std::to_string(killAt));
            for (const auto& e : fs::directory_iterator(board.MsgBaseDir())) fs::remove(e.path());
            fs::remove(MailFile(kIncomingFile));
            fs::remove(MailFile(kPendingFile));
            board.WriteFile(Mailbox(), mbox);
            pid_t pid = fork();
            if (pid == 0) {
                setenv("KV_TEST_KILL_AT", (std::string(point) + ":" + std::to_string(killAt)).c_str(), 1);
                ImportIncomingMail();
                _exit(0);
            }
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            EXPECT_FALSE(fs::exists(Mailbox()));

            board.WriteFile(Mailbox(), MailNumbered(4));
            ImportIncomingMail();
            std::map<std::string, int> times;
            for (const auto& m : test::ReadMsgBase(board.MsgBaseDir()).messages) ++times[m.header.Subject];
            for (int n = 1; n <= 4; ++n) {
                bool twice = std::string(point) == "posted" && n == killAt;
                EXPECT_EQ(times["Mail " + std::to_string(n)], twice ? 2 : 1) << "Mail " << n;
            }
            EXPECT_FALSE(fs::exists(MailFile(kPendingFile)));
        }
    }
}

// A lock file left by a process that died long ago does not hold the
// import up for ever.
TEST_F(Gateway, StaleMailboxLockIsRemoved) {
    board.WriteFile(Mailbox(), kOneMail);
    board.WriteFile(Lock(), "");
    fs::last_write_time(Lock(), fs::file_time_type::clock::now() - std::chrono::minutes(10));
    ImportIncomingMail();
    EXPECT_EQ(sleeps, 0);
    auto log = Log();
    EXPECT_TRUE(test::LogHas(log, "Removing stale mail box lock file " + Lock().string()));
    EXPECT_TRUE(test::LogHas(log, "Message #1 posted to Alice Martin in area 2"));
    EXPECT_FALSE(fs::exists(Lock()));
}

}  // namespace

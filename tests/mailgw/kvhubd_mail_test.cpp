// The gateway inside the real kvhubd: the test moves the server's clock one
// Timeout on through a clock file and wakes it with a reload request, so a
// timed pass comes at once; mail requests go through the command pipe.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/msg_records.h"
#include "common/record_io.h"
#include "server/mail_gateway.h"
#include "tests/mailgw/gateway_support.h"
#include "tests/support/msgbase_reader.h"
#include "tests/support/server_process.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

constexpr time_t kStart = 1'000'000'000;

class KvhubdMail : public test::ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        test::WriteMailUsers(board);
        clockFile = board.root() / "clock";
        SetClockTo(kStart);
        setenv("KV_TEST_CLOCK_FILE", clockFile.c_str(), 1);
        setenv("TMPDIR", board.root().c_str(), 1);
    }
    void TearDown() override {
        ServerTest::TearDown();
        unsetenv("KV_TEST_CLOCK_FILE");
        unsetenv("TMPDIR");
    }
    void SetClockTo(time_t t) const { board.WriteFile(clockFile, std::to_string(t) + "\n"); }
    // Moves the server's time one Timeout (-t 1) on and wakes it: the timed
    // pass runs right after the reload request.
    void RunPass(int n) {
        SetClockTo(kStart + 60 * n);
        SendCommand(board, CMD_RELOAD);
    }
    void Stop(pid_t pid) {
        SendCommand(board, CMD_SHUTDOWN);
        EXPECT_EQ(WaitForExit(pid), 0);
    }
    void Send(int16_t code, int32_t number) {
        ServerCommand c;
        c.Code = code;
        c.Name = "Alice Martin";
        c.Alias = "alice";
        c.MessageNumber = number;
        c.HeaderOffset = 268 * number;
        int fd = open((board.DataDir() / kCommandPipeName).c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        auto rec = EncodeRecord(c);
        EXPECT_EQ(write(fd, rec.data(), rec.size()), ssize_t(rec.size()));
        close(fd);
    }
    bool WaitForLine(const std::string& line, int timeoutMs) {
        return test::WaitUntil([&] { return test::LogHas(test::ServerLogLines(board), line); }, timeoutMs);
    }
    fs::path Mailbox() const { return board.config().MailboxPath; }
    fs::path MailFile(const char* name) const { return fs::path(board.config().MailDir) / name; }

    test::TempBoard board;
    fs::path clockFile;
};

TEST_F(KvhubdMail, PostsMailToUsersByToAndByCc) {
    const std::string mbox =
        "From joe@far.org Sat Mar  9 10:15:00 1996\r\n"
        "From: Joe Far <joe@far.org>\r\nTo: alice@kivo\r\nSubject: Hello Alice\r\n"
        "Date: Sat, 9 Mar 1996 10:15 +0100\r\n\r\n"
        "Hi Alice,\r\nsee you.\r\n"
        "From ann@far.org Sun Mar 10 08:00:00 1996\r\n"
        "From: ann@far.org (Ann Far)\r\nTo: carol@far.org\r\nCc: bob@kivo\r\nSubject: Copy\r\n"
        "Date: Sun, 10 Mar 1996 08:00:30 +0100\r\n\r\n"
        "For Bob.\r\n"
        "From x@far.org Sun Mar 10 09:00:00 1996\r\n"
        "From: x@far.org\r\nTo: nobody@kivo\r\n\r\nLost.\r\n";
    pid_t pid = StartServer(board, {"-t", "1"});
    ASSERT_GT(pid, 0) << last_.err;
    board.WriteFile(Mailbox(), mbox);
    RunPass(1);
    ASSERT_TRUE(WaitForLine("Message to nobody@kivo not sent, bad header", 5000)) << test::ServerLog(board);
    Stop(pid);

    auto log = test::ServerLogLines(board);
    EXPECT_TRUE(test::LogHas(log, "Processing incoming mail (" + std::to_string(mbox.size()) + " bytes)"));
    EXPECT_TRUE(test::LogHas(log, "Message #1 posted to Alice Martin in area 2"));
    EXPECT_TRUE(test::LogHas(log, "Alias \"carol\" not found, message not posted"));
    EXPECT_TRUE(test::LogHas(log, "Message #2 posted to Bob Tremblay in area 2"));
    EXPECT_TRUE(test::LogHas(log, "Alias \"nobody\" not found, message not posted"));
    EXPECT_FALSE(fs::exists(Mailbox()));
    EXPECT_EQ(board.ReadFile(MailFile(server::kIncomingFile)), mbox);

    test::MsgBaseContents base = test::ReadMsgBase(board.MsgBaseDir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    ASSERT_EQ(base.messages.size(), 2u);
    struct Want {
        const char *from, *to, *subject, *date, *time;
        std::vector<std::string> lines;
    } want[] = {
        {"joe@far.org (Joe Far)", "Alice Martin", "Hello Alice", "03/09/96", "10:15:00", {"Hi Alice,", "see you."}},
        {"ann@far.org  (Ann Far)", "Bob Tremblay", "Copy", "03/10/96", "08:00:30", {"For Bob."}},
    };
    for (size_t i = 0; i < 2; ++i) {
        const test::StoredMessage& m = base.messages[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(m.header.MsgNumber, int32_t(i + 1));
        EXPECT_EQ(m.header.FromName, want[i].from);
        EXPECT_EQ(m.header.ToName, want[i].to);
        EXPECT_EQ(m.recipient, want[i].to);
        EXPECT_EQ(m.header.Subject, want[i].subject);
        EXPECT_EQ(m.header.DateText, want[i].date);
        EXPECT_EQ(m.header.TimeText, want[i].time);
        EXPECT_EQ(m.header.MsgArea, 2);
        EXPECT_EQ(m.header.Status, MSG_EMAIL | MSG_PRIVATE);
        EXPECT_EQ(m.header.WrittenAt, kStart + 60);
        EXPECT_EQ(m.header.ImportedAt, kStart + 60);
        EXPECT_EQ(m.text.Pid, "kvhubd v0.1b");
        EXPECT_EQ(m.text.Lines, want[i].lines);
    }
    EXPECT_EQ(base.info->AreaCounts[2], 2);
}

TEST_F(KvhubdMail, MmdfMailboxThenABadOneLeftInPlace) {
    board.Set("MmdfMailbox", "1");
    pid_t pid = StartServer(board, {"-t", "1"});
    ASSERT_GT(pid, 0) << last_.err;
    board.WriteFile(Mailbox(),
                    "\x01\x01\x01\x01\nFrom: joe@far.org\nTo: bob@kivo\nSubject: mmdf\n\nOne.\n\x01\x01\x01\x01\n"
                    "\x01\x01\x01\x01\nFrom: ann@far.org\nTo: alice@kivo\n\nTwo.\n\x01\x01\x01\x01\n");
    RunPass(1);
    ASSERT_TRUE(WaitForLine("Message #2 posted to Alice Martin in area 2", 5000)) << test::ServerLog(board);

    // A "From " mailbox is not one of this board's format: it stays as it is.
    const std::string bad = "From joe@far.org Sat Mar  9 10:15:00 1996\nTo: bob@kivo\n\nThree.\n";
    board.WriteFile(Mailbox(), bad);
    RunPass(2);
    ASSERT_TRUE(WaitForLine("Mail box is corrupted, cannot process it", 5000)) << test::ServerLog(board);
    Stop(pid);

    EXPECT_EQ(board.ReadFile(Mailbox()), bad);
    EXPECT_FALSE(fs::exists(Mailbox().string() + ".lock"));
    test::MsgBaseContents base = test::ReadMsgBase(board.MsgBaseDir());
    ASSERT_EQ(base.messages.size(), 2u);
    EXPECT_EQ(base.messages[0].header.ToName, "Bob Tremblay");
    EXPECT_EQ(base.messages[0].text.Lines, (std::vector<std::string>{"One."}));
    EXPECT_EQ(base.messages[1].header.FromName, "ann@far.org");
}

TEST_F(KvhubdMail, WaitsForTheMailboxLock) {
    pid_t pid = StartServer(board, {"-t", "1"});
    ASSERT_GT(pid, 0) << last_.err;
    const std::string mbox = "From joe Sat Mar  9 10:15:00 1996\nTo: alice\n\nHi.\n";
    board.WriteFile(Mailbox(), mbox);
    fs::path lock = Mailbox().string() + ".lock";
    board.WriteFile(lock, "");
    RunPass(1);
    ASSERT_TRUE(WaitForLine("Processing incoming mail (" + std::to_string(mbox.size()) + " bytes)", 5000));
    // The delivery agent holds the mailbox for a while: nothing moves.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(board.ReadFile(Mailbox()), mbox);
    EXPECT_FALSE(fs::exists(MailFile(server::kIncomingFile)));
    fs::remove(lock);
    ASSERT_TRUE(WaitForLine("Message #1 posted to Alice Martin in area 2", 5000)) << test::ServerLog(board);
    Stop(pid);
    EXPECT_FALSE(fs::exists(Mailbox()));
    EXPECT_FALSE(fs::exists(lock));
}

TEST_F(KvhubdMail, RequestsSendNowAndQueueHandedOverOnlyWithMailOut) {
    fs::path sender = board.root() / "bin/sender", record = board.root() / "sender.rec";
    test::WriteRecordingSender(sender, record, 0);
    board.Set("SenderPath", sender.string());

    // Without -o: code 1 runs the sender at once, code 2 waits in the queue
    // and the timed pass leaves it there.
    pid_t pid = StartServer(board, {"-t", "1"});
    ASSERT_GT(pid, 0) << last_.err;
    Send(CMD_MAIL_NOW, 5);
    ASSERT_TRUE(WaitForLine("Message #5 from Alice Martin sent", 5000)) << test::ServerLog(board);
    std::string got = board.ReadFile(record);
    EXPECT_EQ(got.substr(got.find('\n') + 1), "Alice Martin|alice|5|1340\n");
    EXPECT_EQ(got.rfind("ARG " + board.root().string() + "/kvmail", 0), 0u) << got;
    fs::remove(record);

    Send(CMD_MAIL_QUEUE, 6);
    ASSERT_TRUE(WaitForLine("Message #6 from Alice Martin queued", 5000));
    RunPass(1);
    ASSERT_TRUE(WaitForLine("Configuration reloaded", 5000));
    Stop(pid);
    EXPECT_FALSE(fs::exists(record));
    EXPECT_EQ(board.ReadFile(MailFile(server::kOutgoingFile)), "Alice Martin|alice|6|1608\n");

    // With -o the pass after a queue request hands "outgoing.bbs" over.
    SetClockTo(kStart);
    pid = StartServer(board, {"-t", "1", "-o"});
    ASSERT_GT(pid, 0) << last_.err;
    Send(CMD_MAIL_QUEUE, 7);
    ASSERT_TRUE(WaitForLine("Message #7 from Alice Martin queued", 5000));
    RunPass(1);
    EXPECT_TRUE(test::WaitUntil([&] { return fs::exists(record); }));
    Stop(pid);
    EXPECT_EQ(board.ReadFile(record), "ARG " + MailFile(server::kOutgoingFile).string() +
                                          "\nAlice Martin|alice|6|1608\nAlice Martin|alice|7|1876\n");
    for (const auto& e : fs::directory_iterator(board.root()))
        EXPECT_NE(e.path().filename().string().rfind("kvmail", 0), 0u) << e.path();
}

}  // namespace

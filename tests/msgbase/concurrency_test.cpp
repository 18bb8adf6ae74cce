// Several processes appending at once still give one message per number
// and three parallel files in step.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/msgbase/msgbase_fixture.h"

namespace kv::test {
namespace {

constexpr int kWriters = 6;
constexpr int kEach = 250;

std::string Recipient(int writer, int i) { return "Writer " + std::to_string(writer) + " No " + std::to_string(i); }

TEST_F(MsgBaseTest, ConcurrentWritersKeepTheBaseInStep) {
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failed = 0;
            for (int i = 0; i < kEach; ++i)
                if (Post(Recipient(w, i), {"writer " + std::to_string(w), "message " + std::to_string(i)}, w) == 0)
                    ++failed;
            _exit(failed == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
    }

    MsgBaseContents base = ReadMsgBase(dir());
    ASSERT_TRUE(base.InStep()) << base.Problem();
    const int total = kWriters * kEach;
    ASSERT_EQ(base.messages.size(), static_cast<size_t>(total));
    ASSERT_TRUE(base.info);
    EXPECT_EQ(base.info->LowestNumber, 1);
    EXPECT_EQ(base.info->HighestNumber, total);
    EXPECT_EQ(base.info->TotalMessages, total);
    std::vector<int> next(kWriters, 0);
    int32_t lastOffset = -1;
    for (int r = 0; r < total; ++r) {
        const StoredMessage& m = base.messages[r];
        ASSERT_EQ(m.index.MsgNumber, r + 1) << "record " << r;
        ASSERT_EQ(m.header.MsgNumber, r + 1) << "record " << r;
        int w = m.index.MsgArea;
        ASSERT_TRUE(w >= 0 && w < kWriters) << "record " << r;
        ASSERT_EQ(m.header.MsgArea, w) << "record " << r;
        // Each writer's messages follow one another in its own order.
        ASSERT_EQ(m.recipient, Recipient(w, next[w])) << "record " << r;
        ASSERT_EQ(m.header.ToName, m.recipient) << "record " << r;
        ASSERT_TRUE(m.textEnded) << "record " << r;
        ASSERT_EQ(m.text.Lines,
                  (std::vector<std::string>{"writer " + std::to_string(w), "message " + std::to_string(next[w])}))
            << "record " << r;
        ASSERT_GT(m.header.TextOffset, lastOffset) << "record " << r;
        lastOffset = m.header.TextOffset;
        ++next[w];
    }
    for (int w = 0; w < kWriters; ++w) EXPECT_EQ(base.info->AreaCounts[w], kEach) << w;
}

// The lock is real: a second process waits for it, and a child forked while
// the parent holds it does not count itself as holding it.
TEST_F(MsgBaseTest, BaseLockExcludesOtherProcesses) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid;
    {
        MsgBaseLock held;
        ASSERT_TRUE(held);
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            MsgBaseLock mine;
            char c = mine ? 'y' : 'n';
            _exit(write(fds[1], &c, 1) == 1 ? 0 : 1);
        }
        close(fds[1]);
        pollfd p{fds[0], POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 150), 0) << "the child took the lock the parent holds";
    }
    char c = 0;
    EXPECT_EQ(read(fds[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace kv::test

// The test process stands for the server: it makes the segment, and forked
// children hold attachments the way running caller programs do.  The test
// process itself never attaches, so no child inherits an attachment.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/attach.h"
#include "common/segment.h"

using namespace kv;

namespace {

const std::string kNoServer = "ERROR: cannot get/attach to shared memory -- server must be running\n";
const std::string kTooMany = "There's already 10 Kivo instance running -- try later\n";

std::string ReadAll(int fd) {
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    return out;
}

// Starts a child that attaches and then waits for the release pipe to close.
pid_t StartHolder(int segment, const int release[2]) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        close(release[1]);
        char c = shmat(segment, nullptr, 0) == reinterpret_cast<void*>(-1) ? 'N' : 'Y';
        if (write(ready[1], &c, 1) != 1) _exit(2);
        while (read(release[0], &c, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    char c = 'N';
    bool ok = read(ready[0], &c, 1) == 1 && c == 'Y';
    close(ready[0]);
    return ok ? pid : -1;
}

// Runs AttachSharedMemory in a child: its exit status and standard error.
struct Attempt {
    int status = -1;
    std::string err;
};
Attempt TryAttach() {
    int err[2];
    if (pipe(err) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        close(err[0]);
        dup2(err[1], 2);
        _exit(AttachSharedMemory() != nullptr ? 0 : 1);
    }
    close(err[1]);
    Attempt a;
    a.err = ReadAll(err[0]);
    close(err[0]);
    int ws = 0;
    waitpid(pid, &ws, 0);
    a.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    return a;
}

class Attach : public ::testing::Test {
protected:
    void SetUp() override {
        segment_ = shmget(kSegmentKey, SharedMemorySize(), IPC_CREAT | IPC_EXCL | 0666);
        ASSERT_GE(segment_, 0) << "segment key already taken: no private IPC namespace?";
        ASSERT_EQ(pipe(release_), 0);
    }
    void TearDown() override {
        close(release_[1]);
        for (pid_t p : holders_) waitpid(p, nullptr, 0);
        close(release_[0]);
        shmctl(segment_, IPC_RMID, nullptr);
    }
    // The server's attachment and then callers' are all just holders here.
    void Hold(int count) {
        for (int i = 0; i < count; ++i) {
            pid_t p = StartHolder(segment_, release_);
            ASSERT_GT(p, 0);
            holders_.push_back(p);
        }
    }
    shmatt_t Attached() {
        struct shmid_ds ds;
        return shmctl(segment_, IPC_STAT, &ds) == 0 ? ds.shm_nattch : 0;
    }

    int segment_ = -1;
    int release_[2] = {-1, -1};
    std::vector<pid_t> holders_;
};

TEST(AttachNoServer, SaysTheServerMustRun) {
    Attempt a = TryAttach();
    EXPECT_EQ(a.status, 1);
    EXPECT_EQ(a.err, kNoServer);
}

TEST(AttachNoServer, NeverCreatesTheSegment) {
    TryAttach();
    EXPECT_LT(shmget(kSegmentKey, 0, 0), 0);
}

TEST_F(Attach, TheTenthCallerGetsIn) {
    Hold(1 + 9);  // the server and nine callers
    ASSERT_EQ(Attached(), 10u);
    Attempt a = TryAttach();
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.err, "");
}

TEST_F(Attach, AnEleventhCallerIsRefused) {
    Hold(1 + 10);
    ASSERT_EQ(Attached(), 11u);
    Attempt a = TryAttach();
    EXPECT_EQ(a.status, 1);
    EXPECT_EQ(a.err, kTooMany);
    EXPECT_EQ(Attached(), 11u);
}

// Several callers starting at once for the one free place: whatever the
// interleaving, at most one of them stays attached.
TEST_F(Attach, CallersStartingTogetherNeverPassTheLimit) {
    Hold(1 + 9);
    int start[2], result[2];
    ASSERT_EQ(pipe(start), 0);
    ASSERT_EQ(pipe(result), 0);
    std::vector<pid_t> racers;
    for (int i = 0; i < 6; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            close(start[1]);
            close(result[0]);
            close(release_[1]);
            char c;
            while (read(start[0], &c, 1) > 0) {
            }
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            c = AttachSharedMemory() != nullptr ? 'Y' : 'N';
            if (write(result[1], &c, 1) != 1) _exit(2);
            while (read(release_[0], &c, 1) > 0) {
            }
            _exit(0);
        }
        racers.push_back(pid);
    }
    close(start[0]);
    close(result[1]);
    close(start[1]);  // all go
    // Read one answer from each: a racer that got in keeps its end open.
    std::string results;
    char c;
    while (results.size() < 6 && read(result[0], &c, 1) == 1) results += c;
    close(result[0]);
    EXPECT_EQ(results.size(), 6u);
    EXPECT_LE(std::count(results.begin(), results.end(), 'Y'), 1);
    EXPECT_LE(Attached(), 11u);
    holders_.insert(holders_.end(), racers.begin(), racers.end());
}

}  // namespace

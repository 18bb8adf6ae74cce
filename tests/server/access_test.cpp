// Who may reach the server's segment and command pipe.  Every program of
// the board runs as the board's user or in its group; another local user
// who could attach the segment would rewrite every caller's configuration
// (the text directory, the shell escapes), and one who could write the pipe
// would forge mail requests.
#include <fcntl.h>
#include <grp.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "common/segment.h"
#include "tests/support/server_process.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

constexpr uid_t kNobody = 65534;

// Runs what in a child process that is user nobody, with group as its only
// group; the child's exit status.
int AsNobody(gid_t group, const std::function<int()>& what) {
    pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(1, &group) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
            setresuid(kNobody, kNobody, kNobody) != 0)
            _exit(100);
        _exit(what());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

// 0 when the segment could be attached for reading and for writing; 1
// when neither could.
int AttachSegment() {
    int id = shmget(kSegmentKey, 0, 0);
    if (id < 0) return 1;
    int reached = 0;
    for (int flags : {SHM_RDONLY, 0}) {
        void* p = shmat(id, nullptr, flags);
        if (p == reinterpret_cast<void*>(-1)) continue;
        ++reached;
        shmdt(p);
    }
    return reached == 2 ? 0 : reached == 0 ? 1 : 2;
}

TEST_F(ServerTest, OnlyTheBoardsUserAndGroupReachTheSegmentAndThePipe) {
    if (AsNobody(kNobody, [] { return 0; }) != 0) GTEST_SKIP() << "this test cannot become another user";
    TempBoard b;
    // The way to the pipe is open to all: only the pipe's own mode decides.
    for (fs::path dir = b.DataDir(); dir != b.root().parent_path(); dir = dir.parent_path())
        fs::permissions(dir, fs::perms(0755));
    ASSERT_GT(StartServer(b), 0) << last_.err;
    std::string pipe = (b.DataDir() / "kivopipe.bbs").string();
    auto openPipe = [&] {
        int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) return 1;
        close(fd);
        return 0;
    };

    struct Case {
        const char* who;
        gid_t group;
        int want;  // 0 reached, 1 refused
    } cases[] = {
        {"another user", kNobody, 1},
        {"another user in the board's group", getgid(), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AsNobody(c.group, AttachSegment), c.want) << c.who;
        EXPECT_EQ(AsNobody(c.group, openPipe), c.want) << c.who;
    }
}

}  // namespace
}  // namespace kv::test

// Root at work on a board that another user owns.  That user can put a
// link wherever the board's programs and scripts expect a file of theirs;
// root must never write, create, truncate, chown or chmod through one.  The
// scripts do the board's work as the board's owner, the tools open what
// they write without following a link.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "sample/tools/builders.h"
#include "tests/support/board.h"
#include "tests/support/caller_fixture.h"
#include "tests/support/server_process.h"
#include "tests/support/system_user.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

// A file as far as this test cares: there or not, its bytes, owner, mode.
struct FileState {
    bool exists = false;
    std::string bytes;
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;
    bool operator==(const FileState&) const = default;
};

FileState StateOf(const fs::path& p) {
    FileState s;
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) return s;
    s.exists = true;
    s.uid = st.st_uid;
    s.gid = st.st_gid;
    s.mode = st.st_mode;
    std::ifstream in(p, std::ios::binary);
    s.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return s;
}

std::string Describe(const FileState& s) {
    if (!s.exists) return "missing";
    char line[96];
    std::snprintf(line, sizeof line, "%u:%u %o, %zu bytes", unsigned(s.uid), unsigned(s.gid), unsigned(s.mode),
                  s.bytes.size());
    return line;
}

// The servers running in a directory (kvhubd stays in its board's).
std::vector<pid_t> ServersIn(const fs::path& dir) {
    std::vector<pid_t> found;
    DIR* d = opendir("/proc");
    while (dirent* e = d ? readdir(d) : nullptr) {
        pid_t pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        std::getline(comm, name);
        std::error_code ec;
        if (name == "kvhubd" && fs::read_symlink("/proc/" + std::to_string(pid) + "/cwd", ec) == dir)
            found.push_back(pid);
    }
    if (d) closedir(d);
    return found;
}

class RootOnAnotherUsersBoard : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanMakeUsers()) GTEST_SKIP() << "needs root, to make a user and act as root on its board";
        owner_ = std::make_unique<ThrowAwayUser>("own");
        ASSERT_TRUE(owner_->ok());
        board_ = BoardOwnedBy(*owner_);
        char tmpl[] = "/tmp/kvrootonly.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        rootOnly_ = tmpl;
    }
    void TearDown() override {
        if (board_) KillServers();
        board_.reset();
        std::error_code ec;
        if (!rootOnly_.empty()) fs::remove_all(rootOnly_, ec);
    }

    fs::path Board() const { return board_->root(); }

    // What root may run on the board, one kind at a time.
    enum Run { kTools, kServer, kLine, kRunCommand };
    void RunAsRoot(Run what) {
        std::string built = fs::path(KV_BIN_DIR).parent_path().string();
        switch (what) {
            case kTools:
                RunProgram({ProgramPath("kvsample"), "set", (Board() / "kvconfig.bbs").string(),
                            "SysopConsole=tty63"},
                           Board());
                for (const char* tool : {"kvhalt", "kvrefresh"}) RunProgram({ProgramPath(tool)}, Board());
                break;
            case kServer:
                RunProgram({"/bin/bash", SourcePath("scripts/board-server.sh"), "start", "--bin", KV_BIN_DIR,
                            Board().string()},
                           "/");
                RunProgram({"/bin/bash", SourcePath("scripts/board-server.sh"), "stop", "--bin", KV_BIN_DIR,
                            Board().string()}, "/");
                break;
            case kLine:
                Call({ProgramPath("kvline"), Board().string()}, {});
                break;
            case kRunCommand:
                Call({"/bin/bash", SourcePath("scripts/run-board.sh"), "--built", built},
                     {"KV_BOARD=" + Board().string()});
                break;
        }
        KillServers();
    }
    // A server that a failed start left, killed, and its segment gone, so
    // that the next start meets none.
    void KillServers() {
        for (pid_t pid : ServersIn(Board())) kill(pid, SIGKILL);
        WaitUntil([&] { return ServersIn(Board()).empty(); });
        if (int id = SegmentId(); id >= 0) shmctl(id, IPC_RMID, nullptr);
    }
    // A call on a terminal of its own, ended once it reached the board's
    // log-in or ended by itself.
    void Call(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
        PtyOptions o;
        o.argv = argv;
        o.env = env;
        Caller c(o);
        c.Expect("Your full name: ");
        c.session().Hangup();
        c.Wait();
    }

    std::unique_ptr<ThrowAwayUser> owner_;
    std::unique_ptr<TempBoard> board_;
    fs::path rootOnly_;
};

// Each name the programs and scripts write, create or open, as a link of
// the owner's to a file of root's alone: to one that exists where the name
// is written (its bytes, owner and mode must stay), to one that does not
// where the name is only opened or made (it must not come to be).
struct Planted {
    const char* name;
    bool exists;
    int run;  // RootOnAnotherUsersBoard::Run
};

TEST_F(RootOnAnotherUsersBoard, NoLinkThatTheOwnerPlantsIsFollowed) {
    const Planted cases[] = {
        {"kvconfig.bbs.tmp", true, kTools},  // the configuration's rewrite
        {"system/kivopipe.bbs", true, kTools},
        {"state/server.pid", true, kServer},
        {"state/server.lock", false, kServer},
        {"state/line.0", true, kLine},
        {"state/lock", false, kLine},
        {"state/server.run", false, kRunCommand},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path link = Board() / c.name, target = rootOnly_ / (fs::path(c.name).filename().string() + ".target");
        if (c.exists) {
            std::ofstream(target) << "root's own\n";
            ASSERT_EQ(chmod(target.c_str(), 0600), 0);
        }
        FileState before = StateOf(target);
        fs::create_symlink(target, link);
        ASSERT_EQ(lchown(link.c_str(), owner_->uid(), owner_->gid()), 0);

        RunAsRoot(Run(c.run));

        FileState after = StateOf(target);
        EXPECT_TRUE(after == before) << Describe(before) << " became " << Describe(after);
        // The next case starts from a state the scripts did not make.
        std::error_code ec;
        fs::remove(link, ec);
        fs::remove(target, ec);
        for (const auto& e : fs::directory_iterator(Board() / "state")) fs::remove(e.path(), ec);
    }
    // The configuration was still rewritten, and stayed the owner's.
    ConfigRecord c;
    ASSERT_TRUE(sample::ReadConfigRecord((Board() / "kvconfig.bbs").string(), c));
    EXPECT_EQ(c.SysopConsole, "tty63");
    FileState config = StateOf(Board() / "kvconfig.bbs");
    EXPECT_EQ(config.uid, owner_->uid());
    EXPECT_EQ(config.gid, owner_->gid());
}

// Without links in the way, root's start of the board hands it to its
// owner: the server, the line's kivo and every file they make are the
// owner's.
TEST_F(RootOnAnotherUsersBoard, TheScriptsDoTheBoardsWorkAsItsOwner) {
    RunResult r = RunProgram({"/bin/bash", SourcePath("scripts/board-server.sh"), "start", "--bin", KV_BIN_DIR,
                              Board().string()},
                             "/");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<pid_t> servers = ServersIn(Board());
    ASSERT_EQ(servers.size(), 1u) << r.out << r.err;
    EXPECT_EQ(ProcessUser(servers[0]), owner_->uid());

    PtyOptions o;
    o.argv = {ProgramPath("kvline"), Board().string()};
    Caller line(o);
    ASSERT_TRUE(line.Expect("is line 0.")) << line.Rest();
    ASSERT_TRUE(line.Expect("Your full name: ")) << line.Rest();
    for (const char* made : {"state/server.pid", "state/server.lock", "state/lock", "state/line.0"}) {
        FileState s = StateOf(Board() / made);
        EXPECT_TRUE(s.exists) << made;
        EXPECT_EQ(s.uid, owner_->uid()) << made;
    }
    line.session().Hangup();
    line.Wait();

    r = RunProgram({"/bin/bash", SourcePath("scripts/board-server.sh"), "stop", "--bin", KV_BIN_DIR,
                            Board().string()}, "/");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(WaitUntil([&] { return ServersIn(Board()).empty(); }));
}

// Root's own board is root's only while nobody else can write where the
// scripts write.
TEST(RootsOwnBoard, OpenToOthersWritesIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "only root is refused this";
    TempBoard b;
    fs::create_directory(b.root() / "state");
    fs::permissions(b.root() / "state", fs::perms(0777));
    RunResult r = RunProgram({"/bin/bash", SourcePath("scripts/board-server.sh"), "start", "--bin", KV_BIN_DIR,
                              b.root().string()},
                             "/");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, (b.root() / "state").string() +
                         " is open to other users' writes: run this as the board's owner, not as root.\n");
    EXPECT_FALSE(fs::exists(b.root() / "state" / "server.lock"));
}

}  // namespace
}  // namespace kv::test

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/files.h"
#include "common/runtime.h"
#include "common/whole_file.h"

using namespace kv;
namespace fs = std::filesystem;

namespace {

fs::path MakeTempDir(const std::string& under) {
    std::string tmpl = under + "/kvfiles.XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) return {};
    return tmpl;
}

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Write(const fs::path& p, const std::string& body) { std::ofstream(p, std::ios::binary) << body; }

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir("/tmp");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        SetConfig(ConfigRecord{});
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(Files, ExistsByKind) {
    ConfigRecord c;
    c.TextDir = (dir_ / "text").string();
    c.MenuDir = (dir_ / "menus").string();
    c.DataDir = (dir_ / "system").string();
    SetConfig(c);
    for (const char* d : {"text", "menus", "system", "system/adir"}) fs::create_directories(dir_ / d);
    for (const char* f : {"text/welcome.asc", "menus/top.mnu", "system/6opbusy.bbs", "plain"}) Write(dir_ / f, "x");

    struct Case {
        std::string name;
        int kind;
        bool want;
    } cases[] = {
        {"welcome", kAsciiDisplay, true}, {"welcome", kAnsiDisplay, false}, {"top", kMenuFile, true},
        {"top.mnu", kMenuFile, false},    {"6opbusy.bbs", kDataFile, true}, {"adir", kDataFile, false},
        {(dir_ / "plain").string(), kPlainPath, true}, {dir_.string(), kPlainPath, false},
        {"missing", kDataFile, false},    {"welcome", 5, false},            {"welcome", -1, false},
    };
    for (const auto& k : cases) EXPECT_EQ(FileExists(k.name, k.kind), k.want) << k.name << " kind " << k.kind;
}

// The hang-up is held back only while the test runs: a handler and an
// unblocked mask are as they were afterwards.
TEST_F(Files, ExistsLeavesHangUpHandlingAlone) {
    static volatile sig_atomic_t hangups = 0;
    struct sigaction sa {}, old {};
    sa.sa_handler = [](int) { hangups = hangups + 1; };
    sigaction(SIGHUP, &sa, &old);
    FileExists((dir_ / "nothing").string(), kPlainPath);
    sigset_t mask;
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_FALSE(sigismember(&mask, SIGHUP));
    raise(SIGHUP);
    EXPECT_EQ(hangups, 1);
    sigaction(SIGHUP, &old, nullptr);
}

TEST_F(Files, SizeTimeAndDirectory) {
    Write(dir_ / "empty", "");
    Write(dir_ / "five", "12345");
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / "five").c_str(), times, 0), 0);

    EXPECT_EQ(FileSize((dir_ / "empty").string()), 0);
    EXPECT_EQ(FileSize((dir_ / "five").string()), 5);
    EXPECT_EQ(FileSize((dir_ / "missing").string()), -1);
    EXPECT_EQ(FileTime((dir_ / "five").string()), 1000000000);
    EXPECT_EQ(FileTime((dir_ / "missing").string()), 0);
    EXPECT_TRUE(IsDirectory(dir_.string()));
    EXPECT_FALSE(IsDirectory((dir_ / "five").string()));
    EXPECT_FALSE(IsDirectory((dir_ / "missing").string()));
}

TEST_F(Files, FreeDiskSpace) {
    struct Case {
        uint64_t blocks, size;
        int32_t want;
    } cases[] = {
        {0, 4096, 0},
        {1048, 512, 512},
        {10ull << 18, 4096, int32_t((10ull << 30) / 1048)},  // 10 GiB: past where 32 bits wrap
        {1ull << 40, 4096, INT32_MAX},
        {UINT64_MAX, UINT64_MAX, INT32_MAX},
    };
    for (const auto& c : cases) EXPECT_EQ(FreeSpaceUnits(c.blocks, c.size), c.want) << c.blocks << "x" << c.size;

    // Other tests write while this one runs: the figure must lie between
    // what the file system reported just before and just after.
    // Space can be taken and given back in between, so a few tries are
    // allowed for one quiet moment.
    int32_t got = -1, a = 0, b = 0;
    for (int tries = 0; tries < 50; ++tries) {
        struct statvfs before, after;
        ASSERT_EQ(statvfs(dir_.c_str(), &before), 0);
        got = FreeDiskSpace(dir_.string());
        ASSERT_EQ(statvfs(dir_.c_str(), &after), 0);
        a = FreeSpaceUnits(before.f_bfree, before.f_frsize);
        b = FreeSpaceUnits(after.f_bfree, after.f_frsize);
        if (got >= std::min(a, b) && got <= std::max(a, b)) break;
    }
    EXPECT_GE(got, 0);
    EXPECT_GE(got, std::min(a, b));
    EXPECT_LE(got, std::max(a, b));
    EXPECT_EQ(FreeDiskSpace((dir_ / "missing").string()), -1);
}

TEST(AreaSelection, BitsOfTheBitmap) {
    std::array<uint8_t, 13> bits{};
    FlipAreaSelection(bits, 9);
    EXPECT_EQ(bits[1], 0x02);  // area 9: bit 1 of the second byte
    EXPECT_TRUE(IsAreaSelected(bits, 9));
    EXPECT_FALSE(IsAreaSelected(bits, 8));
    EXPECT_FALSE(IsAreaSelected(bits, 10));
    FlipAreaSelection(bits, 9);
    EXPECT_EQ(bits, (std::array<uint8_t, 13>{}));

    FlipAreaSelection(bits, 0);
    FlipAreaSelection(bits, 99);
    EXPECT_EQ(bits[0], 0x01);
    EXPECT_EQ(bits[12], 0x08);
    // Outside the 104 bits nothing is written or found.
    auto before = bits;
    FlipAreaSelection(bits, 104);
    FlipAreaSelection(bits, -1);
    EXPECT_EQ(bits, before);
    EXPECT_FALSE(IsAreaSelected(bits, 104));
    EXPECT_FALSE(IsAreaSelected(bits, -1));

    bits.fill(255);
    for (int a = 0; a < 100; ++a) EXPECT_TRUE(IsAreaSelected(bits, a)) << a;
}

class Move : public Files {
protected:
    void SetUp() override {
        Files::SetUp();
        // Names that a shell would run: any command in them would leave a
        // file behind in the working directory.
        ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(cwd_), 0);
        Files::TearDown();
    }
    static bool NoPwned(const fs::path& d) {
        for (const auto& e : fs::recursive_directory_iterator(d))
            if (e.path().filename().string().find("pwned") == 0) return false;
        return true;
    }
    char cwd_[PATH_MAX];
};

const std::string kEvilSource = "up;touch pwned1 $(touch pwned2) `touch pwned3` 'q\" *.zip";
const std::string kEvilTarget = "dst|touch pwned4 && echo >pwned5; ${HOME} <x> &";

TEST_F(Move, ShellMetacharactersAreJustNames) {
    Write(kEvilSource, "payload");
    EXPECT_EQ(MoveFile(kEvilSource, kEvilTarget), 0);
    EXPECT_FALSE(fs::exists(kEvilSource));
    EXPECT_EQ(Slurp(kEvilTarget), "payload");
    EXPECT_TRUE(NoPwned(dir_));
}

TEST_F(Move, IntoDirectoriesOverFilesAndFailures) {
    fs::create_directory("area");
    Write("a", "A");
    EXPECT_EQ(MoveFile("a", "area"), 0);
    EXPECT_EQ(Slurp("area/a"), "A");

    Write("b", "new");
    Write("c", "old");
    EXPECT_EQ(MoveFile("b", "c"), 0);
    EXPECT_EQ(Slurp("c"), "new");

    EXPECT_EQ(MoveFile("missing", "d"), 1);
    EXPECT_FALSE(fs::exists("d"));
    EXPECT_EQ(MoveFile("c", "no/such/dir/c"), 1);
    EXPECT_EQ(Slurp("c"), "new");
}

// /tmp and /dev/shm lie on different file systems here: the move copies.
TEST_F(Move, AcrossFileSystems) {
    struct stat a, b;
    if (stat("/dev/shm", &b) != 0 || stat(dir_.c_str(), &a) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    fs::path other = MakeTempDir("/dev/shm");
    ASSERT_FALSE(other.empty());
    struct Cleanup {
        fs::path p;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(p, ec);
        }
    } cleanup{other};

    Write(kEvilSource, "payload");
    ASSERT_EQ(chmod(kEvilSource.c_str(), 0640), 0);
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, kEvilSource.c_str(), times, 0), 0);
    EXPECT_EQ(MoveFile(kEvilSource, (other / kEvilTarget).string()), 0);
    EXPECT_FALSE(fs::exists(kEvilSource));
    struct stat st;
    ASSERT_EQ(stat((other / kEvilTarget).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtime, 1000000000);
    EXPECT_EQ(Slurp(other / kEvilTarget), "payload");

    // A directory goes across whole, into the destination directory.
    fs::create_directories("tree/inner");
    Write("tree/inner/f", "deep");
    fs::create_symlink("inner/f", "tree/link");
    EXPECT_EQ(MoveFile("tree", other.string()), 0);
    EXPECT_FALSE(fs::exists("tree"));
    EXPECT_EQ(Slurp(other / "tree/inner/f"), "deep");
    EXPECT_EQ(fs::read_symlink(other / "tree/link"), "inner/f");

    // Only the moved names are left: no temporary copy stays behind.
    int entries = 0;
    for (const auto& e : fs::directory_iterator(other)) entries += e.exists() ? 1 : 0;
    EXPECT_EQ(entries, 2);
    EXPECT_TRUE(NoPwned(dir_));
    EXPECT_TRUE(NoPwned(other));
}

}  // namespace

namespace {

// A writer killed at any moment of WriteFileWhole leaves the old
// contents or the new ones, whole, with the file's own mode.
TEST_F(Files, WholeFileRewriteKilledAtAnyMomentLeavesOneWholeVersion) {
    fs::path target = dir_ / "record.bbs";
    const size_t size = 256 * 1024;
    Write(target, std::string(size, 'A'));
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    for (int round = 0; round < 20; ++round) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::string a(size, 'A'), b(size, 'B');
            for (int i = 0;; ++i) WriteFileWhole(target.string(), i % 2 ? a : b);
        }
        usleep(useconds_t(1000 + round * 700));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        std::string body = Slurp(target);
        ASSERT_EQ(body.size(), size) << "round " << round;
        EXPECT_TRUE(body == std::string(size, 'A') || body == std::string(size, 'B')) << "round " << round;
        EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    }
}

// A file the rewrite makes is the board's alone: users.bbs rewritten by a
// pack holds passwords, so the temporary's mode never opens it to others.
TEST_F(Files, WholeFileRewriteGivesANewFileTheBoardsMode) {
    mode_t mask = umask(0002);
    fs::path made = dir_ / "users.bbs";
    ASSERT_TRUE(WriteFileWhole(made.string(), "secret"));
    umask(mask);
    EXPECT_EQ(Slurp(made), "secret");
    EXPECT_EQ(fs::status(made).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write);
}

// Root rewriting a file in a directory of another user: the new file is
// the old one's owner's, with its mode, and a link that user put where the
// file was is replaced, never written through nor lent its target's owner.
TEST_F(Files, WholeFileRewriteAsRootKeepsTheOwnerAndNeverFollowsALink) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
    constexpr uid_t kNobody = 65534;
    fs::path kept = dir_ / "users.bbs", planted = dir_ / "kvconfig.bbs", secret = dir_ / "secret";
    Write(kept, "old");
    ASSERT_EQ(chown(kept.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
    Write(secret, "root's own");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    fs::create_symlink(secret, planted);

    ASSERT_TRUE(WriteFileWhole(kept.string(), "new"));
    ASSERT_TRUE(WriteFileWhole(planted.string(), "new"));

    struct stat st;
    ASSERT_EQ(stat(kept.c_str(), &st), 0);
    EXPECT_EQ(Slurp(kept), "new");
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, kNobody);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(lstat(planted.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(Slurp(secret), "root's own");
    ASSERT_EQ(stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

}  // namespace

namespace {

TEST_F(Files, TouchMakesAFileOrDatesItNow) {
    fs::path made = dir_ / "new; rm -rf x";  // a name, never shell syntax
    ASSERT_EQ(TouchFile(made.string()), 1);
    EXPECT_EQ(fs::file_size(made), 0u);

    fs::path old = dir_ / "old.zip";
    Write(old, "kept");
    fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(48));
    ASSERT_EQ(TouchFile(old.string()), 1);
    EXPECT_EQ(Slurp(old), "kept");
    EXPECT_GT(fs::last_write_time(old), fs::file_time_type::clock::now() - std::chrono::minutes(5));

    EXPECT_EQ(TouchFile((dir_ / "no" / "such").string()), 0);
}

}  // namespace

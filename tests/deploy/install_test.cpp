// A real machine's board as the README sets it up: what is installed (and
// what is not), a board built for a sysop who gives a name and password of
// their own, and that board run from the installed tree alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>

#include "common/config_record.h"
#include "common/user_record.h"
#include "common/users.h"
#include "sample/tools/builders.h"
#include "tests/support/board.h"
#include "tests/support/caller_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<UserRecord> Users(const fs::path& board) {
    std::string bytes = Slurp(board / "system" / "users.bbs");
    std::vector<UserRecord> users;
    for (size_t at = 0; at + kUserRecordSize <= bytes.size(); at += kUserRecordSize)
        users.push_back(DecodeUserRecord(reinterpret_cast<const uint8_t*>(bytes.data()) + at));
    return users;
}

// Every text a reader of this tree can read a password in.
std::string PublishedTexts() {
    std::string all = Slurp(SourcePath("README.md"));
    for (const auto& e : fs::recursive_directory_iterator(SourcePath("sample")))
        if (e.is_regular_file()) all += Slurp(e.path());
    return Lower(all);
}

// Builds a board the real machine's way: the sysop's name by option, the
// password on standard input.
RunResult BuildRealBoard(const std::string& kvsample, const std::string& src, const fs::path& out,
                         const std::string& name, const std::string& password) {
    return RunProgram({"/bin/sh", "-c", "printf '%s\\n' \"$PW\" | \"$@\"", "sh", kvsample, "board", src, out.string(),
                       "--sysop", name},
                      "/", {"PW=" + password});
}

class Installed : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kvprefix.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        prefix_ = tmpl;
        RunResult r = RunProgram({KV_CMAKE, "--install", fs::path(KV_BIN_DIR).parent_path().string(), "--prefix",
                                  prefix_.string()},
                                 "/", {}, 120);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    void TearDown() override {
        if (!prefix_.empty() && fs::exists(prefix_ / "board")) {
            RunProgram({"/bin/bash", (prefix_ / "scripts/board-server.sh").string(), "stop",
                        (prefix_ / "board").string()},
                       "/");
        }
        std::error_code ec;
        fs::remove_all(prefix_, ec);
    }
    fs::path prefix_;
};

TEST_F(Installed, TheProgramsScriptsAndSourcesOfABoardAndNoTests) {
    std::set<std::string> bin, scripts;
    for (const auto& e : fs::directory_iterator(prefix_ / "bin")) {
        bin.insert(e.path().filename().string());
        EXPECT_EQ(access(e.path().c_str(), X_OK), 0) << e.path();
    }
    EXPECT_EQ(bin, (std::set<std::string>{"kivo", "kvconsole", "kvhalt", "kvhubd", "kvline", "kvpost", "kvprune",
                                          "kvrefresh", "kvroster", "kvsample"}));
    for (const auto& e : fs::directory_iterator(prefix_ / "scripts")) scripts.insert(e.path().filename().string());
    EXPECT_TRUE(scripts.count("board-server.sh") && scripts.count("board-common.sh") && scripts.count("sysop.sh"))
        << scripts.size();
    for (const char* tooling : {"run-board.sh", "test.sh", "fuzz.sh", "setup.sh", "install.sh"})
        EXPECT_FALSE(scripts.count(tooling)) << tooling;
    for (const char* source : {"board.conf", "users.conf", "texts", "menus", "display", "data/doors/town.sh"})
        EXPECT_TRUE(fs::exists(prefix_ / "sample" / source)) << source;
    EXPECT_EQ(access((prefix_ / "sample/data/doors/town.sh").c_str(), X_OK), 0);
    EXPECT_FALSE(fs::exists(prefix_ / "sample" / "tools"));
    // Nothing but those three: no test programs, no test folder.
    std::set<std::string> top;
    for (const auto& e : fs::directory_iterator(prefix_)) top.insert(e.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"bin", "sample", "scripts"}));
}

// The README's steps with the installed tree: kvsample builds the board for
// the sysop, the installed scripts find the installed programs, and the
// sysop logs in with the password given, on a board without the sample's
// published accounts.
TEST_F(Installed, ARealBoardRunsFromTheInstalledTreeWithTheSysopsOwnPassword) {
    fs::path board = prefix_ / "board";
    RunResult r = BuildRealBoard((prefix_ / "bin/kvsample").string(), (prefix_ / "sample").string(), board,
                                 "jane  doe ", "Quiet-Harbour-7");
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    std::vector<UserRecord> users = Users(board);
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].Name, "Jane Doe");
    EXPECT_EQ(users[0].SecurityLevel, 64000);
    EXPECT_TRUE(PasswordMatches(users[0], "quiet-harbour-7"));
    EXPECT_EQ(users[0].Comment1, "");
    const std::string published = PublishedTexts();
    for (const UserRecord& u : users) EXPECT_EQ(published.find(Lower(u.Password)), std::string::npos) << u.Name;
    ConfigRecord c;
    ASSERT_TRUE(sample::ReadConfigRecord((board / "kvconfig.bbs").string(), c));
    EXPECT_EQ(c.SysopName, "Jane Doe");
    // Its programs are the installed ones.
    EXPECT_EQ(c.SenderPath, (prefix_ / "bin/kvpost").string());
    fs::path headers = board / "msgbase" / "msghdr.bbs";
    EXPECT_EQ(fs::exists(headers) ? fs::file_size(headers) : 0u, 0u) << "the sample's messages";

    r = RunProgram({"/bin/bash", (prefix_ / "scripts/board-server.sh").string(), "start", board.string()}, "/");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    PtyOptions o;
    o.argv = {(prefix_ / "bin/kvline").string(), board.string()};
    Caller sysop(o);
    ASSERT_TRUE(sysop.Expect("is line 0.")) << sysop.Rest();
    sysop.LogInAs("jane doe", "quiet-harbour-7");
    ASSERT_TRUE(sysop.LogOffAtMenu()) << sysop.Rest();
    EXPECT_GE(sysop.Wait(), 0);
    std::string log = Slurp(board / "system" / "kivo0.log");
    EXPECT_NE(log.find("Jane Doe"), std::string::npos) << log;
}

// The sysop's name and password are checked as a caller's are, and the
// sample's own passwords are refused: nothing is built then.
TEST(RealBoard, RefusesANameOrPasswordACallerCouldNotHave) {
    struct Case {
        const char* name;
        const char* password;
        const char* why;
    } cases[] = {
        {"Jane", "Quiet-Harbour-7", "the sysop's name must be a first and a last name, as callers' names are"},
        {"Jane Doe", "abc", "the password must have at least 4 characters"},
        {"Jane Doe", "LightHouse", "that password is one of the sample board's, which anyone can read: choose another"},
        {"Jane Doe", "jane", "that password is refused: it is the name, a part of it or a word of pwdtrash.ctl"},
        {"Jane Doe", "password", "that password is refused: it is the name, a part of it or a word of pwdtrash.ctl"},
        {"Jane Doe", "two words", "the password must be at most 15 plain letters, digits or signs, without blanks"},
        {"Jane Doe", "", "the password must have at least 4 characters"},
    };
    for (const auto& c : cases) {
        char tmpl[] = "/tmp/kvreal.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        fs::path out = fs::path(tmpl) / "board";
        RunResult r = BuildRealBoard(ProgramPath("kvsample"), SourcePath("sample"), out, c.name, c.password);
        EXPECT_EQ(r.status, 1) << c.password;
        EXPECT_EQ(r.err, std::string("kvsample: ") + c.why + "\n") << c.password;
        EXPECT_FALSE(fs::exists(out)) << c.password;
        fs::remove_all(tmpl);
    }
}

// What kvsample makes is the board's user's and group's alone, whatever the
// umask of whoever ran it: files to read and write, programs (the door, the
// mailer) and directories to use as well, nothing for anyone else.
TEST(BuiltBoard, EveryFileIsTheUsersAndTheGroupsAlone) {
    for (bool real : {false, true}) {
        SCOPED_TRACE(real ? "for a real machine" : "the sample");
        char tmpl[] = "/tmp/kvmodes.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        fs::path out = fs::path(tmpl) / "board";
        RunResult r;
        {
            ScopedUmask open(022);
            r = real ? BuildRealBoard(ProgramPath("kvsample"), SourcePath("sample"), out, "Jane Doe", "Quiet-Harbour-7")
                     : RunProgram({ProgramPath("kvsample"), "board", SourcePath("sample"), out.string()}, "/");
        }
        ASSERT_EQ(r.status, 0) << r.err;
        int programs = 0;
        for (const auto& e : fs::recursive_directory_iterator(out)) {
            struct stat st;
            ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
            mode_t mode = st.st_mode & 07777;
            if (S_ISDIR(st.st_mode)) {
                EXPECT_EQ(mode, 0770u) << e.path();
            } else if ((mode & S_IXUSR) != 0) {
                EXPECT_EQ(mode, 0770u) << e.path();
                ++programs;
            } else {
                EXPECT_EQ(mode, 0660u) << e.path();
            }
        }
        EXPECT_GE(programs, 2) << "the door and the mailer";
        fs::remove_all(tmpl);
    }
}

}  // namespace
}  // namespace kv::test

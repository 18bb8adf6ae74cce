// The run command as a new sysop uses it: run the board, write something,
// end the call, run it again and find it there; and a second terminal that
// joins a running board as the next line of the same server, which stays
// while any caller is on.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/support/board.h"
#include "tests/support/caller_fixture.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

class RunBoard : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kvrunXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        scratch_ = tmpl;
    }
    void TearDown() override {
        // A run that a failed test left behind keeps its server going in
        // the background; it goes with the board.
        if (int server = Server()) kill(server, SIGTERM);
        std::error_code ec;
        fs::remove_all(scratch_, ec);
    }

    fs::path Board() const { return scratch_ / "board"; }

    // One run of the command on a terminal of its own, with the programs of
    // this build.
    std::unique_ptr<Caller> Run() {
        PtyOptions o;
        o.argv = {"/bin/bash", SourcePath("scripts/run-board.sh"), "--built",
                  fs::path(KV_BIN_DIR).parent_path().string()};
        o.env = {"KV_BOARD=" + Board().string()};
        return std::make_unique<Caller>(o);
    }

    // The server a run recorded, or 0 when none runs.
    int Server() const {
        std::ifstream in(Board() / "state" / "server.pid");
        int pid = 0;
        in >> pid;
        return pid > 0 && kill(pid, 0) == 0 ? pid : 0;
    }

    fs::path scratch_;
};

constexpr const char* kEditorMenu = "[d/e/r/i/l/h/c/s/a] : ";

TEST_F(RunBoard, ASecondRunKeepsWhatTheFirstOneWrote) {
    {
        auto sam = Run();
        ASSERT_TRUE(sam->Expect("Sample board built in " + Board().string())) << sam->Rest();
        sam->LogInAs("sam sysop", "lighthouse");
        ASSERT_TRUE(sam->Answer("Your choice: ", "m")) << sam->Rest();
        ASSERT_TRUE(sam->Answer(": ", "e")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("To: ", "terry tester\r")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("Subject: ", "Kept\r")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("Make the message private?", "y")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("Change the heading before writing?", "n")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("  1: ", "Still here tomorrow.\r")) << sam->Rest();
        ASSERT_TRUE(sam->Answer("  2: ", "\r")) << sam->Rest();
        ASSERT_TRUE(sam->Answer(kEditorMenu, "s")) << sam->Rest();
        ASSERT_TRUE(sam->Answer(": ", "q")) << sam->Rest();
        ASSERT_TRUE(sam->LogOffAtMenu()) << sam->Rest();
        ASSERT_TRUE(sam->Expect("The server is stopped.")) << sam->Rest();
        EXPECT_EQ(sam->Wait(), 0) << sam->Rest();
    }
    EXPECT_EQ(Server(), 0);
    {
        auto terry = Run();
        terry->LogInAs("terry tester", "keyboard");
        EXPECT_EQ(terry->session().Output().find("Sample board built"), std::string::npos);
        ASSERT_TRUE(terry->Expect("Mail waiting for you:")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("Read your mail now", "y")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("Stop after each message", "y")) << terry->Rest();
        // The sample board's own two messages to Terry come first.
        for (const char* sample : {"Message #3 in General", "Message #4 in Private mail"}) {
            ASSERT_TRUE(terry->Expect(sample)) << terry->Rest();
            ASSERT_TRUE(terry->Answer("]ause? ", "n")) << terry->Rest();
        }
        ASSERT_TRUE(terry->Expect("Still here tomorrow.")) << terry->Rest();
        ASSERT_TRUE(terry->Answer("]ause? ", "s")) << terry->Rest();
        ASSERT_TRUE(terry->LogOffAtMenu()) << terry->Rest();
        EXPECT_EQ(terry->Wait(), 0) << terry->Rest();
    }
}

TEST_F(RunBoard, ASecondTerminalJoinsAsTheNextLineUntilTheLastCallEnds) {
    auto first = Run();
    // The sample's console entry: nobody is on it, so it is the first free line.
    ASSERT_TRUE(first->Expect("is line 0.")) << first->Rest();
    int server = Server();
    ASSERT_GT(server, 0);
    first->LogInAs("sam sysop", "lighthouse");
    ASSERT_TRUE(first->Expect("Your choice: ")) << first->Rest();
    // A line, not local mode: the sysop chose colour.
    EXPECT_NE(first->session().Output().find("\033[3"), std::string::npos);

    auto second = Run();
    ASSERT_TRUE(second->Expect("Joining the board in " + Board().string() + " (server PID " +
                               std::to_string(server) + ")."))
        << second->Rest();
    ASSERT_TRUE(second->Expect("is line 1.")) << second->Rest();
    second->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(second->Answer("Read your mail now", "n")) << second->Rest();  // the sample messages
    ASSERT_TRUE(second->Expect("Your choice: ")) << second->Rest();

    // The first call ends; the server stays for the second, and a call
    // that comes in as a network caller's does gets the line the first
    // one left.
    first->Send("g");
    EXPECT_EQ(first->Wait(), 0) << first->Rest();
    EXPECT_EQ(first->session().Output().find("The server is stopped."), std::string::npos);
    EXPECT_EQ(Server(), server);
    PtyOptions o;
    o.argv = {ProgramPath("kvline"), Board().string()};
    auto network = std::make_unique<Caller>(o);
    ASSERT_TRUE(network->Expect("is line 0.")) << network->Rest();
    ASSERT_TRUE(network->Expect("Your full name: ")) << network->Rest();

    // The last run ends, but not the server: a caller is still on.
    second->Send("g");
    EXPECT_EQ(second->Wait(), 0) << second->Rest();
    EXPECT_EQ(second->session().Output().find("The server is stopped."), std::string::npos);
    EXPECT_EQ(Server(), server);
    network->session().Hangup();
    network->Wait();

    // A run that ends with nobody left stops the server a run started.
    auto last = Run();
    ASSERT_TRUE(last->Expect("is line 0.")) << last->Rest();
    last->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(last->Answer("Read your mail now", "n")) << last->Rest();
    ASSERT_TRUE(last->LogOffAtMenu()) << last->Rest();
    ASSERT_TRUE(last->Expect("The server is stopped.")) << last->Rest();
    EXPECT_EQ(last->Wait(), 0) << last->Rest();
    EXPECT_EQ(Server(), 0);
    // Two entries, as many as lines were ever used at once.
    std::ifstream lines(Board() / "system" / "bbsline.ctl");
    std::string all((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "# device,speed,delay\n" + last->session().SlavePath().substr(5) + ",0,0\n" +
                       second->session().SlavePath().substr(5) + ",0,0\n");
}

// A first run spends minutes setting up and building: it says so before
// each step, and the build's own progress reaches the screen.  A cmake of
// the test's own stands in for the build and fails, which ends the run.
TEST_F(RunBoard, AFirstRunSaysWhatItDoesBeforeTheLongSteps) {
    fs::path stub = scratch_ / "stub";
    fs::create_directories(stub);
    std::ofstream(stub / "cmake") << "#!/bin/sh\n"
                                     "case \"$1\" in --build) echo \"[ 42%] Building CXX object kivo\"; exit 3 ;; esac\n";
    fs::permissions(stub / "cmake", fs::perms(0755));
    RunResult r = RunProgram({"/bin/bash", SourcePath("scripts/run-board.sh")}, scratch_,
                             {"PATH=" + stub.string() + ":/usr/sbin:/usr/bin:/sbin:/bin", "KV_BOARD=" + Board().string()},
                             120);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    size_t setup = r.out.find("Setting up: scripts/setup.sh installs the packages the build needs");
    size_t build = r.out.find("Building the programs in build/ (the first build takes some minutes).");
    size_t progress = r.out.find("[ 42%] Building CXX object kivo");
    ASSERT_NE(setup, std::string::npos) << r.out;
    ASSERT_NE(build, std::string::npos) << r.out;
    ASSERT_NE(progress, std::string::npos) << r.out;
    EXPECT_LT(setup, build);
    EXPECT_LT(build, progress);
    EXPECT_FALSE(fs::exists(Board()));
}

}  // namespace
}  // namespace kv::test

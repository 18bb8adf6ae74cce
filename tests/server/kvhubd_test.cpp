// kvhubd as the sysop meets it: options, start-up, the segment and the pipe
// it makes, shut-down and reload requests, SIGTERM and its message files.
#include <fcntl.h>
#include <signal.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "common/config_record.h"
#include "common/process_info.h"
#include "common/segment.h"
#include "tests/support/caller_fixture.h"
#include "tests/support/server_process.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::test;

namespace {

struct OptionCase {
    std::vector<std::string> args;
    int status;
    std::string err;
};

// Every refusal comes before the configuration is read: the runs are made
// where there is none, so an option wrongly let through fails the case
// instead of starting a server.
TEST_F(ServerTest, RefusesBadOptionsWithTheirTexts) {
    const std::string usage = "USAGE: kvhubd [-t <min>] [-n <sec>] [-f <f1[,f2]>] [-o]\n";
    const std::vector<OptionCase> cases = {
        {{"-t", "0"}, 1, "Timeout must be between 1 and 720 minutes\n"},
        {{"-t", "721"}, 1, "Timeout must be between 1 and 720 minutes\n"},
        {{"-t", "soon"}, 1, "Timeout must be between 1 and 720 minutes\n"},
        {{"-n", "14"}, 1, "Naptime must be between 15 and 120 secondes\n"},
        {{"-n", "121"}, 1, "Naptime must be between 15 and 120 secondes\n"},
        {{"-f", "7"}, 1, "Message files number must between 0 and 6\n"},
        {{"-f", "-1"}, 1, "Message files number must between 0 and 6\n"},
        {{"-f", "1,9"}, 1, "Message files number must between 0 and 6\n"},
        {{"-f", "3,3"}, 1, "You must enter two different messages file number\n"},
        {{"-x"}, 1, usage},
        {{"-t"}, 1, usage},
        {{"-q", "-v"}, 0, ""},
        {{}, 1, "Cannot load configuration -- please check\nHint: set the env. var. KIVOCNF to the kvconfig.bbs path\n"},
    };
    TempBoard b;
    for (const auto& c : cases) {
        std::vector<std::string> argv = {ProgramPath("kvhubd")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        RunResult r = RunProgram(argv, b.DataDir());
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(r.status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(r.err.rfind("kvhubd v1.0", 0), 0u) << r.err;
        } else {
            EXPECT_EQ(r.err, c.err);
        }
        EXPECT_EQ(r.out, "");
    }
    EXPECT_LT(SegmentId(), 0);
}

TEST_F(ServerTest, StartsWithSegmentPipeAndLogThenHalts) {
    TempBoard b;
    mode_t oldMask = umask(077);  // the pipe is 0660 all the same
    pid_t pid = StartServer(b);
    umask(oldMask);
    ASSERT_GT(pid, 0) << last_.err;
    EXPECT_EQ(last_.out, "The BBS's Server is now started with PID = " + std::to_string(pid) + "\n");
    EXPECT_EQ(last_.err, "");

    // The segment: key, size, mode, header and the configuration copy.
    int id = SegmentId();
    ASSERT_GE(id, 0);
    shmid_ds ds{};
    ASSERT_EQ(shmctl(id, IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.shm_segsz, 118696u);
    EXPECT_EQ(ds.shm_perm.mode & 0777, 0660u);
    EXPECT_EQ(ds.shm_nattch, 1u);
    {
        Attachment seg;
        ASSERT_NE(seg.data(), nullptr);
        SegmentHeader h;
        DecodeRecord(seg.data(), h);
        EXPECT_EQ(h.ConfigOffset, 28);
        EXPECT_EQ(h.TableOffset0, 50696);
        EXPECT_EQ(h.BlockOffset0, 54696);
        EXPECT_EQ(h.TableOffset1, 84696);
        EXPECT_EQ(h.BlockOffset1, 88696);
        EXPECT_EQ(h.Language[0], 0);
        EXPECT_EQ(h.Language[1], 1);
        EXPECT_GE(h.LastText[0], 0);
        EXPECT_EQ(h.LastText[0], h.LastText[1]);
        std::string file = b.ReadFile("kvconfig.bbs");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(seg.data()) + 28, kConfigFileSize), file);
        EXPECT_EQ(SegmentText(seg.data(), 0, 0), "NY");
        EXPECT_EQ(SegmentText(seg.data(), 1, 0), "NO");
    }

    struct stat st{};
    ASSERT_EQ(stat((b.DataDir() / "kivopipe.bbs").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    ASSERT_EQ(stat((b.DataDir() / "server.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0007, 0u);
    std::string log = ServerLog(b);
    ASSERT_EQ(log.rfind("*\n* @(#)server.log ", 0), 0u) << log;
    EXPECT_NE(log.find("\n* LOG FILE CREATED: "), std::string::npos);
    size_t body = log.find("*\n\n");
    ASSERT_NE(body, std::string::npos);
    std::vector<std::string> lines;
    std::istringstream in(log.substr(body + 3));
    for (std::string line; std::getline(in, line);) lines.push_back(line.substr(std::min<size_t>(20, line.size())));
    EXPECT_EQ(lines, (std::vector<std::string>{"-- kvhubd started (PID=" + std::to_string(pid) + ")",
                                               "Timeout = 60 min", "NapTime = 20 sec", "MailOut = NO",
                                               "MsgFile = 0 and 1"}));

    // A second server finds the segment and stays out.
    RunResult second = RunProgram({ProgramPath("kvhubd")}, b.root());
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "Another instance of the server seems to be running\n");

    RunResult halt = RunTool(b, "kvhalt");
    EXPECT_EQ(halt.status, 0);
    EXPECT_NE(halt.err.find("kvhalt v1.0"), std::string::npos);
    EXPECT_NE(halt.err.find("The SHUT DOWN command has been sent to the server\n"), std::string::npos);
    EXPECT_EQ(WaitForExit(pid), 0);
    EXPECT_LT(SegmentId(), 0);
    EXPECT_FALSE(fs::exists(b.DataDir() / "kivopipe.bbs"));
    EXPECT_TRUE(ServerLog(b).ends_with(" -- kvhubd shutted down\n\n"));
}

// Started at a terminal, the server keeps none of it: a session of its own
// without a controlling terminal, /dev/null for standard input, and no
// descriptor on the terminal, so no hang-up, key or process that can reach
// the server reaches whoever started it.  What it says while it sets up
// still reaches the terminal, a refusal too.
TEST_F(ServerTest, KeepsNothingOfTheTerminalItWasStartedAt) {
    TempBoard b;
    PtyOptions o;
    o.argv = {ProgramPath("kvhubd")};
    o.dir = b.root();
    PtySession start(o);
    ASSERT_TRUE(start.WaitForText("started with PID = ")) << start.Screen();
    ASSERT_EQ(start.Wait(), 0);
    const std::string& out = start.Output();
    pid_t pid = std::atoi(out.c_str() + out.find("PID = ") + 6);
    ASSERT_GT(pid, 0) << out;
    running_.push_back(pid);

    EXPECT_EQ(getsid(pid), pid);
    ProcessInfo info;
    ASSERT_TRUE(ReadProcessInfo(pid, info));
    EXPECT_EQ(info.terminal, 0u);
    std::error_code ec;
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/0", ec), "/dev/null");
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        EXPECT_NE(fs::read_symlink(fd.path(), ec), start.SlavePath()) << fd.path();

    PtySession again(o);
    EXPECT_TRUE(again.WaitForText("Another instance of the server seems to be running")) << again.Screen();
    EXPECT_EQ(again.Wait(), 1);
    StopServer(pid);
}

// A server killed without its SIGTERM leaves its segment.  Whoever made it,
// when that is no running server, the next start takes it over and serves;
// a program still attached to the old one keeps reading its copy.
struct LeftoverCase {
    const char* name;
    bool reaped;     // the killed server was collected before the new start
    bool attached;   // a caller stays attached across the crash
    bool ourOwn;     // the segment is made by this test, not by a server
};

TEST_F(ServerTest, ASegmentNoServerHoldsIsTakenOver) {
    const std::vector<LeftoverCase> cases = {
        {"killed, nobody on line", true, false, false},
        {"killed, not reaped yet, a caller on line", false, true, false},
        {"made by another program", true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempBoard b;
        pid_t creator = getpid();
        std::unique_ptr<Attachment> caller;
        if (c.ourOwn) {
            ASSERT_GE(shmget(kSegmentKey, kSegmentSize, IPC_CREAT | IPC_EXCL | 0660), 0);
        } else {
            creator = StartServer(b);
            ASSERT_GT(creator, 0) << last_.err;
        }
        if (c.attached) caller = std::make_unique<Attachment>();
        int old = SegmentId();
        if (!c.ourOwn) {
            ASSERT_EQ(kill(creator, SIGKILL), 0);
            if (c.reaped) {
                EXPECT_EQ(WaitForExit(creator), 128 + SIGKILL);
            } else {
                // Dead, but left for us to collect: a zombie of its name.
                ASSERT_TRUE(WaitUntil([&] {
                    siginfo_t si{};
                    return waitid(P_PID, id_t(creator), &si, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                           si.si_pid == creator;
                }));
            }
        }
        ASSERT_EQ(SegmentId(), old);

        pid_t pid = StartServer(b);
        ASSERT_GT(pid, 0) << last_.err;
        EXPECT_EQ(last_.out, "The shared memory left by the server with PID " + std::to_string(creator) +
                                 " is taken over\nThe BBS's Server is now started with PID = " + std::to_string(pid) +
                                 "\n");
        EXPECT_EQ(last_.err, "");
        EXPECT_NE(ServerLog(b).find(" SHARED MEMORY left by PID " + std::to_string(creator) + " taken over, " +
                                    (c.attached ? "1" : "0") + " bbs still attached\n"),
                  std::string::npos)
            << ServerLog(b);
        EXPECT_NE(SegmentId(), old);
        if (caller) {
            if (!c.ourOwn) {
                EXPECT_EQ(SegmentText(caller->data(), 0, 0), "NY");
            }
            caller.reset();
        }
        if (!c.reaped) {
            EXPECT_EQ(WaitForExit(creator), 128 + SIGKILL);
        }

        // The new server is the creator of its segment: it is not taken
        // over in turn, and stops at a request as ever.
        RunResult second = RunProgram({ProgramPath("kvhubd")}, b.root());
        EXPECT_EQ(second.status, 1);
        EXPECT_EQ(second.err, "Another instance of the server seems to be running\n");
        SendCommand(b, CMD_SHUTDOWN);
        EXPECT_EQ(WaitForExit(pid), 0);
        EXPECT_LT(SegmentId(), 0);
    }
}

// The same with a real call on line: the caller goes on with the copy of
// the killed server's segment and ends the call as ever, and a new call
// meets the new server.
class ServerCrash : public CallerTest {};

TEST_F(ServerCrash, ACallGoesOnAndANewOneComesAfterTheRestart) {
    pid_t killed = StartServer(board());
    ASSERT_GT(killed, 0) << last_.err;
    auto terry = Dial();
    terry->LogInAs("terry tester", "keyboard");
    ASSERT_TRUE(terry->Expect("Your choice: ")) << terry->Rest();
    uint32_t calls = User(1).TotalCalls;

    ASSERT_EQ(kill(killed, SIGKILL), 0);
    EXPECT_EQ(WaitForExit(killed), 128 + SIGKILL);
    pid_t pid = StartServer(board());
    ASSERT_GT(pid, 0) << last_.err;
    EXPECT_NE(ServerLog(board()).find(" SHARED MEMORY left by PID " + std::to_string(killed) +
                                      " taken over, 1 bbs still attached\n"),
              std::string::npos)
        << ServerLog(board());

    auto sam = Dial();
    sam->LogInAs("sam sysop", "lighthouse");
    ASSERT_TRUE(sam->Expect("Your choice: ")) << sam->Rest();
    terry->Send("g");
    EXPECT_EQ(terry->Wait(), 1) << terry->Rest();
    EXPECT_EQ(User(1).TotalCalls, calls + 1);
    sam->Send("g");
    EXPECT_EQ(sam->Wait(), 1) << sam->Rest();

    SendCommand(board(), CMD_SHUTDOWN);
    EXPECT_EQ(WaitForExit(pid), 0);
}

struct StartCase {
    std::vector<std::string> args;
    std::string out;  // "" or the start line's opening
    std::vector<std::string> logLines;
};

TEST_F(ServerTest, OptionsAtTheirLimitsReachTheLog) {
    const std::vector<StartCase> cases = {
        {{"-n", "15", "-t", "1", "-o", "-Q"}, "", {"Timeout = 1 min", "NapTime = 15 sec", "MailOut = YES"}},
        {{"-n", "120", "-t", "720", "-q"}, "The BBS's Server", {"Timeout = 720 min", "NapTime = 120 sec"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        TempBoard b;
        pid_t pid = StartServer(b, c.args);
        ASSERT_GT(pid, 0) << last_.err;
        EXPECT_EQ(last_.out.substr(0, c.out.size()), c.out);
        if (c.out.empty()) {
            EXPECT_EQ(last_.out, "");
        }
        for (const auto& l : c.logLines) EXPECT_NE(ServerLog(b).find(" " + l + "\n"), std::string::npos) << l;
        SendCommand(b, CMD_SHUTDOWN);
        EXPECT_EQ(WaitForExit(pid), 0);
    }
}

TEST_F(ServerTest, ShutDownWaitsUntilNoCallerIsAttached) {
    TempBoard b;
    pid_t pid = StartServer(b);
    ASSERT_GT(pid, 0) << last_.err;
    {
        Attachment caller1, caller2;
        ASSERT_NE(caller2.data(), nullptr);
        RunResult halt = RunTool(b, "kvhalt");
        EXPECT_EQ(halt.status, 0);  // sent; the server decides
        EXPECT_TRUE(WaitForLog(b, "Cannot SHUT DOWN, 2 bbs running\n")) << ServerLog(b);
        EXPECT_EQ(WaitForExit(pid, 200), -1);
        EXPECT_GE(SegmentId(), 0);
    }
    EXPECT_EQ(RunTool(b, "kvhalt").status, 0);
    EXPECT_EQ(WaitForExit(pid), 0);
    EXPECT_LT(SegmentId(), 0);
}

TEST_F(ServerTest, TermSignalStopsEvenWithCallersAttached) {
    TempBoard b;
    pid_t pid = StartServer(b);
    ASSERT_GT(pid, 0) << last_.err;
    Attachment caller;
    ASSERT_NE(caller.data(), nullptr);
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(pid), 0);
    EXPECT_TRUE(ServerLog(b).ends_with(" -- kvhubd shutted down by TERM signal\n\n")) << ServerLog(b);
    EXPECT_LT(SegmentId(), 0);  // removed; the caller keeps its mapping
    EXPECT_FALSE(fs::exists(b.DataDir() / "kivopipe.bbs"));
    EXPECT_EQ(SegmentText(caller.data(), 0, 0), "NY");
}

TEST_F(ServerTest, ReloadReplacesTheCopyOnlyWhenTheFileReads) {
    TempBoard b;
    pid_t pid = StartServer(b);
    ASSERT_GT(pid, 0) << last_.err;
    Attachment seg;
    ASSERT_NE(seg.data(), nullptr);
    auto inSegment = [&] { return DecodeConfig(seg.data() + kConfigOffset); };

    b.Set("BbsName", "Renamed Board");
    RunResult r = RunTool(b, "kvrefresh");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("kvrefresh v1.0"), std::string::npos);
    EXPECT_NE(r.err.find("The CONFIGURATION RELOAD command has been sent to the server\n"), std::string::npos);
    ASSERT_TRUE(WaitForLog(b, " Configuration reloaded\n"));
    EXPECT_EQ(inSegment().BbsName, "Renamed Board");

    // A file cut short fails the reload and leaves the copy whole.
    std::string good(reinterpret_cast<const char*>(seg.data()) + kConfigOffset, kConfigSlotSize);
    b.WriteFile("kvconfig.bbs", std::string(300, 'Q'));
    SendCommand(b, CMD_RELOAD);
    ASSERT_TRUE(WaitForLog(b, " Cannot reload configuration file\n"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(seg.data()) + kConfigOffset, kConfigSlotSize), good);
    EXPECT_EQ(inSegment().DataDir, b.DataDir().string());

    SendCommand(b, 7);
    EXPECT_TRUE(WaitForLog(b, " Uncknown COMMAND CODE 7\n"));
    EXPECT_EQ(WaitForExit(pid, 100), -1);
}

struct FilesCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // written below the board's root
    std::vector<std::string> args;
    int status;
    std::string err;            // start failure text
    int16_t language[2];
    std::string text0[2];       // text 0 of each slot
};

TEST_F(ServerTest, LoadsTheMessageFilesThatFNames) {
    const std::vector<FilesCase> cases = {
        {"-f a,b fills both slots", {}, {"-f", "1,0"}, 0, "", {1, 0}, {"NO", "NY"}},
        {"-f a leaves slot 1 empty", {{"message.ita", "0 \"NS\"\n"}}, {"-f", "3"}, 0, "", {3, -1}, {"NS", ""}},
        {"the working directory wins", {{"message.usa", "0 \"YN\"\n"}}, {}, 0, "", {0, 1}, {"YN", "NO"}},
        {"a missing second file is ignored", {}, {"-f", "0,4"}, 0, "", {0, -1}, {"NY", ""}},
        {"a missing first file fails", {}, {"-f", "4"}, 1, "Cannot find message file message.spa\n", {}, {}},
        {"a gap fails", {{"message.usa", "0 \"NY\"\n2 \"two\"\n"}}, {}, 1,
         "Message file message.usa, line 2: text 1 expected\n", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempBoard b;
        for (const auto& [rel, body] : c.files) b.WriteFile(rel, body);
        pid_t pid = StartServer(b, c.args);
        if (c.status != 0) {
            EXPECT_EQ(pid, -1);
            EXPECT_EQ(last_.status, c.status);
            EXPECT_EQ(last_.err, c.err);
            EXPECT_LT(SegmentId(), 0);
            EXPECT_FALSE(fs::exists(b.DataDir() / "kivopipe.bbs"));
            continue;
        }
        ASSERT_GT(pid, 0) << last_.err;
        {
            Attachment seg;
            ASSERT_NE(seg.data(), nullptr);
            SegmentHeader h;
            DecodeRecord(seg.data(), h);
            for (int slot : {0, 1}) {
                EXPECT_EQ(h.Language[slot], c.language[slot]) << slot;
                EXPECT_EQ(SegmentText(seg.data(), slot, 0), c.text0[slot]) << slot;
            }
            if (c.language[1] == -1) {
                EXPECT_EQ(h.LastText[1], -1);
            }
        }
        SendCommand(b, CMD_SHUTDOWN);
        EXPECT_EQ(WaitForExit(pid), 0);
    }
}

// What may lie where the pipe should be, and what the tools say to it.
enum class PipePlace { kNothing, kPipeNobodyReads, kLinkToAReadPipe, kLinkToAFile, kPlainFile };

struct ToolCase {
    const char* name;
    PipePlace place;
    bool config;
    bool notAPipe;  // the text names the path and says it is no pipe
};

TEST_F(ServerTest, ToolsReportAServerThatDoesNotListen) {
    const std::string notRunning = "Cannot open kivopipe.bbs for writing, the server is not running?\n";
    const std::vector<ToolCase> cases = {
        {"no pipe", PipePlace::kNothing, true, false},
        {"a pipe nobody reads", PipePlace::kPipeNobodyReads, true, false},
        // A link is never followed, not even to a pipe that somebody reads.
        {"a link to a pipe", PipePlace::kLinkToAReadPipe, true, true},
        {"a link to a file", PipePlace::kLinkToAFile, true, true},
        {"a plain file", PipePlace::kPlainFile, true, true},
        {"no configuration", PipePlace::kNothing, false, false},
    };
    for (const char* tool : {"kvhalt", "kvrefresh"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(tool) + ": " + c.name);
            TempBoard b;
            fs::path pipe = b.DataDir() / "kivopipe.bbs", elsewhere = b.root() / "elsewhere";
            int reader = -1;
            switch (c.place) {
                case PipePlace::kNothing: break;
                case PipePlace::kPipeNobodyReads: ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0); break;
                case PipePlace::kLinkToAReadPipe:
                    ASSERT_EQ(mkfifo(elsewhere.c_str(), 0666), 0);
                    reader = open(elsewhere.c_str(), O_RDONLY | O_NONBLOCK);
                    ASSERT_GE(reader, 0);
                    fs::create_symlink(elsewhere, pipe);
                    break;
                case PipePlace::kLinkToAFile:
                    b.WriteFile(elsewhere, "kept");
                    fs::create_symlink(elsewhere, pipe);
                    break;
                case PipePlace::kPlainFile: b.WriteFile(pipe, "kept"); break;
            }
            if (!c.config) fs::remove(b.root() / "kvconfig.bbs");
            RunResult r = RunProgram({ProgramPath(tool)}, b.root(), {}, 5);
            EXPECT_EQ(r.status, 1);
            std::string said = !c.config ? "Cannot load the BBS configuration -- please check!\n"
                               : c.notAPipe ? "Cannot open " + pipe.string() + " for writing: it is not a pipe\n"
                                            : notRunning;
            EXPECT_EQ(r.err, std::string(tool) + " v1.0 - Kivo bulletin-board system\n" + said);
            EXPECT_EQ(r.out, "");
            if (reader >= 0) {
                char byte;
                EXPECT_LE(read(reader, &byte, 1), 0) << "the request went through the link";
                close(reader);
            }
            if (c.place == PipePlace::kLinkToAFile || c.place == PipePlace::kPlainFile) {
                EXPECT_EQ(b.ReadFile(c.place == PipePlace::kPlainFile ? pipe : elsewhere), "kept");
            }
        }
    }
}

}  // namespace

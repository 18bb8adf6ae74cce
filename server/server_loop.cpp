#include "server/server_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "common/runtime.h"
#include "server/command_pipe.h"
#include "server/config_loader.h"
#include "server/mail_gateway.h"
#include "server/server_log.h"
#include "server/shared_memory.h"

namespace kv::server {
namespace {

volatile sig_atomic_t g_termSeen = 0;

void OnTermSignal(int) { g_termSeen = 1; }

// Returns true when the request ends the loop.
bool HandleCommand(const ServerCommand& cmd, const LoopHooks& hooks) {
    switch (cmd.Code) {
    case CMD_SHUTDOWN: {
        int attached = AttachedCount();
        if (attached < 0) {
            WriteServerLog("Shut down, cannot get SHARED MEMORY stats");
        } else if (attached == 1) {
            return true;
        } else {
            WriteServerLog("Cannot SHUT DOWN, %d bbs running", attached - 1);
        }
        return false;
    }
    case CMD_RELOAD:
        WriteServerLog(ReloadConfiguration() ? "Configuration reloaded" : "Cannot reload configuration file");
        return false;
    case CMD_MAIL_NOW:
    case CMD_MAIL_QUEUE:
        hooks.handleMailRequest(cmd);
        return false;
    default:
        WriteServerLog("Uncknown COMMAND CODE %d", cmd.Code);
        return false;
    }
}

// Once set up, the daemon's descriptors 0-2 go to /dev/null rather than
// being closed, so that no file opened later becomes its standard output;
// this also ends the starter's copy of its set-up messages.
void DetachFromStarter() {
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
        if (null > 2) close(null);
    }
    signal(SIGPIPE, SIG_DFL);
}

// The serving process keeps nothing of whoever started it: a session of
// its own (no controlling terminal, so no hang-up and no keys of that
// terminal reach it), standard input from /dev/null, its set-up messages
// into pipes that the starting process copies out, and no other
// descriptor it was given.  A terminal the starter had is never among its
// descriptors, so nothing of the server can be turned against it.
void LeaveTheStarter(int out, int err, int ready) {
    setsid();
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0 && null != 0) {
        dup2(null, 0);
        close(null);
    }
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    if (ready > 3) close_range(3, unsigned(ready) - 1, 0);
    close_range(unsigned(ready) + 1, ~0U, 0);
    // A starter that went away must not end the set-up.
    signal(SIGPIPE, SIG_IGN);
}

// The starting process: copies what the server says while it sets up to
// its own output and error, and returns 0 once the server has said it
// serves (a byte on ready), 1 when it ended without.
int WaitForSetUp(pid_t server, int out, int err, int ready) {
    pollfd p[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {ready, POLLIN, 0}};
    bool serves = false;
    for (int open = 3; open > 0;) {
        if (poll(p, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 3; ++i) {
            if (p[i].fd < 0 || p[i].revents == 0) continue;
            char buf[4096];
            ssize_t n = read(p[i].fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                close(p[i].fd);
                p[i].fd = -1;
                --open;
            } else if (i == 2) {
                serves = true;
            } else {
                [[maybe_unused]] ssize_t shown = write(i == 0 ? 1 : 2, buf, size_t(n));
            }
        }
    }
    for (pollfd& q : p)
        if (q.fd >= 0) close(q.fd);
    if (serves) return 0;
    waitpid(server, nullptr, 0);
    return 1;
}

void AnnounceStart(const ServerSettings& s) {
    if (s.Verbosity != 2) {
        std::printf("The BBS's Server is now started with PID = %d\n", int(getpid()));
        std::fflush(stdout);
    }
    WriteServerLog("-- kvhubd started (PID=%d)", int(getpid()));
    WriteServerLog("Timeout = %d min", s.Timeout);
    WriteServerLog("NapTime = %d sec", s.NapTime);
    WriteServerLog("MailOut = %s", s.MailOut ? "YES" : "NO");
    WriteServerLog("MsgFile = %d and %d", s.Language[0], s.Language[1]);
}

}  // namespace

LoopHooks::LoopHooks()
    : importIncomingMail(ImportIncomingMail),
      sendQueuedMail(SendQueuedMail),
      handleMailRequest(HandleMailRequest),
      nap(NapOnPipe) {}

void InstallTermHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnTermSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;  // the nap's ppoll is cut short all the same
    sigaction(SIGTERM, &sa, nullptr);
}

void NapOnPipe(int seconds) {
    // SIGTERM is held back between the test of the flag and the wait, and
    // let in only during the wait, so a signal cannot slip in between and
    // leave the server asleep for the whole nap.
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, &old);
    if (!g_termSeen) {
        sigset_t during = old;
        sigdelset(&during, SIGTERM);
        pollfd p{FifoDescriptor(), POLLIN, 0};
        timespec ts{seconds, 0};
        ppoll(&p, 1, &ts, &during);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

int OpenServer(const ServerSettings& s) {
    if (!LoadConfig()) {
        std::fputs("Cannot load configuration -- please check\n", stderr);
        std::fputs("Hint: set the env. var. KIVOCNF to the kvconfig.bbs path\n", stderr);
        return 0;
    }
    if (!CreateSharedMemory()) return 0;
    if (!InitSharedMemory(s)) {
        RemoveSharedMemory();
        return 0;
    }
    SetLogWriter([](std::string_view line) { WriteServerLog("%s", line); });
    SetTextLookup([](int n) { return GetSlotText(n, 0); });
    if (!CreateFifo()) {
        RemoveFifo();
        RemoveSharedMemory();
        return 0;
    }
    return 1;
}

StopReason RunMainLoop(ServerSettings& s, const LoopHooks& hooks) {
    time_t lastPass = Now();
    for (;;) {
        if (g_termSeen) return StopReason::TermSignal;
        ServerCommand cmd;
        if (ReadServerCommand(cmd)) {
            if (HandleCommand(cmd, hooks)) return StopReason::Request;
            continue;
        }
        if (Now() - lastPass < time_t(s.Timeout) * 60) {
            hooks.nap(s.NapTime);
            continue;
        }
        hooks.importIncomingMail();
        if (s.MailOut && s.MailQueued) hooks.sendQueuedMail();
        lastPass = Now();
    }
}

void CloseServer(StopReason why) {
    WriteServerLog(why == StopReason::TermSignal ? "-- kvhubd shutted down by TERM signal\n"
                                                 : "-- kvhubd shutted down\n");
    RemoveFifo();
    RemoveSharedMemory();
}

int ServerMain(int argc, char** argv) {
    ServerSettings& s = Settings();
    s.StartTime = Now();
    KeepStandardDescriptorsOpen();
    KeepNewFilesFromOthers();
    InstallTermHandler();
    if (int status = ParseServerOptions(argc, argv, s); status >= 0) return status;

    // The process that serves sets up the segment, so that the segment's
    // creator is the server and a later start can tell a live one from one
    // that was killed.  The parent stays until the set-up is done, shows
    // what the server said meanwhile and exits with its result.
    int out[2], err[2], ready[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(ready, O_CLOEXEC) != 0) {
        std::fputs("Cannot fork the server process, aborting...\n", stderr);
        return 1;
    }
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        std::fputs("Cannot fork the server process, aborting...\n", stderr);
        return 1;
    }
    if (pid > 0) {
        close(out[1]);
        close(err[1]);
        close(ready[1]);
        return WaitForSetUp(pid, out[0], err[0], ready[0]);
    }
    close(out[0]);
    close(err[0]);
    close(ready[0]);
    LeaveTheStarter(out[1], err[1], ready[1]);
    if (!OpenServer(s)) return 1;

    AnnounceStart(s);
    [[maybe_unused]] ssize_t told = write(ready[1], "1", 1);
    close(ready[1]);
    DetachFromStarter();
    CloseServer(RunMainLoop(s));
    return 0;
}

}  // namespace kv::server

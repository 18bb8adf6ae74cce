#include "caller/term/call_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "caller/term/call_end.h"
#include "caller/term/call_state.h"
#include "caller/term/line_status.h"
#include "caller/term/screen.h"

namespace kv::caller {
namespace {

volatile sig_atomic_t gHangup = 0;
volatile sig_atomic_t gInterrupt = 0;
volatile sig_atomic_t gMonitor = 0;
volatile sig_atomic_t gChatRequest = 0;
volatile sig_atomic_t gSysopChat = 0;
volatile sig_atomic_t gAlarm = 0;
volatile sig_atomic_t gLost = 0;
// The handlers also write a byte here, so that a wait on the line wakes
// up even when the signal came just before the wait began.
int gWake[2] = {-1, -1};
unsigned gWorkDone = 0;

void Record(int sig) {
    switch (sig) {
        case SIGHUP: gHangup = 1; break;
        case SIGINT:
        case SIGQUIT: gInterrupt = 1; break;
        case SIGUSR1: gMonitor = 1; break;
        case SIGUSR2: gChatRequest = 1; break;
        case SIGPIPE: gSysopChat = 1; break;
        case SIGALRM: gAlarm = 1; break;
        default: break;
    }
    if (gWake[1] >= 0) {
        int saved = errno;
        char b = 1;
        ssize_t n = write(gWake[1], &b, 1);
        (void)n;
        errno = saved;
    }
}

// A SIGPIPE is the sysop asking for a chat only when another process sent
// it.  The kernel raises one at this process itself (as if it had sent it)
// when kivo writes into a pipe nobody reads any more: a printer, the
// command pipe, a program that ended.  That write just fails.
void RecordPipe(int sig, siginfo_t* info, void*) {
    if (info != nullptr && info->si_code <= 0 && info->si_pid != getpid()) Record(sig);
}

void Install(int sig, void (*fn)(int)) {
    struct sigaction sa {};
    sa.sa_handler = fn;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a waiting read returns
    sigaction(sig, &sa, nullptr);
}

}  // namespace

void RecordCallSignals() {
    if (gWake[0] < 0 && pipe(gWake) == 0) {
        for (int fd : gWake) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM}) Install(sig, Record);
    struct sigaction pipeAction {};
    pipeAction.sa_sigaction = RecordPipe;
    sigemptyset(&pipeAction.sa_mask);
    pipeAction.sa_flags = SA_SIGINFO;
    sigaction(SIGPIPE, &pipeAction, nullptr);
    Install(SIGTSTP, SIG_IGN);
}

bool SignalsPending() { return gHangup || gInterrupt || gMonitor || gChatRequest || gSysopChat; }

unsigned SignalWorkCount() { return gWorkDone; }

void NoteLineLost() {
    gHangup = 1;
    gLost = 1;
}

bool LineLost() { return gLost != 0; }

void LookForHangup() {
    pollfd p{0, 0, 0};  // a hang-up or an error is reported unasked
    if (poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR))) NoteLineLost();
}

bool WaitForInput(int alsoFd) {
    // Whoever waits for the caller has finished what the caller is to see.
    FlushOutput();
    pollfd p[3] = {{0, POLLIN, 0}, {alsoFd, POLLIN, 0}, {gWake[0], POLLIN, 0}};
    for (;;) {
        if (SignalsPending() || gAlarm) return false;
        int r = poll(p, 3, -1);  // a descriptor of -1 is left out
        if (r < 0 && errno == EINTR) continue;  // the flags tell what came
        if (r < 0) return true;                 // let the read see the error
        if (p[2].revents & POLLIN) {
            char buf[64];
            while (read(gWake[0], buf, sizeof buf) > 0) {
            }
        }
        if (p[0].revents != 0 || p[1].revents != 0) return true;
    }
}

bool TakeAlarm() {
    if (!gAlarm) return false;
    gAlarm = 0;
    return true;
}

void IgnoreEndSignals() {
    for (int sig : {SIGINT, SIGQUIT, SIGHUP}) Install(sig, SIG_IGN);
}

void ActOnSignals() {
    // A turn of a loop that may never come to a key wait: what it wrote is
    // shown all the same, and the work of a signal follows it in order.
    FlushOutput();
    if (SignalsPending()) ++gWorkDone;
    // Without the call's work (nothing has installed it yet) the two ends
    // still end the process with their statuses: a lost line must never
    // leave a key wait turning for ever.
    const CallWork& work = InstalledCallWork();
    if (gHangup) {
        gHangup = 0;
        if (!Call().Ending) {
            if (work.Hangup != nullptr) work.Hangup();
            else TerminateCall(kLogOffHangup, 99);
        }
    }
    if (gInterrupt) {
        gInterrupt = 0;
        if (!Call().Ending) {
            if (work.Interrupt != nullptr) work.Interrupt();
            else TerminateCall(kLogOffInterrupt, 98);
        }
    }
    if (gMonitor) {
        gMonitor = 0;
        ToggleMonitor();
    }
    if (gChatRequest) {
        gChatRequest = 0;
        if (work.ChatRequest != nullptr) work.ChatRequest();
    }
    if (gSysopChat) {
        gSysopChat = 0;
        SysopChat();
    }
}

}  // namespace kv::caller

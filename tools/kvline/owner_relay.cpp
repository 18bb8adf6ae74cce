#include "tools/kvline/owner_relay.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/board_owner.h"

namespace kv::line {
namespace {

// The signals the relay takes in through a descriptor, so that it acts on
// them between reads instead of inside a handler.
sigset_t RelayedSignals() {
    sigset_t s;
    sigemptyset(&s);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGWINCH}) sigaddset(&s, sig);
    return s;
}

// Blocks the relayed signals for the life of the relay and reads them from
// a descriptor; the old mask comes back at the end, and the child gets it
// back before it runs anything.
class SignalIntake {
public:
    SignalIntake() {
        sigset_t s = RelayedSignals();
        sigprocmask(SIG_BLOCK, &s, &old_);
        fd_ = signalfd(-1, &s, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~SignalIntake() {
        if (fd_ >= 0) close(fd_);
        sigprocmask(SIG_SETMASK, &old_, nullptr);
    }
    SignalIntake(const SignalIntake&) = delete;
    SignalIntake& operator=(const SignalIntake&) = delete;

    int fd() const { return fd_; }
    const sigset_t& old() const { return old_; }
    // The next signal that came, or 0.
    int Next() {
        signalfd_siginfo si;
        return read(fd_, &si, sizeof si) == ssize_t(sizeof si) ? int(si.ssi_signo) : 0;
    }

private:
    sigset_t old_;
    int fd_ = -1;
};

void WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nobody reads: what is left has no reader
        bytes.remove_prefix(size_t(n));
    }
}

// In the child, after fork: the signals as a program expects them, no
// descriptor but 0-2, the owner's user, groups and home, then argv.
[[noreturn]] void BecomeOwnerAndRun(uid_t uid, gid_t gid, const std::vector<std::string>& argv,
                                    const sigset_t& mask) {
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGWINCH, SIGPIPE}) signal(sig, SIG_DFL);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    close_range(3, ~0U, 0);
    std::string why;
    if (!BecomeUser(uid, gid, why)) {
        std::fprintf(stderr, "kvline: %s\n", why.c_str());
        _exit(126);
    }
    if (passwd* pw = getpwuid(uid)) {
        setenv("HOME", pw->pw_dir, 1);
        setenv("USER", pw->pw_name, 1);
        setenv("LOGNAME", pw->pw_name, 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    std::fprintf(stderr, "kvline: cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
}

int StatusOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Whether the child has ended (its status then in status).
bool Reaped(pid_t child, int& status) {
    int raw = 0;
    pid_t got;
    do {
        got = waitpid(child, &raw, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got != child) return got < 0 && errno == ECHILD;
    status = StatusOf(raw);
    return true;
}

// Root is not kept waiting by a command that the owner's processes hold
// up (stopped, or blocked for ever on a lock of theirs): the first signal
// to end goes on to the command, at the second the relay stops waiting and
// leaves it to itself, with nothing of root's.
struct GiveUp {
    int signals = 0;
    bool now = false;
    bool After(int sig, int& status) {
        if (++signals < 2) return false;
        now = true;
        status = 128 + sig;
        return true;
    }
};

}  // namespace

int WaitFor(pid_t child) {
    int raw = 0;
    while (waitpid(child, &raw, 0) < 0)
        if (errno != EINTR) return 1;
    return StatusOf(raw);
}

std::string TextCleaner::Clean(std::string_view bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t b = uint8_t(bytes[i]);
        if (!utf8_) {
            out += (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' ? char(b) : '?';
            continue;
        }
        switch (reader_.Feed(b)) {
            case Utf8Reader::kMore: break;
            case Utf8Reader::kChar: {
                const char32_t ch = reader_.ch();
                if (ch == '\t' || ch == '\n' || (ch >= 0x20 && ch < 0x7F) || ch >= 0xA0) AppendUtf8(out, ch);
                else out += '?';
                break;
            }
            case Utf8Reader::kBroken: out += '?'; break;
            case Utf8Reader::kBrokenBy:
                out += '?';
                --i;  // the byte begins afresh
                break;
        }
    }
    return out;
}

std::string TextCleaner::Finish() {
    if (!reader_.Pending()) return {};
    reader_.Reset();
    return "?";
}

int RunWithoutTerminal(uid_t uid, gid_t gid, const std::vector<std::string>& argv) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "kvline: cannot make a pipe: %s\n", std::strerror(errno));
        return 126;
    }
    SignalIntake signals;
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "kvline: cannot fork: %s\n", std::strerror(errno));
        return 126;
    }
    if (child == 0) {
        setsid();
        int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null < 0 || dup2(null, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(126);
        BecomeOwnerAndRun(uid, gid, argv, signals.old());
    }
    close(out[1]);
    close(err[1]);
    const bool utf8 = OwnLocaleNamesUtf8();
    struct Stream {
        int from, to;
        TextCleaner cleaner;
    } streams[2] = {{out[0], 1, TextCleaner(utf8)}, {err[0], 2, TextCleaner(utf8)}};
    for (Stream& s : streams) fcntl(s.from, F_SETFL, O_NONBLOCK);

    // Copies what is there now; false once the stream is closed.
    auto copy = [](Stream& s) {
        char buf[4096];
        for (;;) {
            ssize_t n = read(s.from, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return true;
            if (n <= 0) {
                WriteAll(s.to, s.cleaner.Finish());
                close(s.from);
                s.from = -1;
                return false;
            }
            WriteAll(s.to, s.cleaner.Clean(std::string_view(buf, size_t(n))));
        }
    };
    int status = 0;
    bool ended = false;
    GiveUp giveUp;
    while (!ended && !giveUp.now) {
        pollfd p[3] = {{streams[0].from, POLLIN, 0}, {streams[1].from, POLLIN, 0}, {signals.fd(), POLLIN, 0}};
        if (poll(p, 3, -1) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i)
            if (p[i].fd >= 0 && p[i].revents != 0) copy(streams[i]);
        for (int sig; (sig = signals.Next()) != 0;) {
            if (sig == SIGCHLD) {
                ended = Reaped(child, status);
            } else if (sig != SIGWINCH && !giveUp.After(sig, status)) {
                // To its whole session's group, woken should it be stopped.
                if (kill(-child, sig) != 0) kill(child, sig);
                kill(-child, SIGCONT);
            }
        }
    }
    if (!ended && !giveUp.now) status = WaitFor(child);
    // What it wrote before it ended is in the pipes; whatever it left
    // running may hold them open for ever, and is not waited for.
    for (Stream& s : streams)
        if (s.from >= 0 && copy(s)) {
            WriteAll(s.to, s.cleaner.Finish());
            close(s.from);
        }
    return status;
}

int RunOnOwnTerminal(uid_t uid, gid_t gid, const std::vector<std::string>& argv, std::string& why) {
    termios modes{};
    if (tcgetattr(0, &modes) != 0) {
        why = "The board needs a terminal: call it with ssh -t.";
        return -1;
    }
    winsize size{};
    const bool sized = ioctl(0, TIOCGWINSZ, &size) == 0;
    auto fail = [&](const char* what, int master, int slave) {
        why = std::string("kvline: ") + what + ": " + std::strerror(errno);
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
        return -1;
    };
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0)
        return fail("cannot make a pseudo-terminal", master, -1);
    int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return fail("cannot open the pseudo-terminal", master, -1);
    // The user's own, as a login's terminal is: the board's other lines
    // write their chat onto it, nobody else may read it.
    group* tty = getgrnam("tty");
    if (fchown(slave, uid, tty != nullptr ? tty->gr_gid : gid) != 0 || fchmod(slave, 0620) != 0 ||
        tcsetattr(slave, TCSANOW, &modes) != 0 || (sized && ioctl(slave, TIOCSWINSZ, &size) != 0))
        return fail("cannot set up the pseudo-terminal", master, slave);

    SignalIntake signals;
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) return fail("cannot fork", master, slave);
    if (child == 0) {
        if (setsid() < 0 || ioctl(slave, TIOCSCTTY, 0) != 0 || dup2(slave, 0) < 0 || dup2(slave, 1) < 0 ||
            dup2(slave, 2) < 0)
            _exit(126);
        BecomeOwnerAndRun(uid, gid, argv, signals.old());
    }
    close(slave);
    termios raw = modes;
    cfmakeraw(&raw);
    tcsetattr(0, TCSANOW, &raw);
    fcntl(master, F_SETFL, O_NONBLOCK);

    std::string toLine;  // keys typed here that the line has not taken yet
    bool keys = true;    // this terminal is still there
    int status = 0;
    bool ended = false;
    auto hangUp = [&] {
        if (master >= 0) close(master);
        master = -1;
        keys = false;
    };
    // Shows what the line wrote; false once nobody is left on its side.
    auto show = [&] {
        char buf[4096];
        for (;;) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return true;
            if (n <= 0) return false;
            WriteAll(1, std::string_view(buf, size_t(n)));
        }
    };
    GiveUp giveUp;
    while (!ended && !giveUp.now) {
        pollfd p[3] = {{keys ? 0 : -1, POLLIN, 0},
                       {master, short(POLLIN | (toLine.empty() ? 0 : POLLOUT)), 0},
                       {signals.fd(), POLLIN, 0}};
        if (poll(p, 3, -1) < 0 && errno != EINTR) break;
        if (p[0].revents != 0) {
            char buf[1024];
            ssize_t n = read(0, buf, sizeof buf);
            if (n > 0) toLine.append(buf, size_t(n));
            else if (n == 0 || errno != EINTR) hangUp();  // this terminal is gone
        }
        // A hang-up of the line's side may come without data to read.
        if (master >= 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !show()) {
            // Nobody holds the line's side any more: the child ends.
            close(master);
            master = -1;
        }
        if (master >= 0 && (p[1].revents & POLLOUT) != 0) {
            ssize_t n = write(master, toLine.data(), toLine.size());
            if (n > 0) toLine.erase(0, size_t(n));
        }
        for (int sig; (sig = signals.Next()) != 0;) {
            if (sig == SIGCHLD) {
                ended = Reaped(child, status);
            } else if (sig == SIGWINCH) {
                if (master >= 0 && ioctl(0, TIOCGWINSZ, &size) == 0) ioctl(master, TIOCSWINSZ, &size);
            } else if (!giveUp.After(sig, status)) {
                hangUp();
            }
        }
    }
    if (!ended && !giveUp.now) status = WaitFor(child);
    if (master >= 0) {
        show();
        close(master);
    }
    tcsetattr(0, TCSADRAIN, &modes);
    return status;
}

}  // namespace kv::line

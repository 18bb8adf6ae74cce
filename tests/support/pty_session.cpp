#include "tests/support/pty_session.h"
#include "tests/support/board.h"
#include "common/cp437.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <utmp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

namespace kv::test {
namespace {

using Clock = std::chrono::steady_clock;

int ColorIndex(const VTermColor& c, bool foreground) {
    if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return -1;
    if (!VTERM_COLOR_IS_INDEXED(&c)) return -1;
    return c.indexed.idx;
}

int MillisLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : int(left);
}

}  // namespace

PtySession::PtySession(const PtyOptions& o) : rows_(o.rows), cols_(o.cols), utf8_(o.utf8) {
    if (o.argv.empty()) throw std::runtime_error("PtySession: no program");

    // The line's modes as a freshly opened terminal has them, at the speed
    // the test asked for.
    termios modes{};
    int probeMaster = -1, probeSlave = -1;
    if (openpty(&probeMaster, &probeSlave, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error("PtySession: openpty failed");
    tcgetattr(probeSlave, &modes);
    close(probeMaster);
    close(probeSlave);
    cfsetispeed(&modes, o.speed);
    cfsetospeed(&modes, o.speed);
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(o.rows);
    ws.ws_col = static_cast<unsigned short>(o.cols);

    // Build the environment before forking: the child only execs.
    std::map<std::string, std::string> envMap = {
        {"PATH", "/usr/local/bin:/usr/bin:/bin"}, {"TERM", "xterm"}, {"LANG", "C"}};
    if (const char* home = std::getenv("HOME")) envMap["HOME"] = home;
    if (o.utf8) envMap["LANG"] = "C.UTF-8";
    for (const auto& e : o.env) {
        size_t eq = e.find('=');
        envMap[e.substr(0, eq)] = eq == std::string::npos ? "" : e.substr(eq + 1);
    }
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : envMap) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp, args;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argvCopy = o.argv;
    for (auto& a : argvCopy) args.push_back(a.data());
    args.push_back(nullptr);

    char name[256] = {};
    int slave = -1;
    if (openpty(&master_, &slave, name, &modes, &ws) != 0) throw std::runtime_error("PtySession: openpty failed");
    // A program that another session starts later must not hold this line
    // open: closing the master would then hang nothing up.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    if (o.beforeStart) o.beforeStart(std::string(name).substr(std::strlen("/dev/")));
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("PtySession: fork failed");
    if (pid_ == 0) {
        // The line becomes our controlling terminal and descriptors 0-2.
        close(master_);
        if (login_tty(slave) != 0) _exit(125);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        if (!o.dir.empty() && chdir(o.dir.c_str()) != 0) _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(slave);
    slave_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

    vt_ = vterm_new(rows_, cols_);
    vterm_set_utf8(vt_, 1);
    screen_ = vterm_obtain_screen(vt_);
    vterm_screen_reset(screen_, 1);
}

PtySession::~PtySession() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        int st = 0;
        waitpid(pid_, &st, 0);
    }
    if (master_ >= 0) close(master_);
    if (vt_ != nullptr) vterm_free(vt_);
}

void PtySession::Send(std::string_view keys) {
    size_t done = 0;
    // A program slow to read on a loaded machine gets longer, as every
    // wait does.
    auto deadline = Clock::now() + std::chrono::milliseconds(ScaledTimeout(5000));
    while (master_ >= 0 && done < keys.size() && Clock::now() < deadline) {
        ssize_t n = write(master_, keys.data() + done, keys.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        } else {
            Pump(10);  // the line is full: let the program's output drain
        }
    }
}

void PtySession::Feed(const char* bytes, size_t n) {
    output_.append(bytes, n);
    if (utf8_) {
        vterm_input_write(vt_, bytes, n);
    } else {
        // The screen decodes UTF-8; what an 8-bit terminal would show is
        // handed to it in that form.
        std::string utf8 = Cp437ToUtf8(std::string_view(bytes, n));
        vterm_input_write(vt_, utf8.data(), utf8.size());
    }
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    cursorRow_ = pos.row;
    cursorCol_ = pos.col;
}

bool PtySession::Pump(int timeoutMs) { return PumpUntil(timeoutMs, nullptr); }

// Reads what is there, waiting up to timeoutMs for the first of it.  A
// program that writes without pause would keep the loop reading to its end,
// so a wait looks at what came every few kilobytes and stops there: a key
// sent next then reaches the program while it still writes.
bool PtySession::PumpUntil(int timeoutMs, const std::function<bool()>& done) {
    if (master_ < 0) return false;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool first = true;
    size_t sinceCheck = 0;
    for (;;) {
        pollfd p{master_, POLLIN, 0};
        int wait = first ? MillisLeft(deadline) : 0;
        first = false;
        int r = poll(&p, 1, wait);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return true;
        char buf[4096];
        ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) {
            Feed(buf, size_t(n));
            sinceCheck += size_t(n);
            if (done && sinceCheck >= sizeof buf) {
                sinceCheck = 0;
                if (done()) return true;
            }
            continue;  // take everything that is there
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
        return false;  // EIO: every slave descriptor is closed
    }
}

bool PtySession::WaitFor(const std::function<bool()>& done, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
    for (;;) {
        if (done()) return true;
        int left = MillisLeft(deadline);
        if (left == 0) return false;
        if (!PumpUntil(left < 50 ? left : 50, done)) return done();
    }
}

bool PtySession::WaitForText(std::string_view text, int timeoutMs) {
    return WaitFor([&] { return Screen().find(text) != std::string::npos; }, timeoutMs);
}

bool PtySession::WaitForOutput(std::string_view bytes, int timeoutMs) {
    return WaitForOutputCount(bytes, 1, timeoutMs);
}

bool PtySession::WaitForOutputCount(std::string_view bytes, int count, int timeoutMs) {
    // Counted from where the last look stopped, so a long output is not
    // searched again from its start at every look.
    size_t from = 0;
    int seen = 0;
    return WaitFor(
        [&] {
            for (size_t at; seen < count && (at = output_.find(bytes, from)) != std::string::npos; ++seen)
                from = at + bytes.size();
            return seen >= count;
        },
        timeoutMs);
}

bool PtySession::WaitForQuiet(int quietMs, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
    for (;;) {
        auto quietEnds = Clock::now() + std::chrono::milliseconds(quietMs);
        size_t before = output_.size();
        // Pump returns at the first output; a quiet line keeps it waiting.
        while (output_.size() == before && Clock::now() < quietEnds) {
            if (!Pump(MillisLeft(quietEnds))) return true;  // the line closed: nothing more comes
        }
        if (output_.size() == before) return true;
        if (MillisLeft(deadline) == 0) return false;
    }
}

ScreenCell PtySession::Cell(int row, int col) const {
    ScreenCell out;
    VTermScreenCell c{};
    VTermPos pos{row, col};
    if (!vterm_screen_get_cell(screen_, pos, &c)) return out;
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && c.chars[i] != 0; ++i) AppendUtf8(out.text, c.chars[i]);
    if (out.text.empty()) out.text = " ";
    out.fg = ColorIndex(c.fg, true);
    out.bg = ColorIndex(c.bg, false);
    out.bold = c.attrs.bold;
    out.blink = c.attrs.blink;
    out.reverse = c.attrs.reverse;
    return out;
}

std::string PtySession::Row(int row) const {
    std::string line;
    for (int col = 0; col < cols_; ++col) {
        VTermScreenCell c{};
        if (!vterm_screen_get_cell(screen_, VTermPos{row, col}, &c)) break;
        if (c.width == 0) continue;  // right half of a wide character
        if (c.chars[0] == 0) {
            line += ' ';
            continue;
        }
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && c.chars[i] != 0; ++i) AppendUtf8(line, c.chars[i]);
    }
    size_t end = line.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

std::string PtySession::Screen() const {
    std::string all;
    for (int r = 0; r < rows_; ++r) {
        if (r) all += '\n';
        all += Row(r);
    }
    return all;
}

termios PtySession::SlaveModes() const {
    termios t{};
    int fd = open(slave_.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) throw std::runtime_error("PtySession: cannot open " + slave_);
    tcgetattr(fd, &t);
    close(fd);
    return t;
}

int PtySession::RunAtFarEnd(const std::vector<std::string>& argv, const std::filesystem::path& dir, int timeoutMs,
                            const std::filesystem::path& errFile) {
    if (master_ < 0 || argv.empty()) return -1;
    Pump(0);
    std::vector<std::string> argvCopy = argv;
    std::vector<char*> args;
    for (auto& a : argvCopy) args.push_back(a.data());
    args.push_back(nullptr);
    std::string err = errFile.empty() ? std::string("/dev/null") : errFile.string();

    // The program shares the master's open file: it must block on it as a
    // modem line would, so the test's non-blocking mode is off meanwhile.
    int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags & ~O_NONBLOCK);
    pid_t pid = fork();
    if (pid == 0) {
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (e < 0 || dup2(master_, 0) < 0 || dup2(master_, 1) < 0 || dup2(e, 2) < 0) _exit(125);
        signal(SIGPIPE, SIG_DFL);
        if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = -1;
    if (pid > 0) {
        auto deadline = Clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
        int st = 0;
        for (;;) {
            pid_t r = waitpid(pid, &st, WNOHANG);
            if (r == pid) {
                status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                break;
            }
            if (MillisLeft(deadline) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, &st, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    fcntl(master_, F_SETFL, flags);
    return status;
}

void PtySession::Resize(int rows, int cols) {
    Pump();  // what came so far belongs to the old size
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    ioctl(master_, TIOCSWINSZ, &ws);
    rows_ = rows;
    cols_ = cols;
    vterm_set_size(vt_, rows, cols);
}

void PtySession::Hangup() {
    if (master_ >= 0) {
        Pump(0);
        close(master_);
        master_ = -1;
    }
}

bool PtySession::Running() {
    if (reaped_) return false;
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        reaped_ = true;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return false;
    }
    return true;
}

int PtySession::Wait(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
    while (Running()) {
        if (MillisLeft(deadline) == 0) {
            kill(pid_, SIGKILL);
            int st = 0;
            waitpid(pid_, &st, 0);
            reaped_ = true;
            status_ = -1;
            break;
        }
        if (master_ < 0 || !Pump(20)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // What the program wrote just before it ended.
    if (master_ >= 0) Pump(0);
    return status_;
}

}  // namespace kv::test

#include "tools/kvconsole/console_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fmt/format.h>

#include "common/online_status.h"
#include "common/runtime.h"

namespace kv::console {
namespace {

constexpr uint8_t kCtrlC = 0x03;
// How often the head is read again from "online.ctl" when nothing else
// happens.
constexpr int kRefreshMs = 1000;
// How soon after a line's output.
constexpr int kSoonMs = 100;

volatile sig_atomic_t gEndSignal = 0;
volatile sig_atomic_t gResized = 0;
int gWake[2] = {-1, -1};

void OnSignal(int sig) {
    int saved = errno;
    if (sig == SIGWINCH) gResized = 1;
    else if (gEndSignal == 0) gEndSignal = sig;
    if (gWake[1] >= 0) {
        ssize_t ignored = write(gWake[1], "", 1);
        (void)ignored;
    }
    errno = saved;
}

}  // namespace

void InstallConsoleSignals() {
    if (gWake[0] < 0 && pipe2(gWake, O_CLOEXEC | O_NONBLOCK) != 0) gWake[0] = gWake[1] = -1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGWINCH}) sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

ConsoleSession::ConsoleSession(ConsoleScreen& screen, const ConsolePty& pty, SysopTerminal term, std::string title)
    : screen_(screen), pty_(pty), term_(term), title_(std::move(title)), keys_(term) {}

int ConsoleSession::Run() {
    Refresh();
    auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRefreshMs);
    while (status_ < 0) {
        int wait = int(std::chrono::duration_cast<std::chrono::milliseconds>(next - std::chrono::steady_clock::now()).count());
        pollfd p[3] = {{0, POLLIN, 0}, {pty_.Master, POLLIN, 0}, {gWake[0], POLLIN, 0}};
        int ready = poll(p, 3, wait < 0 ? 0 : wait);
        if (ready < 0 && errno != EINTR) break;
        if (p[2].revents & POLLIN) {
            char drain[64];
            while (read(gWake[0], drain, sizeof drain) > 0) {
            }
        }
        if (gEndSignal != 0) {
            status_ = 128 + gEndSignal;
            break;
        }
        if (gResized) {
            gResized = 0;
            screen_.Resize();
        }
        bool changed = false;
        if (p[1].revents & POLLIN) {
            // What the lines wrote: a page may have set its line's mark
            // just before, so the head is read again soon.
            char buf[4096];
            for (ssize_t n; (n = read(pty_.Master, buf, sizeof buf)) > 0;) screen_.Relay(std::string_view(buf, size_t(n)));
            changed = true;
        }
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buf[256];
            ssize_t n = read(0, buf, sizeof buf);
            if (n > 0) {
                Keys(std::string_view(buf, size_t(n)));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                status_ = 1;  // the terminal closed
                break;
            }
        }
        // Output soon brings the head up to date, but a chat's every key
        // does not have it read again.
        auto now = std::chrono::steady_clock::now();
        if (changed) next = std::min(next, now + std::chrono::milliseconds(kSoonMs));
        if (now >= next) {
            Refresh();
            next = now + std::chrono::milliseconds(kRefreshMs);
        }
        if (!screen_.Alive()) status_ = 1;
    }
    if (status_ < 0) status_ = 1;
    if (mode_ == kChat) EndChat("The console ends: the chat with line {} is over.");
    return status_;
}

void ConsoleSession::Keys(std::string_view typed) {
    // Ctrl-C is no part of any sequence: what comes before it goes its
    // way first.
    while (!typed.empty()) {
        size_t stop = typed.find(char(kCtrlC));
        std::string_view part = typed.substr(0, stop);
        KeyFilter::Keys k = keys_.Pass(part);
        if (k.refused) screen_.Bell();
        if (mode_ == kChat) {
            if (!k.bytes.empty()) {
                ssize_t n = write(pty_.Master, k.bytes.data(), k.bytes.size());
                (void)n;  // a line that reads nothing for long loses keys
            }
        } else if (k.escape && mode_ == kAskLine) {
            Interrupt();
        } else {
            for (char b : k.bytes) {
                if (mode_ == kCommands) CommandKey(uint8_t(b));
                else if (mode_ == kAskLine) LineKey(uint8_t(b));
                else break;  // the rest of what was typed is the chat's
            }
        }
        if (stop == std::string_view::npos) break;
        Interrupt();
        typed.remove_prefix(stop + 1);
    }
}

void ConsoleSession::Interrupt() {
    if (mode_ == kChat) {
        EndChat("Chat with line {} ended.");
    } else if (mode_ == kAskLine) {
        mode_ = kCommands;
        screen_.Echo("\r\n");
        DrawHead();
    }
}

void ConsoleSession::CommandKey(uint8_t key) {
    switch (key) {
        case 'a':
        case 'A':
            Answer();
            break;
        case 'm':
        case 'M':
            mode_ = kAskLine;
            asking_ = 'm';
            typed_.clear();
            screen_.Ask("Monitor line: ");
            DrawHead();
            break;
        case 'w':
        case 'W':
            Who();
            break;
        case 'q':
        case 'Q':
            status_ = 0;
            break;
        case '\r':
        case '\n':
            break;
        default:
            screen_.Bell();
    }
}

void ConsoleSession::LineKey(uint8_t key) {
    if (key >= '0' && key <= '9' && typed_.size() < 3) {
        typed_ += char(key);
        screen_.Echo(std::string(1, char(key)));
    } else if ((key == '\b' || key == 0x7F) && !typed_.empty()) {
        typed_.pop_back();
        screen_.Echo("\b \b");
    } else if (key == '\r' || key == '\n') {
        screen_.Echo("\r\n");
        mode_ = kCommands;
        if (!typed_.empty()) Act(std::stoi(typed_));
        DrawHead();
    } else {
        screen_.Bell();
    }
}

void ConsoleSession::Act(int line) {
    Refresh();
    const LineView* v = Reachable(line);
    if (v == nullptr) return;
    if (asking_ == 'a') StartChat(*v);
    else Monitor(*v);
}

void ConsoleSession::Answer() {
    Refresh();
    int line = PagingLine(lines_);
    if (line >= 0) {
        if (const LineView* v = Reachable(line)) StartChat(*v);
        return;
    }
    mode_ = kAskLine;
    asking_ = 'a';
    typed_.clear();
    screen_.Ask("No line pages.  Chat with line: ");
    DrawHead();
}

const LineView* ConsoleSession::Reachable(int line) {
    const LineView* v = FindLine(lines_, line);
    if (v == nullptr) {
        screen_.Say(fmt::format("Nobody is on line {}.", line));
    } else if (!KivoLive(v->Pid)) {
        screen_.Say(fmt::format("Line {} names PID {}, which is no kivo.", line, v->Pid));
        v = nullptr;
    }
    return v;
}

bool ConsoleSession::Signal(const LineView& v, int sig) {
    if (kill(v.Pid, sig) == 0) return true;
    screen_.Say(fmt::format("Cannot signal the kivo of line {} (PID {}): {}.", v.Line, v.Pid, std::strerror(errno)));
    if (errno == EPERM) screen_.Say("Run the console as the user the lines run as.");
    return false;
}

void ConsoleSession::StartChat(const LineView& v) {
    // Keys typed into an earlier chat that its line never read are not
    // this chat's.
    tcflush(pty_.Slave, TCIFLUSH);
    keys_.Reset();
    if (!Signal(v, SIGPIPE)) return;
    mode_ = kChat;
    chatLine_ = v.Line;
    chatPid_ = v.Pid;
    screen_.Say("Chat with line " + std::to_string(v.Line) + " (" + v.Name + "); Ctrl-C ends it.");
    DrawHead();
}

void ConsoleSession::EndChat(const char* why) {
    if (OnlineProcessAlive(chatPid_)) kill(chatPid_, SIGUSR1);
    tcflush(pty_.Slave, TCIFLUSH);
    mode_ = kCommands;
    screen_.Say(fmt::format(fmt::runtime(why), chatLine_));
    chatLine_ = -1;
    chatPid_ = -1;
    DrawHead();
}

void ConsoleSession::Monitor(const LineView& v) {
    if (!Signal(v, SIGUSR1)) return;
    screen_.Say(fmt::format("Monitor of line {} switched {}; the copy goes to {}.", v.Line,
                            (v.Flags & LINE_MONITORED) ? "off" : "on", Config().MonitorPath));
}

void ConsoleSession::Who() {
    Refresh();
    for (const std::string& row : WhoTable(lines_)) screen_.Say(row);
}

void ConsoleSession::Refresh() {
    std::vector<LineView> lines;
    std::string why;
    if (ReadLines(lines, &why)) {
        lines_ = std::move(lines);
        linesFailure_.clear();
    } else if (why != linesFailure_) {
        // Said once, not at every look.
        linesFailure_ = why;
        screen_.Say("Cannot read the line status: " + why);
    }
    if (mode_ == kChat && !OnlineProcessAlive(chatPid_)) {
        mode_ = kCommands;
        screen_.Say(fmt::format("Line {} has hung up: the chat is over.", chatLine_));
        chatLine_ = -1;
    }
    DrawHead();
}

void ConsoleSession::DrawHead() {
    size_t width = screen_.Width();
    std::string keys;
    if (mode_ == kChat) keys = fmt::format("Chat with line {}: Ctrl-C ends it", chatLine_);
    else if (mode_ == kAskLine) keys = "Type the line's number and Enter (Esc: back)";
    else keys = "Keys: a answer  m monitor  w who is on  q quit";
    screen_.SetHead({
        {title_, HeadRow::kBand},
        {PagingRow(lines_, width), PagingLine(lines_) >= 0 ? HeadRow::kAlert : HeadRow::kPlain},
        {OnLineRow(lines_, width), HeadRow::kPlain},
        {keys, HeadRow::kBand},
    });
}

}  // namespace kv::console

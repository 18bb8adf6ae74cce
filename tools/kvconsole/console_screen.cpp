#include "tools/kvconsole/console_screen.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace kv::console {
namespace {

// Rows of the head; a terminal shorter than this and the scrolling region
// together gets no head.
constexpr int kHeadRows = 4;
constexpr int kFewestRegionRows = 4;

}  // namespace

ConsoleScreen::ConsoleScreen(int in, int out, SysopTerminal term) : in_(in), out_(out), term_(term), filter_(term) {}

ConsoleScreen::~ConsoleScreen() { Finish(); }

bool ConsoleScreen::Start(std::string& why) {
    if (!isatty(in_) || !isatty(out_) || tcgetattr(in_, &saved_) != 0) {
        why = "The sysop's console needs a terminal.";
        return false;
    }
    termios raw = saved_;
    cfmakeraw(&raw);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(in_, TCSANOW, &raw) != 0) {
        why = std::string("Cannot set the terminal's modes: ") + std::strerror(errno);
        return false;
    }
    started_ = true;
    Out("\033[0m\033[H\033[2J");
    Resize();
    return true;
}

void ConsoleScreen::Finish() {
    if (!started_) return;
    started_ = false;
    // The region back to the whole screen (which homes the cursor), then
    // the cursor to the last row, below everything.
    Out(fmt::format("\033[0m\033[r\033[{};1H\r\n", rows_));
    tcsetattr(in_, TCSANOW, &saved_);
}

void ConsoleScreen::Resize() {
    winsize ws{};
    if (ioctl(out_, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
        rows_ = ws.ws_row;
        cols_ = ws.ws_col;
    }
    headRows_ = rows_ >= kHeadRows + kFewestRegionRows ? kHeadRows : 0;
    // Setting the region homes the cursor: it goes to the region's last
    // row, where the text scrolls up from.
    Out(fmt::format("\033[{};{}r\033[{};1H", headRows_ + 1, rows_, rows_));
    lineStart_ = false;  // that row may hold text
    DrawHead();
}

void ConsoleScreen::SetHead(const std::vector<HeadRow>& rows) {
    if (rows == head_) return;
    head_ = rows;
    DrawHead();
}

void ConsoleScreen::DrawHead() {
    if (headRows_ == 0) return;
    std::string out = "\0337";  // the cursor of the region, kept
    for (int r = 0; r < headRows_; ++r) {
        HeadRow row = size_t(r) < head_.size() ? head_[size_t(r)] : HeadRow{};
        std::string text = row.Text.substr(0, size_t(cols_));
        out += fmt::format("\033[{};1H\033[0m", r + 1);
        if (row.How != HeadRow::kPlain) {
            // Reverse to the right edge: blanks, not an erase, which some
            // terminals fill with the plain background.
            text.resize(size_t(cols_), ' ');
            out += row.How == HeadRow::kAlert ? "\033[1;7m" : "\033[7m";
            out += ForSysop(text, term_) + "\033[0m";
        } else {
            out += ForSysop(text, term_) + "\033[K";
        }
    }
    out += "\0338";
    Out(out);
}

void ConsoleScreen::Out(std::string_view bytes) {
    while (alive_ && !bytes.empty()) {
        ssize_t n = write(out_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{out_, POLLOUT, 0};
            poll(&p, 1, 1000);
            continue;
        }
        if (n <= 0) {
            alive_ = false;  // the terminal is gone
            return;
        }
        bytes.remove_prefix(size_t(n));
    }
}

void ConsoleScreen::Region(std::string_view bytes) {
    for (char b : bytes) {
        if (b == '\n') lineStart_ = true;
        else if (b != '\a') lineStart_ = false;
    }
    Out(bytes);
}

void ConsoleScreen::NewLineIfNeeded() {
    if (!lineStart_) Region("\r\n");
}

void ConsoleScreen::Relay(std::string_view lineBytes) { Region(filter_.Pass(lineBytes)); }

void ConsoleScreen::Say(std::string_view text) {
    NewLineIfNeeded();
    Region(ForSysop(text, term_) + "\r\n");
}

void ConsoleScreen::Ask(std::string_view prompt) {
    NewLineIfNeeded();
    Region(ForSysop(prompt, term_));
}

void ConsoleScreen::Echo(std::string_view text) { Region(ForSysop(text, term_)); }

void ConsoleScreen::Bell() { Out("\a"); }

}  // namespace kv::console

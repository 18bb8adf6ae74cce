#include "roster/screen.h"

#include <langinfo.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "common/cp437.h"

namespace kv::roster {
namespace {

volatile sig_atomic_t g_stopSignal = 0;
volatile sig_atomic_t g_resized = 0;
bool g_started = false;
bool g_utf8 = false;

// Signal handlers only record; the key reader acts at its next wait.
void RecordStop(int sig) { g_stopSignal = sig; }
void RecordResize(int) { g_resized = 1; }

// A terminal that changed its size is painted again whole from what the
// program last put there.  The windows keep their 80x24 layout: were curses
// left to fit them to a smaller terminal, it would cut them down for good,
// and the frame and every popup would stay broken once the terminal grew.
void RepaintIfResized() {
    if (g_resized == 0) return;
    g_resized = 0;
    RepaintScreen();
}

// The line is gone when it reports a hang-up or an error; a plain timeout
// of the read leaves it readable or quiet.
bool TerminalGone() {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (poll(&p, 1, 0) < 0) return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// One key from curses: a key code, or a character as its byte of the PC
// set, which is what the records hold.  A UTF-8 terminal's bytes are read
// one by one and decoded here (Utf8Keys): curses' own wide read, given a
// byte that is no UTF-8, would wait for more bytes and throw away every key
// typed after it until the line went quiet.  An 8-bit byte from any other
// terminal is refused with a beep: what it stands for is unknown.  False
// when nothing came before the read's timeout, a character is still under
// way, or the key was refused.
bool ReadCharOrCode(WINDOW* w, int& key) {
    if (!g_utf8) {
        key = wgetch(w);
        if (key >= 128 && key <= 255) {
            Beep();
            return false;
        }
        return key != ERR;
    }
    static Utf8Keys keys(Beep);
    int k = keys.Take(wgetch(w));
    if (k < 0) return false;
    key = k;
    return true;
}

int RawKey(WINDOW* w) {
    // A short timeout rather than a blocking read, so that a hang-up or a
    // signal is noticed even when curses itself keeps retrying.
    wtimeout(w, 250);
    for (;;) {
        if (g_stopSignal != 0) throw TerminalLost();
        RepaintIfResized();
        int k = ERR;
        if (ReadCharOrCode(w, k)) {
            if (k == KEY_RESIZE) continue;
            return k;
        }
        if (g_stopSignal != 0 || TerminalGone()) throw TerminalLost();
    }
}

}  // namespace

int Utf8Keys::Take(int read) {
    if (read >= 0 && read <= 255) return TakeUtf8Key(reader_, uint8_t(read), refuse_);
    if (reader_.Pending()) {
        reader_.Reset();
        refuse_();
    }
    return read == ERR ? -1 : read;
}

int DecodeKey(int key, const std::function<int()>& next) {
    if (key == Ctrl('F')) {
        int k = next();
        if (k >= '1' && k <= '9') return KEY_F(k - '0');
        if (k == '0') return KEY_F(10);
        // Any other key comes as itself (a second Ctrl-F too, not read again).
        return k == Ctrl('F') ? k : DecodeKey(k, next);
    }
    if (key == KEY_BACKSPACE || key == 8) return kDel;
    if (key == 13 || key == KEY_ENTER) return kEnter;
    return key;
}

int ReadWindowKey(WINDOW* w) {
    return DecodeKey(RawKey(w), [w] { return RawKey(w); });
}

Frame& Windows() {
    static Frame f;
    return f;
}

bool InitCurses(std::string& why) {
    struct sigaction sa {};
    sa.sa_handler = RecordStop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // Ours before the screen starts, so that curses does not put its own
    // (which fits the windows to the new size) in its place.
    sa.sa_handler = RecordResize;
    sigaction(SIGWINCH, &sa, nullptr);
    g_utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;

    if (initscr() == nullptr) {
        why = "kvroster: cannot start the screen";
        return false;
    }
    g_started = true;
    if (LINES < 24 || COLS < 80) {
        EndScreen();
        why = "kvroster needs a terminal of at least 80 columns and 24 lines";
        return false;
    }
    noecho();
    raw();
    idlok(stdscr, TRUE);
    scrollok(stdscr, TRUE);
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(100);
    return true;
}

void EndScreen() {
    if (!g_started) return;
    g_started = false;
    endwin();
}

namespace {

// curses would show a control byte as "^X" and an 8-bit one as "M-x",
// wider than the one column counted for it, and past a popup's border.  A
// UTF-8 terminal shows the 8-bit ones as their PC characters, one column
// each.
char Shown(char c) { return static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126 ? '?' : c; }

wchar_t ShownWide(char c) {
    auto b = static_cast<unsigned char>(c);
    return b >= 128 ? wchar_t(Cp437ToUnicode(b)) : wchar_t(Shown(c));
}

// The text at the cursor; line feeds kept when asked.
void AddShown(WINDOW* w, std::string_view text, bool lineFeeds) {
    if (g_utf8) {
        std::wstring shown;
        for (char c : text) shown += (lineFeeds && c == '\n') ? L'\n' : ShownWide(c);
        waddnwstr(w, shown.c_str(), int(shown.size()));
        return;
    }
    std::string shown(text);
    for (char& c : shown)
        if (!(lineFeeds && c == '\n')) c = Shown(c);
    waddnstr(w, shown.c_str(), int(shown.size()));
}

}  // namespace

void PutText(WINDOW* w, int row, int col, std::string_view text) {
    wmove(w, row, col);
    AddShown(w, text, false);
}

void AddText(WINDOW* w, std::string_view text) { AddShown(w, text, true); }

std::string Unmarked(std::string_view data) {
    std::string out(data);
    for (char& c : out)
        if (c == '^') c = '?';
    return out;
}

void PutText(WINDOW* w, int row, int col, std::string_view text, attr_t attr) {
    wattron(w, attr);
    PutText(w, row, col, text);
    wattroff(w, attr);
}

void PutMarked(WINDOW* w, int row, int col, std::string_view text) {
    wmove(w, row, col);
    bool bold = false;
    for (char c : text) {
        if (c == '^') {
            bold = !bold;
            if (bold) wattron(w, A_BOLD);
            else wattroff(w, A_BOLD);
            continue;
        }
        AddShown(w, std::string_view(&c, 1), false);
    }
    wattroff(w, A_BOLD);
}

void PutGlyph(WINDOW* w, int row, int col, Glyph g) {
    if (g == Glyph::kShade) {
        mvwaddch(w, row, col, ACS_CKBOARD);
        return;
    }
    if (!g_utf8) {
        mvwaddch(w, row, col, g == Glyph::kCheck ? '*' : g == Glyph::kPhi ? '-' : ACS_BLOCK);
        return;
    }
    const uint8_t pc = g == Glyph::kCheck ? 0xFB : g == Glyph::kPhi ? 0xED : 0xFE;
    const wchar_t text[2] = {wchar_t(Cp437ToUnicode(pc)), 0};
    mvwaddwstr(w, row, col, text);
}

void PutRule(WINDOW* w, int row, int width) {
    mvwaddch(w, row, 0, ACS_LTEE);
    mvwhline(w, row, 1, ACS_HLINE, width - 2);
    mvwaddch(w, row, width - 1, ACS_RTEE);
}

void DrawFrame() {
    Frame& f = Windows();
    if (f.title == nullptr) {
        f.title = newwin(24, 80, 0, 0);
        f.list = newwin(18, 78, 2, 1);
        f.status = newwin(3, 78, 20, 1);
    }
    werase(f.title);
    box(f.title, 0, 0);
    std::string_view banner = kVersionBanner;
    PutText(f.title, 1, 40 - int(banner.size()) / 2, banner, A_REVERSE);
    wrefresh(f.title);

    werase(f.list);
    box(f.list, 0, 0);
    PutText(f.list, 1, 1, " Num   Name                 Password             Location ");
    PutRule(f.list, 3, 78);
    wrefresh(f.list);
    werase(f.status);
    wrefresh(f.status);
}

void TouchAll() {
    Frame& f = Windows();
    for (WINDOW* w : {f.title, f.list, f.status}) {
        if (w == nullptr) continue;
        touchwin(w);
        wnoutrefresh(w);
    }
    doupdate();
}

void RepaintScreen() { wrefresh(curscr); }

void ShowStatusMessage(std::string_view text) {
    WINDOW* s = Windows().status;
    mvwprintw(s, 2, 1, "%76s", "");
    int col = 40 - int(text.size()) / 2;
    PutText(s, 2, col < 0 ? 0 : col, text.substr(0, 78), A_BOLD);
    wrefresh(s);
}

int ShowStatusMessageWait(std::string_view text) {
    ShowStatusMessage(text);
    return ReadWindowKey(Windows().status);
}

void ClearStatusLine(bool whole) {
    WINDOW* s = Windows().status;
    if (whole) werase(s);
    else mvwprintw(s, 0, 0, "%78s", "");
    wrefresh(s);
}

void ShowHelpLine(int mode) {
    static const char* const kHelp[] = {
        "<PgUp/PgDn/Home/End> | <Arrows/Tab/-/+> Move | <Enter> Select | <Esc> Quit",
        "<F2/Find/Tog/Del/Val>|<Arrows/Home/End/Up/Dn/F3> Move|<CR> Edit|<Esc> Menu",
        "<PgUp/Dn> Last/Next|<C>ombined|<L>astRead|<F>lag|<A>ttrib|<R>eset|<Esc> Quit",
    };
    WINDOW* s = Windows().status;
    wattron(s, A_REVERSE);
    mvwprintw(s, 1, 0, "%78s", "");
    if (mode >= 0 && mode <= 2) {
        std::string_view text = kHelp[mode];
        int col = 39 - int(text.size()) / 2;
        mvwaddstr(s, 1, col < 0 ? 0 : col, kHelp[mode]);
    }
    wattroff(s, A_REVERSE);
    wrefresh(s);
}

void ClearWindow(WINDOW* w, bool withBox) {
    werase(w);
    if (withBox) box(w, 0, 0);
    wrefresh(w);
}

void Beep() { beep(); }

}  // namespace kv::roster

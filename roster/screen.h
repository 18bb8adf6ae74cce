// kvroster's screen: the frame of three windows, the one key reader every
// screen uses, the status and help lines, and the way out that restores the
// terminal whatever ends the program.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/cp437.h"
#include "roster/curses_wide.h"

namespace kv::roster {

inline constexpr const char* kVersionBanner = "kvroster v1.0 - user database editor";

// Thrown by the key reader when the terminal is gone (read error, hang-up)
// or a termination signal arrived; RosterMain ends the screen and exits.
struct TerminalLost : std::runtime_error {
    TerminalLost() : std::runtime_error("terminal lost") {}
};

// Key codes beside the curses ones.
inline constexpr int kEsc = 27;
inline constexpr int kEnter = 10;
inline constexpr int kDel = 127;
inline constexpr int kTab = 9;
inline constexpr int Ctrl(char c) { return c & 0x1f; }

// Turns what curses delivered into the key the screens act on: Backspace in
// all its forms becomes DEL, Enter in all its forms becomes 10, and Ctrl-F
// followed by '1'-'9' or '0' becomes F1-F9 or F10 (Ctrl-F followed by
// anything else gives that key alone).  next reads the key after a Ctrl-F.
int DecodeKey(int key, const std::function<int()>& next);

// Reads one key for window (keypad mode as the window has it).  A typed
// character is its byte of the PC set: 128-255 for the letters and signs
// of a UTF-8 terminal (characters the set lacks, and 8-bit bytes of other
// terminals, are refused with a beep and read again).
int ReadWindowKey(WINDOW* w);

// The key reader's step on a UTF-8 terminal, apart from curses: what one
// read gave (a byte, a curses key code, or ERR when the line stayed quiet
// until the read's timeout) made a key.  A whole character gives its PC
// byte; a key code is a key of its own.  -1 while no key is ready.  A broken
// sequence, a character the set lacks, or a sequence cut off by a key code
// or by the quiet calls refuse once and loses only its own bytes: the keys
// after it are kept.
class Utf8Keys {
public:
    explicit Utf8Keys(void (*refuse)()) : refuse_(refuse) {}
    int Take(int read);

private:
    Utf8Reader reader_;
    void (*refuse_)();
};

struct Frame {
    WINDOW* title = nullptr;   // 24 x 80 at 0,0
    WINDOW* list = nullptr;    // 18 x 78 at 2,1
    WINDOW* status = nullptr;  // 3 x 78 at 20,1
};
Frame& Windows();

// Installs the hang-up and termination handlers, starts curses and checks
// the terminal's size.  False, with the screen ended again and why filled,
// for a terminal smaller than 80x24.
bool InitCurses(std::string& why);
// Ends curses once; safe to call on every way out.
void EndScreen();
// Creates the frame and draws it.
void DrawFrame();
// Touches and refreshes every window of the frame.
void TouchAll();
// The whole terminal painted again from what the program put there, every
// popup in its place.  Touching windows sends only what curses thinks
// changed, so whatever else wrote on the terminal would stay.
void RepaintScreen();

// Text on a window.  Data texts (names, answers, command output) go through
// PutText only: control bytes show as '?', bytes above 127 as their PC
// characters on a UTF-8 terminal and as '?' on any other, one column each;
// the text is never a format.
void PutText(WINDOW* w, int row, int col, std::string_view text);
// The same at the cursor, line feeds kept (a scrolling list).
void AddText(WINDOW* w, std::string_view text);
void PutText(WINDOW* w, int row, int col, std::string_view text, attr_t attr);
// One of the program's own templates: each '^' switches bold on or off.
// Other bytes show as PutText shows them, one column each.
void PutMarked(WINDOW* w, int row, int col, std::string_view text);
// A data text (a user's name) to go into such a template: its own '^'
// would switch bold and vanish, so it shows as '?'.
std::string Unmarked(std::string_view data);
// The code-page-437 glyphs the lists show.
enum class Glyph { kCheck, kPhi, kShade, kSquare };
void PutGlyph(WINDOW* w, int row, int col, Glyph g);
// A row of n horizontal-line characters with tees at both ends.
void PutRule(WINDOW* w, int row, int width);

void ShowStatusMessage(std::string_view text);
int ShowStatusMessageWait(std::string_view text);
void ClearStatusLine(bool whole);
enum HelpMode { kHelpNone = -1, kHelpMenu = 0, kHelpBrowse = 1, kHelpForm = 2 };
void ShowHelpLine(int mode);
void ClearWindow(WINDOW* w, bool box);
void Beep();

}  // namespace kv::roster

// What passes between the console's pseudo-terminal and the sysop's own
// terminal, in both directions.
//
// The lines write the board's bytes (the PC character set) to the console:
// the page texts, the bells, the sysop chat's echo of both sides.  None of
// that is an escape sequence, so the way to the sysop's screen passes no
// sequence and no control byte at all but the bell, backspace, tab, carriage
// return and line feed; whatever else a line's bytes hold (a caller's name
// with a title sequence in it, say) is dropped, the whole sequence at once.
// Towards a UTF-8 terminal every byte above 127 goes out as the UTF-8 form of
// its PC character; towards an 8-bit terminal as it is, except where that
// terminal would take it for a control (below).
//
// The sysop's keys go to the line only during a chat: text, carriage return
// and backspace, a UTF-8 terminal's characters as their PC bytes.  A
// character the PC set lacks is refused (the console rings the sysop's
// bell); the sequences of function and arrow keys are dropped whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/cp437.h"

namespace kv::console {

// How the sysop's terminal takes bytes.
struct SysopTerminal {
    bool utf8 = false;  // the locale names UTF-8
    // An 8-bit terminal acts on bytes 128-159 as controls (CSI, OSC, ...)
    // unless it is the PC console, whose letters lie there and which acts
    // on 155 (CSI) alone.
    bool pcConsole = false;
};

// From the locale (LC_ALL, LC_CTYPE, LANG) and TERM.
SysopTerminal DecideSysopTerminal();

// A PC byte towards an 8-bit terminal that would read it as a control
// goes out as this instead.
inline constexpr char kUnshown = '?';

// The lines' output on its way to the sysop's screen.  A sequence may come
// in pieces over several reads: the filter keeps its place between them.
class ScreenFilter {
public:
    explicit ScreenFilter(SysopTerminal t) : term_(t) {}
    // The bytes for the sysop's terminal.
    std::string Pass(std::string_view bytes);

private:
    enum State { kText, kEscape, kEscapeMore, kCsi, kString, kStringEscape };
    void Text(uint8_t b, std::string& out);

    SysopTerminal term_;
    State state_ = kText;
    size_t length_ = 0;  // bytes of the string sequence under way
};

// A text of the board (a caller's name, the board's name) shown by the
// console itself: the same filter in one go.
std::string ForSysop(std::string_view text, SysopTerminal t);

// The sysop's keys on their way to the line during a chat.
class KeyFilter {
public:
    explicit KeyFilter(SysopTerminal t) : term_(t) {}
    struct Keys {
        std::string bytes;     // for the line, in the PC set
        bool refused = false;  // a key the line cannot take: ring the bell
        bool escape = false;   // the Escape key itself was typed
    };
    // A lone escape at the end of what was typed is the Escape key itself,
    // not the start of a sequence: it is noted, not passed, and the next
    // read starts fresh.
    Keys Pass(std::string_view typed);
    void Reset() { state_ = kKey; utf8_.Reset(); }

private:
    enum State { kKey, kEscape, kCsi, kSs3, kString, kStringEscape };
    void Key(uint8_t b, Keys& out);

    SysopTerminal term_;
    State state_ = kKey;
    Utf8Reader utf8_;
};

}  // namespace kv::console

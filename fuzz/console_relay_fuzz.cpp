// What the lines write to the sysop's console and what the sysop types, fed
// through the console's relay in pieces as reads would bring them (the
// first byte gives their size).  For every kind of terminal nothing may come
// out that drives a screen, the screen gets the same whatever the size of
// the reads, and nothing but text and the chat's keys may go to a line.
// Towards a UTF-8 terminal what comes out is well-formed UTF-8 of the PC
// set's characters, with no escape and no C1 control in it, and each one a
// byte the line wrote.  And a caller's text set between whole sequences
// comes through letter for letter, the PC letters as the letters they are.
#include <algorithm>
#include <string>
#include <string_view>

#include "common/cp437.h"
#include "fuzz/fuzz_support.h"
#include "tools/kvconsole/relay.h"

namespace {

using kv::console::KeyFilter;
using kv::console::ScreenFilter;
using kv::console::SysopTerminal;
using kv::fuzz::Check;

constexpr uint8_t kEsc = 0x1B;

// The accented letters and marks of the PC set, bytes 128-165, written out
// here and not taken from the board's table, so that a table that shifted
// or swapped them, or sent one as a C1 control, shows.
constexpr std::u32string_view kPcLetters = U"ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑ";
static_assert(kPcLetters.size() == 0xA6 - 0x80);

// Whole sequences a line's bytes might hold, each ended as a terminal ends
// it: colours, a clear, the other screen, a cursor report, titles ended by
// BEL and by ST, a device control string, a character set, a reset.
constexpr std::string_view kSequences[] = {
    "\033[1;31m", "\033[2J",   "\033[?1049h",        "\033[6n", "\033]0;owned\a",
    "\033]2;owned\033\\",      "\033P+q544e\033\\", "\033(0",  "\033#8", "\033c",
};

bool ShownControl(uint8_t b) { return b == '\a' || b == '\b' || b == '\t' || b == '\r' || b == '\n'; }

// Bytes fit for the sysop's screen on this terminal.
void CheckScreenBytes(std::string_view out, SysopTerminal t) {
    for (char ch : out) {
        uint8_t b = uint8_t(ch);
        if (b < 0x20) Check(ShownControl(b), "a control byte reached the sysop's screen");
        Check(b != 0x7F, "a delete reached the sysop's screen");
        if (!t.utf8 && t.pcConsole) Check(b != 0x9B, "a CSI reached the PC console");
        if (!t.utf8 && !t.pcConsole) Check(b < 0x80 || b >= 0xA0, "a C1 control reached an 8-bit terminal");
    }
}

// What a UTF-8 terminal got, as the PC bytes it stands for: each character
// must be one of the PC set's (so no C1 control), and its letters the ones
// the PC set has at their bytes.
std::string PcBytesOfUtf8(std::string_view out) {
    std::u32string chars;
    Check(kv::fuzz::ReferenceUtf8Text(out, chars), "no well-formed UTF-8 towards a UTF-8 terminal");
    std::string pc;
    for (char32_t ch : chars) {
        Check(ch != kEsc, "an escape reached the sysop's screen");
        Check(ch < 0x80 || ch > 0x9F, "a C1 control reached a UTF-8 terminal");
        uint8_t b = 0;
        Check(kv::UnicodeToCp437(ch, b), "a character the PC set lacks reached the sysop's screen");
        if (b >= 0x80 && b < 0x80 + kPcLetters.size())
            Check(ch == kPcLetters[b - 0x80], "a PC letter reached the sysop's screen as another letter");
        pc += char(b);
    }
    return pc;
}

// What the line's bytes show as on the terminal, the PC bytes for a UTF-8
// one; the same however the bytes are cut into reads.
std::string Shown(std::string_view in, size_t piece, SysopTerminal t) {
    std::string whole = ScreenFilter(t).Pass(in);
    for (size_t size : {piece, size_t(1)}) {
        ScreenFilter screen(t);
        std::string cut;
        for (size_t at = 0; at < in.size(); at += size) cut += screen.Pass(in.substr(at, size));
        Check(cut == whole, "the sysop's screen got other bytes for other reads");
    }
    CheckScreenBytes(whole, t);
    return t.utf8 ? PcBytesOfUtf8(whole) : whole;
}

// Text that holds no escape as the terminal must show it: the controls but
// the five the screen keeps dropped, and on an 8-bit terminal a byte it
// would act on as a control shown as kUnshown.
std::string TextAsShown(std::string_view text, SysopTerminal t) {
    std::string shown;
    for (char ch : text) {
        const uint8_t b = uint8_t(ch);
        if ((b < 0x20 && !ShownControl(b)) || b == 0x7F) continue;
        const bool unshown = !t.utf8 && (t.pcConsole ? b == 0x9B : b >= 0x80 && b < 0xA0);
        shown += unshown ? kv::console::kUnshown : ch;
    }
    return shown;
}

// Whether out, a byte at a time, is a part of in in its order.
bool WithinInOrder(std::string_view out, std::string_view in) {
    size_t at = 0;
    for (char ch : out) {
        at = in.find(ch, at);
        if (at == std::string_view::npos) return false;
        ++at;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in = kv::fuzz::Bytes(data, size);
    // The first byte cuts the rest into pieces of its size.
    size_t piece = size > 0 ? 1 + data[0] % 16 : 1;
    if (size > 0) in.remove_prefix(1);

    // The caller's text: the line's bytes without an escape, so with no
    // sequence of their own, alone and after each whole sequence.
    std::string text(in);
    text.erase(std::remove(text.begin(), text.end(), char(kEsc)), text.end());
    std::string framed;
    for (std::string_view sequence : kSequences) framed.append(sequence).append(text);

    for (SysopTerminal t : {SysopTerminal{true, false}, SysopTerminal{false, false}, SysopTerminal{false, true}}) {
        std::string shown = Shown(in, piece, t);
        if (t.utf8) Check(WithinInOrder(shown, in), "the sysop's screen got a character the line did not write");
        std::string want = TextAsShown(text, t);
        Check(Shown(text, piece, t) == want, "a caller's text did not reach the sysop's screen as written");
        std::string wantFramed;
        for (size_t i = 0; i < std::size(kSequences); ++i) wantFramed += want;
        Check(Shown(framed, piece, t) == wantFramed, "a caller's text after a sequence did not reach the sysop's screen");

        KeyFilter keys(t);
        for (size_t at = 0; at < in.size(); at += piece)
            for (char ch : keys.Pass(in.substr(at, piece)).bytes) {
                uint8_t b = uint8_t(ch);
                Check(b >= 0x20 || b == '\r' || b == '\b', "a control went to the line");
            }
    }
    return 0;
}

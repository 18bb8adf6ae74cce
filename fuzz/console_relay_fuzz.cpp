// What the lines write to the sysop's console and what the sysop types, fed
// through the console's relay in pieces as reads would bring them: for
// every kind of terminal, nothing may come out that drives a screen, and
// nothing but text and the chat's keys may go to a line.
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/kvconsole/relay.h"

namespace {

using kv::console::KeyFilter;
using kv::console::ScreenFilter;
using kv::console::SysopTerminal;

void Check(bool ok) {
    if (!ok) std::abort();
}

// Bytes fit for the sysop's screen on this terminal.
void CheckScreenBytes(std::string_view out, SysopTerminal t) {
    for (char ch : out) {
        uint8_t b = uint8_t(ch);
        if (b < 0x20) Check(b == '\a' || b == '\b' || b == '\t' || b == '\r' || b == '\n');
        Check(b != 0x7F);
        if (!t.utf8 && t.pcConsole) Check(b != 0x9B);
        if (!t.utf8 && !t.pcConsole) Check(b < 0x80 || b >= 0xA0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    // The first byte cuts the rest into pieces of its size.
    size_t piece = size > 0 ? 1 + data[0] % 16 : 1;
    if (size > 0) in.remove_prefix(1);
    for (SysopTerminal t : {SysopTerminal{true, false}, SysopTerminal{false, false}, SysopTerminal{false, true}}) {
        ScreenFilter screen(t);
        KeyFilter keys(t);
        for (size_t at = 0; at < in.size(); at += piece) {
            std::string_view part = in.substr(at, piece);
            CheckScreenBytes(screen.Pass(part), t);
            for (char ch : keys.Pass(part).bytes) {
                uint8_t b = uint8_t(ch);
                Check(b >= 0x20 || b == '\r' || b == '\b');
            }
        }
    }
    return 0;
}

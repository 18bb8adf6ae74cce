// kivo's output path: bytes of the PC set written through PutChar and
// PutString, with flushes between (the first byte sets the pieces, the
// line's kind and whether the sysop monitors it).  What reaches the line
// must be what was written, nothing lost or reordered by the buffer: the
// bytes themselves, or on a UTF-8 line their characters, which read back
// give the same bytes.  The monitor gets the same as the line.
#include <string>

#include "caller/term/call_state.h"
#include "caller/term/screen.h"
#include "common/cp437.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::Check;

namespace {

// Every byte of the set has a character of its own, never a control
// character, and the character names the byte again.
void CheckTheSet() {
    static const bool checked = [] {
        for (int b = 0; b < 256; ++b) {
            char32_t ch = kv::Cp437ToUnicode(uint8_t(b));
            uint8_t back = 0;
            Check(kv::UnicodeToCp437(ch, back) && back == b, "a byte's character does not give the byte back");
            Check(b < 128 ? ch == char32_t(b) : ch >= 0xA0, "a byte above 127 stands for a control character");
        }
        return true;
    }();
    (void)checked;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    CheckTheSet();
    if (size == 0) return 0;
    const uint8_t how = data[0];
    std::string_view text = kv::fuzz::Bytes(data + 1, size - 1);
    CallState& c = Call();
    c.LocalMode = false;
    c.AnsiOn = true;  // no letter is folded
    c.Utf8Terminal = (how & 1) != 0;
    c.OutputDelay = (how & 2) != 0 ? 1 : 0;
    kv::fuzz::CapturedOutput line(1), monitor(-1);
    c.Monitoring = (how & 4) != 0;
    c.MonitorFd = monitor.fd();

    // Pieces of 1 to 8 bytes, alternately by bytes and as strings, a flush
    // after every piece, every 16 or 256 of them or none: long inputs fill
    // the buffer.
    const size_t piece = 1 + (how >> 3) % 8;
    const size_t flushEvery = size_t(1) << (4 * (how >> 6));
    size_t pieces = 0;
    for (size_t at = 0; at < text.size(); at += piece) {
        std::string_view part = text.substr(at, piece);
        if (++pieces % 2 != 0)
            for (char ch : part) PutChar(uint8_t(ch));
        else
            PutString(part);
        if (pieces % flushEvery == 0) FlushOutput();
    }
    std::string sent = line.Take();
    std::string copied = monitor.Take();
    c.Monitoring = false;
    c.MonitorFd = -1;
    c.OutputDelay = 0;

    if (c.Utf8Terminal) {
        std::string back;
        for (const kv::fuzz::Utf8Item& item : kv::fuzz::ReferenceUtf8Keys(sent, true)) {
            Check(item.key, "the line got a byte that is no character of the set");
            back += char(item.value);
        }
        Check(back == text, "the line's characters are not the bytes written");
        Check(sent.size() >= text.size() && sent.size() <= 3 * text.size(), "a character took more than 3 bytes");
    } else {
        Check(sent == text, "the line got other bytes than written");
    }
    Check(copied == ((how & 4) != 0 ? sent : std::string()), "the monitor got other bytes than the line");
    return 0;
}

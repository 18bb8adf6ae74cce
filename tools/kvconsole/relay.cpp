#include "tools/kvconsole/relay.h"

#include <cstdlib>
#include <cstring>

namespace kv::console {
namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kBel = 0x07;
constexpr uint8_t kCsi8 = 0x9B;  // the PC console's 8-bit CSI

// A string sequence (a title, a clipboard write) longer than this is no
// sequence of a line of ours: the text after it is shown again.
constexpr size_t kLongestString = 512;

bool Final(uint8_t b) { return b >= 0x40 && b <= 0x7E; }
bool StringIntroducer(uint8_t b) { return b == ']' || b == 'P' || b == 'X' || b == '^' || b == '_'; }

}  // namespace

SysopTerminal DecideSysopTerminal() {
    SysopTerminal t;
    t.utf8 = OwnLocaleNamesUtf8();
    const char* term = std::getenv("TERM");
    t.pcConsole = term != nullptr && std::strncmp(term, "linux", 5) == 0;
    return t;
}

void ScreenFilter::Text(uint8_t b, std::string& out) {
    if (b == kEsc) {
        state_ = kEscape;
        return;
    }
    if (b == kBel || b == '\b' || b == '\t' || b == '\r' || b == '\n') {
        out += char(b);
        return;
    }
    if (b < 0x20 || b == 0x7F) return;
    if (b < 0x80) {
        out += char(b);
    } else if (term_.utf8) {
        AppendUtf8(out, Cp437ToUnicode(b));
    } else if (term_.pcConsole ? b == kCsi8 : b < 0xA0) {
        out += kUnshown;
    } else {
        out += char(b);
    }
}

std::string ScreenFilter::Pass(std::string_view bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint8_t b = uint8_t(bytes[i]);
        switch (state_) {
            case kText:
                Text(b, out);
                break;
            case kEscape:
                if (b == '[') {
                    state_ = kCsi;
                } else if (StringIntroducer(b)) {
                    state_ = kString;
                    length_ = 0;
                } else if (b >= 0x20 && b <= 0x2F) {
                    state_ = kEscapeMore;  // a character-set choice and the like
                } else if (b != kEsc && b >= 0x20) {
                    state_ = kText;  // a two-byte sequence, dropped
                }
                break;
            case kEscapeMore:
                if (b >= 0x30 && b <= 0x7E) {
                    state_ = kText;
                } else if (b < 0x20 || b > 0x2F) {
                    state_ = kText;
                    Text(b, out);
                }
                break;
            case kCsi:
                if (Final(b)) {
                    state_ = kText;
                } else if (b == kEsc) {
                    state_ = kEscape;
                } else if (b >= 0x7F) {
                    // Not part of a sequence: what was begun is dropped, the
                    // byte is text again.
                    state_ = kText;
                    Text(b, out);
                }
                break;
            case kString:
                if (b == kBel) state_ = kText;
                else if (b == kEsc) state_ = kStringEscape;
                else if (++length_ > kLongestString) state_ = kText;
                break;
            case kStringEscape:
                // ESC \ ends the string; any other ESC begins a sequence.
                state_ = kEscape;
                if (b == '\\') state_ = kText;
                else --i;
                break;
        }
    }
    return out;
}

std::string ForSysop(std::string_view text, SysopTerminal t) {
    ScreenFilter f(t);
    return f.Pass(text);
}

void KeyFilter::Key(uint8_t b, Keys& out) {
    if (term_.utf8 && (b >= 0x80 || utf8_.Pending())) {
        switch (utf8_.Feed(b)) {
            case Utf8Reader::kMore:
                return;
            case Utf8Reader::kChar: {
                uint8_t pc = 0;
                if (UnicodeToCp437(utf8_.ch(), pc) && pc >= 0x80) out.bytes += char(pc);
                else out.refused = true;
                return;
            }
            case Utf8Reader::kBroken:
                out.refused = true;
                return;
            case Utf8Reader::kBrokenBy:
                out.refused = true;
                Key(b, out);  // the byte is a key of its own
                return;
        }
    }
    // Text, Enter, and either backspace key (8 or 127): the chat's keys.
    if (b == '\r' || b == '\b' || b >= 0x20) out.bytes += char(b);
}

KeyFilter::Keys KeyFilter::Pass(std::string_view typed) {
    Keys out;
    for (size_t i = 0; i < typed.size(); ++i) {
        uint8_t b = uint8_t(typed[i]);
        switch (state_) {
            case kKey:
                if (b == kEsc) {
                    // Escape alone is a key the chat has no use for.
                    if (i + 1 < typed.size()) state_ = kEscape;
                    else out.escape = true;
                    if (utf8_.Pending()) out.refused = true;  // a character broken off
                    utf8_.Reset();
                } else {
                    Key(b, out);
                }
                break;
            case kEscape:
                if (b == '[') state_ = kCsi;
                else if (b == 'O') state_ = kSs3;
                else if (StringIntroducer(b)) state_ = kString;
                else state_ = kKey;  // Alt and a key: both dropped
                break;
            case kCsi:
                if (Final(b)) {
                    state_ = kKey;
                } else if (b < 0x20 || b >= 0x7F) {
                    state_ = kKey;
                    --i;
                }
                break;
            case kSs3:
                state_ = kKey;
                break;
            case kString:
                if (b == kBel) state_ = kKey;
                else if (b == kEsc) state_ = kStringEscape;
                break;
            case kStringEscape:
                state_ = kKey;
                break;
        }
    }
    return out;
}

}  // namespace kv::console

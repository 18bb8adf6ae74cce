#include "caller/term/term_charset.h"

#include <fstream>
#include <iterator>
#include <optional>

#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "common/cp437.h"

namespace kv::caller {
namespace {

// One reader per line: a sequence may arrive split over several reads.
Utf8Reader gKeys;

}  // namespace

void DecideTerminalCharset() {
    Call().Utf8Terminal = OwnLocaleNamesUtf8();
}

bool FoldWanted(uint8_t c) {
    const CallState& s = Call();
    if (s.LocalMode) return !s.Utf8Terminal;
    return c >= 128 && !s.AnsiOn;
}

size_t TerminalForm(uint8_t c, char out[4]) {
    if (c < 128 || !Call().Utf8Terminal) {
        out[0] = char(c);
        return 1;
    }
    return EncodeUtf8(Cp437ToUnicode(c), out);
}

int KeyFromTerminal(int byte) {
    if (!Call().Utf8Terminal || byte < 0) return byte;
    int key = TakeUtf8Key(gKeys, uint8_t(byte), RingBell);
    return key < 0 ? 0 : key;
}

bool ProcessTerminalIsUtf8(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    if (!in) return false;
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::optional<std::string> lcAll, lcCtype, lang;
    for (size_t at = 0; at < all.size();) {
        size_t end = all.find('\0', at);
        if (end == std::string::npos) end = all.size();
        std::string_view entry(all.data() + at, end - at);
        auto take = [&](std::string_view name, std::optional<std::string>& into) {
            if (entry.size() > name.size() && entry.substr(0, name.size()) == name && entry[name.size()] == '=')
                into = std::string(entry.substr(name.size() + 1));
        };
        take("LC_ALL", lcAll);
        take("LC_CTYPE", lcCtype);
        take("LANG", lang);
        at = end + 1;
    }
    auto ptr = [](const std::optional<std::string>& v) { return v ? v->c_str() : nullptr; };
    return LocaleNamesUtf8(ptr(lcAll), ptr(lcCtype), ptr(lang));
}

std::string TextForTerminal(std::string_view text, bool utf8) {
    return utf8 ? Cp437ToUtf8(text) : std::string(text);
}

}  // namespace kv::caller

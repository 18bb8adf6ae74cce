#include "common/strings.h"

namespace kv {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char ToLowerChar(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
char ToUpperChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

std::string_view SkipBlanks(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsWhiteSpace(text[i])) ++i;
    return text.substr(i);
}

std::string& TrimRight(std::string& text) {
    size_t n = text.size();
    while (n > 0 && IsWhiteSpace(text[n - 1])) --n;
    text.resize(n);
    return text;
}

std::string& LowerCase(std::string& text) {
    for (char& c : text) c = ToLowerChar(c);
    return text;
}

std::string& UpperCase(std::string& text) {
    for (char& c : text) c = ToUpperChar(c);
    return text;
}

std::string& CapitalizeName(std::string& name) {
    // The separators keep their case, so testing the already changed
    // character before is the same as testing the original one.
    constexpr std::string_view kWordStart = " ',-";
    for (size_t i = 0; i < name.size(); ++i) {
        bool upper = i == 0 || kWordStart.find(name[i - 1]) != std::string_view::npos;
        name[i] = upper ? ToUpperChar(name[i]) : ToLowerChar(name[i]);
    }
    return name;
}

std::string& BlankControlBytes(std::string& text, std::string_view keep) {
    for (char& c : text) {
        auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && keep.find(c) == std::string_view::npos) || b == 0x7F) c = ' ';
    }
    return text;
}

}  // namespace kv

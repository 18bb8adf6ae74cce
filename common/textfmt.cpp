#include "common/textfmt.h"

#include <cstring>
#include <mutex>
#include <set>

#include "common/runtime.h"

namespace kv {

// Byte b above 127 is U+0180 + b - 128: the UTF-8 bytes 0xC6 or 0xC7, then
// 0x80-0xBF.
std::string WidenPcBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 128) {
            out += c;
            continue;
        }
        out += char(0xC6 + (b >> 6) - 2);
        out += char(0x80 | (b & 0x3F));
    }
    return out;
}

std::string NarrowPcBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if ((b == 0xC6 || b == 0xC7) && (next & 0xC0) == 0x80) {
            out += char(((b - 0xC6 + 2) << 6) | (next & 0x3F));
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string PlainWords(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // Skip flags, width, precision and length up to the conversion.
        size_t j = i + 1;
        while (j < text.size() && std::strchr("-+ #0123456789.*$hlLqjzt", text[j]) != nullptr) ++j;
        i = j;  // the conversion letter itself is dropped too
    }
    return out;
}

namespace {

// The decimal number at text[i], moving i past it; at most one above the
// bound, so that no number overflows.
long NumberAt(std::string_view text, size_t& i) {
    long n = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (n <= kMaxFieldWidth) n = n * 10 + (text[i] - '0');
    return n;
}

}  // namespace

bool HasOversizedField(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        size_t j = i + 1;
        if (j < text.size() && text[j] == '%') {
            i = j;
            continue;
        }
        // An argument position ("%2$d") comes first and is no width.
        size_t k = j;
        NumberAt(text, k);
        if (k < text.size() && text[k] == '$') j = k + 1;
        while (j < text.size() && std::strchr("-+ #0", text[j]) != nullptr) ++j;
        if (NumberAt(text, j) > kMaxFieldWidth) return true;
        if (j < text.size() && text[j] == '.') {
            ++j;
            if (NumberAt(text, j) > kMaxFieldWidth) return true;
        }
        i = j - 1;
    }
    return false;
}

void ReportBadFormat(std::string_view text, const char* why) {
    static std::mutex mu;
    static std::set<std::string> reported;
    {
        std::lock_guard<std::mutex> lock(mu);
        if (!reported.insert(std::string(text)).second) return;
    }
    std::string line = "Bad format in text \"";
    line.append(text.substr(0, 60));
    line += "\": ";
    line += why;
    LogService(line);
}

}  // namespace kv

#include "common/textfmt.h"

#include <cstring>
#include <mutex>
#include <set>

#include "common/runtime.h"

namespace kv {

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

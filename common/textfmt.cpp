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
        while (j < text.size() && std::strchr("-+ #0123456789.*hlLqjzt", text[j]) != nullptr) ++j;
        i = j;  // the conversion letter itself is dropped too
    }
    return out;
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

#include "common/shell_quote.h"

namespace kv {

std::string ShellQuote(std::string_view value) {
    // Inside single quotes the shell gives every byte its literal meaning;
    // only the quote itself needs closing, escaping and reopening.
    std::string out = "'";
    for (char c : value) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

}  // namespace kv

#include "common/trash_words.h"

#include <fstream>
#include <string>

#include "common/runtime.h"
#include "common/strings.h"

namespace kv {

const char* TrashListFile(int kind) {
    switch (kind) {
        case kTrashNames: return "trashcan.ctl";
        case kTrashAliases: return "alitrash.ctl";
        default: return "pwdtrash.ctl";
    }
}

bool IsTrashWord(int kind, std::string_view word) {
    const std::string& dir = Config().DataDir;
    if (dir.empty()) return false;
    std::ifstream in(dir + "/" + TrashListFile(kind));
    if (!in) return false;
    size_t blank = word.find(' ');
    std::string_view first = word.substr(0, blank);
    std::string_view second = blank == std::string_view::npos ? std::string_view() : word.substr(blank + 1);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line == first || (!second.empty() && line == second)) return true;
        std::string asName = line;
        if (CapitalizeName(asName) == word) return true;
    }
    return false;
}

}  // namespace kv

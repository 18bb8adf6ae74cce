#include "common/wildcard.h"

#include <dirent.h>

#include <algorithm>

namespace kv {

bool WildMatch(std::string_view pattern, std::string_view text) {
    // A final '*' needs one character or more: it behaves as "?*".  Reading
    // the pattern through at() spares building that second pattern.
    const bool finalStar = !pattern.empty() && pattern.back() == '*';
    const size_t plen = pattern.size() + (finalStar ? 1 : 0);
    auto at = [&](size_t i) -> char {
        if (finalStar && i + 1 >= pattern.size()) return i + 1 == pattern.size() ? '?' : '*';
        return pattern[i];
    };

    // Greedy walk that remembers only the last '*' seen: a later mismatch
    // lets that star swallow one more character and retries from there.
    // Going back to an earlier star can never help, since the last star can
    // already absorb whatever the earlier one would, so each text position
    // is retried at most once per star and the cost stays polynomial.
    size_t p = 0, t = 0;
    size_t starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < plen && at(p) == '*') {
            starP = p++;
            starT = t;
        } else if (p < plen && (at(p) == '?' || at(p) == text[t])) {
            ++p;
            ++t;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < plen && at(p) == '*') ++p;
    return p == plen;
}

int FirstWildcard(std::string_view text) {
    size_t i = text.find_first_of("*?");
    return i == std::string_view::npos ? 0 : int(i + 1);
}

int DirListing::FindFirst(std::string_view pattern, ListingEntry& entry, const std::filesystem::path& dir) {
    entries_.clear();
    next_ = 0;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return -1;
    const bool wild = HasWildcard(pattern);
    while (const dirent* de = readdir(d)) {
        std::string_view name = de->d_name;
        if (wild ? WildMatch(pattern, name) : name == pattern) {
            entries_.push_back({de->d_ino, std::string(name), de->d_type});
            if (!wild) break;
        }
    }
    closedir(d);
    // std::string compares as unsigned bytes, the order the listing wants.
    std::sort(entries_.begin(), entries_.end(),
              [](const ListingEntry& a, const ListingEntry& b) { return a.Name < b.Name; });
    return FindNext(entry);
}

int DirListing::FindNext(ListingEntry& entry) {
    if (next_ >= entries_.size()) return -1;
    entry = entries_[next_++];
    return 0;
}

}  // namespace kv

// Wildcard names and the sorted directory listing.
//
// A pattern is matched case-sensitively: '?' is any one character, a '*'
// inside the pattern any run of characters (none included), and a '*' that
// ends the pattern a run of at least one, so "A*" does not match "A" while
// "A*B" matches "AB".  Callers type patterns, so matching is bounded by
// pattern length times text length, never exponential.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

bool WildMatch(std::string_view pattern, std::string_view text);

// Position (counted from 1) of the first '*' or '?' in the text; 0 for none.
int FirstWildcard(std::string_view text);
inline bool HasWildcard(std::string_view text) { return FirstWildcard(text) != 0; }

// One name of a listing.  The whole name is kept, however long.
struct ListingEntry {
    ino_t Inode = 0;
    std::string Name;
    unsigned char Type = 0;  // as the directory tells it (DT_DIR, ...); 0 unknown
};

// A directory listing sorted by name in byte order ("A.ZIP" before "a.ZIP"),
// handed out one entry at a time:
//
//   DirListing list;
//   ListingEntry e;
//   for (int r = list.FindFirst("*.ZIP", e); r == 0; r = list.FindNext(e)) ...
//
// or walked with a range-for after FindFirst.  Each listing object is its own,
// so one listing inside another's loop disturbs nothing.
class DirListing {
public:
    // Replaces the listing with the names of dir (the working directory by
    // default) that match the pattern; without a wildcard the one name equal
    // to it.  "." and ".." are names like any other.  0 with the first entry
    // in entry, -1 when nothing matches or dir cannot be read.
    int FindFirst(std::string_view pattern, ListingEntry& entry, const std::filesystem::path& dir = ".");
    // The next entry; 0, or -1 when none is left.
    int FindNext(ListingEntry& entry);

    std::vector<ListingEntry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<ListingEntry>::const_iterator end() const { return entries_.end(); }
    size_t size() const { return entries_.size(); }

private:
    std::vector<ListingEntry> entries_;
    size_t next_ = 0;
};

}  // namespace kv

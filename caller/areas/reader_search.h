// Finding messages: the searches through "msgidx.bbs", what a caller may
// see, and the lists of message positions a reading follows.
//
// The reader, the lists and the searches address a message by its position:
// its record number in the parallel files "msgidx.bbs", "msgtoidx.bbs" and
// "msghdr.bbs".  A message number becomes a position by FindNextMessage or
// FindPrevMessage, which reopen "msgidx.bbs" for every search and so see
// what other lines appended meanwhile.
//
// Area selectors of the searches: 0-99 one area, kAllSelectedAreas every
// area selected in the caller's scan bitmap, kAnyArea every area.  A
// deleted message carries a negative area in the index and matches only
// kAnyArea (and then never by number, which is negated as well).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv {
struct MsgHeader;
}

namespace kv::caller {

constexpr int kAllSelectedAreas = 65535;
constexpr int kAnyArea = 5000;

// Results of the searches besides a position (0 or more).
constexpr int32_t kNotFound = -101;    // no such message (the numbers passed it)
constexpr int32_t kNotVisible = -102;  // there, but not for this caller; or the file ended
constexpr int32_t kSearchFailed = -103;  // "msgidx.bbs" unreadable, or the file's start passed

// Whether an index record's area (negative when deleted) belongs to the
// selector.
bool AreaMatches(int selector, int area);

// Whether the caller may see the message at a position: its header reads,
// it is not deleted, the caller may read its area, and a private message
// only to its sender, its recipient (names compared exactly) and a caller
// with sysop rights in its area.
bool MessageVisible(int32_t index);
// The same test on a header already read.
bool MessageVisible(const MsgHeader& header);

// The first message after number (exact false) visible to the caller in
// the selected areas, or the message numbered exactly number (exact true):
// its position, or kNotFound once the numbers in the file pass number,
// kNotVisible when it is there but hidden from the caller (or the file
// ends first), kSearchFailed when "msgidx.bbs" cannot be read.
int32_t FindNextMessage(int selector, int32_t number, bool exact);

// Backwards from the record before start (-1: from the end of the file):
// the last visible message below number, or exactly number.  start 0 gives
// kNotFound at once; walking past the first record gives kSearchFailed; an
// exact match the caller may not see gives kNotVisible.
int32_t FindPrevMessage(int selector, int32_t number, int32_t start, bool exact);

// A list of positions in reading order: the call's marked list, or the
// result of a search or of a single number.  Entries are 1-based in the
// readers' terms: entry k is positions[k - 1].
struct MessageList {
    std::vector<int32_t> positions;
    int32_t count() const { return int32_t(positions.size()); }
    bool Holds(int32_t index) const;
    // Removes the first entry holding index; true when there was one.
    bool Remove(int32_t index);
};

// The marked list holds at most this many positions.
constexpr size_t kMarkedListMax = 500;

// The call's marked list: filled by the mail check, added to by the header
// scan, shrunk by deletes, read by the read command.  Empty at the start.
MessageList& MarkedList();

}  // namespace kv::caller

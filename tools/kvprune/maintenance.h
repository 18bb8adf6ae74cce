// The steps of one kvprune run over the open base: purge, reply links,
// pack, renumbering and the repair of the users' last-read numbers.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/lastread.h"
#include "common/msg_records.h"
#include "tools/kvprune/base_files.h"
#include "tools/kvprune/options.h"

namespace kv::prune {

using AreaCounts = std::array<int32_t, kMsgAreaCount>;

// Live messages per area, counted in "msgidx.bbs" (the counters of
// "msginfo.bbs" run high after an append that died halfway, and a count
// limit applied to them would purge messages the limit keeps).
// With ascending, whether the numbers rise from record to record (a
// deleted message counted by its number), as appending makes them.
AreaCounts CountLiveMessages(OpenBase& base, bool* ascending = nullptr);

// Whether the purge takes the message: areas not selected are kept; with a
// count limit the oldest go while the area holds more than it; without one
// the message goes when it is older than its keep days.  live holds the
// area's current count.
bool ShouldPurge(const MsgHeader& h, const PruneOptions& opts, const AreaCounts& live, long ageDays);

// The whole purge of one run with everything that follows it (links, pack,
// renumbering) under the base lock; the exit status of the run.
int PurgeMessages(const PruneOptions& opts);

// Clears every ReplyTo and LatestReply that names a purged number.
bool RemoveOldLinks(OpenBase& base, const std::vector<int32_t>& purged, bool verbose);
// The verbose count of headers whose links were cleared.
void LogRepliesRemoved(long changed);

// One text as a pack writes it: its lines (a line longer than a piece cut
// into pieces of 131), trailing white space removed, ended by 0x1A; with
// pidLine a "PID: Kvprune v0.1" line first and an earlier pack's left out.
// from starts at the text's offset and may run to the end of the file.
void CopyMessageText(std::string_view from, bool pidLine, std::string& out);

// How much of from is one text exactly as CopyMessageText would write it,
// end byte included, so that the copy may take the bytes as they lie: 0
// when the copy would differ, npos when from ends before the end byte.
size_t PackedTextLength(std::string_view from, bool pidLine);

// One renumbered message: its area, old number and new number.
struct RenumberEntry {
    int32_t area = 0, oldNumber = 0, newNumber = 0;
};

// Writes the base anew in one pass and swaps it in: with pack without the
// deleted messages (their texts copied, each with our PID line unless -z),
// with renumber the live messages numbered 1, 2, 3, ... in record order,
// the reply links mapped and the users' last-read numbers repaired in the
// same swap.  The last new number (0 without renumber), or -1 when the
// base stays as it was.  usersOk tells whether every user was repaired.
long RewriteBase(OpenBase& base, const PruneOptions& opts, bool pack, bool renumber, bool& usersOk);

// The pack alone, and the renumbering alone.
bool PackMessageBase(OpenBase& base, const PruneOptions& opts);
long RenumberMessages(OpenBase& base, const PruneOptions& opts, bool& usersOk);

// The area's messages as (old, new) numbers in rising old order.
using AreaNumbers = std::vector<std::pair<int32_t, int32_t>>;

// A last-read number under the new numbering: a message kept keeps its new
// number; one that went gives the number before the area's next message,
// so nothing unread counts as read; past the area's last message its last
// number; in an area without messages 0.
uint32_t RemapLastReadValue(const AreaNumbers& area, uint32_t oldValue);

// Every user's last-read record and highest-read number under the new
// numbers: a new "lastread.bbs" (written tells whether it could be) and
// the highest-read fixes, both for the renumbering's swap.  A user who
// cannot be repaired is logged and keeps the old numbers; false when any
// was.
bool RemapLastRead(const std::vector<RenumberEntry>& map, NewBaseFile& lastReadFile,
                   std::vector<HighestReadFix>& fixes, bool& written);

}  // namespace kv::prune

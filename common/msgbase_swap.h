// Replacing whole files of the message base as one step that a crash
// cannot tear.
//
// kvprune's pack and renumbering write new versions of several files (the
// four parallel and text files, "lastread.bbs") and change the users'
// highest-read numbers.  Renaming the new files in one by one would leave,
// after a kill between two renames, a new "msghdr.bbs" beside an old
// "msgtxt.bbs": headers pointing into the wrong texts.  So the swap is
// journalled:
//
//   1. every new file is written under a temporary name in its target's
//      directory and synced;
//   2. the journal "msgbase.jnl" in MsgBaseDir, naming each step, is written
//      under a temporary name, synced and renamed into place: from here on
//      the swap counts as done;
//   3. the steps are carried out, then the journal is removed.
//
// Every step can be carried out again without harm (a step whose new file
// is gone has been done), so whoever finds the journal finishes it: the
// message-base lock (MsgBaseLock) does so each time a process takes it,
// before anything is read or written.  A crash before step 2 leaves the old
// base whole and only temporary files behind.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/record_io.h"

namespace kv {

inline constexpr const char* kSwapJournalFile = "msgbase.jnl";

// One file replaced: fresh is renamed over target.  With a backup name the
// old target is renamed to it first (a real file of its own, never a second
// name of the live one); without one the old version goes.
struct SwapStep {
    std::string fresh, target, backup;
};

// A user's highest-read number, set in "users.bbs" as part of a swap; a
// file of these records (8 bytes each) travels with the journal.
struct HighestReadFix {
    static constexpr size_t kSize = 8;
    int32_t user = 0;
    int32_t highest = 0;
};
template <class IO> constexpr void Visit(IO& io, HighestReadFix& f) {
    io.Field("user", 0, 4, f.user);
    io.Field("highest", 4, 4, f.highest);
}
static_assert(LayoutIsSound<HighestReadFix>());

// Writes fixes into a new temporary file in dir (synced); its path, or ""
// (logged) on failure.
std::string WriteHighestReadFixes(const std::string& dir, const std::vector<HighestReadFix>& fixes);

// Journals the steps (and the file of user fixes, when one is given) and
// carries them out.  The caller holds the message-base lock and has synced
// every fresh file.  False (logged) when the journal could not be written:
// nothing changed then.  Once the journal is in place the swap is finished
// here or by the next holder of the lock.
bool CommitBaseSwap(const std::vector<SwapStep>& steps, const std::string& userFixes);

// Finishes a swap whose journal a killed program left; the caller holds the
// message-base lock.  True when none was pending or it is finished now.
bool CompletePendingSwap();

// Whether the journal of a swap not yet finished names path as a file it
// still moves in; true too for a journal that cannot be read, so that
// nothing a swap may need is removed.
bool PendingSwapNames(const std::string& path);

// Test hook: a process whose environment holds KV_TEST_KILL_AT=name:n kills
// itself with SIGKILL at the n-th pass through the point called name (from
// 1), as a crash there would.
void CrashPoint(const char* name);

}  // namespace kv

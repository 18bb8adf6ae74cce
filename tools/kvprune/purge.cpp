#include <unistd.h>

#include <cstdio>
#include <optional>

#include "common/dates.h"
#include "common/files.h"
#include "common/lastread.h"
#include "common/msgbase_swap.h"
#include "common/online_status.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "tools/kvprune/maintenance.h"
#include "tools/kvprune/message_age.h"
#include "tools/kvprune/prune_log.h"

namespace kv::prune {
namespace {

constexpr useconds_t kLineWaitMicros = 500 * 1000;

bool InArea(int area) { return area >= 0 && area < kMsgAreaCount; }

char PluralS(long n) { return n < 2 ? ' ' : 's'; }

void LogFileSizes(const OpenBase& base) {
    for (const char* f : {kMsgTextFile, kMsgIndexFile, kMsgToIndexFile, kMsgHeaderFile})
        PruneLogF("%-13.13s %-8ld (bytes)", f, long(FileSize(base.Path(f))));
}

// Marks the message deleted in the index, the header and the recipient
// entry, each written before the next; the copy in memory follows the file.
bool PurgeMessage(OpenBase& base, size_t r) {
    if (r >= base.recipients.size()) {
        PruneLogF("%s has no record #%ld", base.Path(kMsgToIndexFile), long(r));
        return false;
    }
    MsgIndexRecord was = base.index[r];
    base.index[r].MsgNumber = -was.MsgNumber;
    base.index[r].MsgArea = int16_t(-(was.MsgArea + 1));
    if (!WriteIndexRecord(base, r)) {
        base.index[r] = was;
        return false;
    }
    base.headers[r].Status |= MSG_DELETED;
    if (!WriteHeaderRecord(base, r)) {
        base.headers[r].Status &= uint8_t(~MSG_DELETED);
        return false;
    }
    MsgToIndexRecord to = base.recipients[r];
    base.recipients[r].Recipient = kRecipientDeleted;
    if (!WriteRecipientRecord(base, r)) {
        base.recipients[r] = to;
        return false;
    }
    return true;
}

// Lowest and highest number of the live records, 0 when there is none.
void SetNumberRange(OpenBase& base) {
    base.info.LowestNumber = 0;
    base.info.HighestNumber = 0;
    for (const MsgIndexRecord& ix : base.index)
        if (ix.MsgNumber > 0) {
            base.info.LowestNumber = ix.MsgNumber;
            break;
        }
    for (auto it = base.index.rbegin(); it != base.index.rend(); ++it)
        if (it->MsgNumber > 0) {
            base.info.HighestNumber = it->MsgNumber;
            break;
        }
}

// Files a pack or a renumbering writes anew, and the journal's own.
const std::vector<const char*> kRewrittenFiles = {kMsgTextFile, kMsgIndexFile, kMsgToIndexFile, kMsgHeaderFile,
                                                  kLastReadFile, kSwapJournalFile, "highread.fix"};

// The first line whose kivo still runs, or -1; -2 when "online.ctl"
// exists but cannot be read.
int BusyLine() {
    std::string path = OnlinePath();
    if (path.empty() || access(path.c_str(), F_OK) != 0) return -1;
    std::vector<OnlineEntry> entries;
    std::string why;
    if (!ReadOnlineFile(entries, &why)) {
        PruneLogF("Cannot read %s: %s", path, why);
        return -2;
    }
    for (size_t i = 0; i < entries.size(); ++i)
        if (LineInUse(entries[i])) return int(i);
    return -1;
}

// Takes the base lock for the run.  A pack or a renumbering moves messages
// to other places and numbers under a reader's feet, so it starts only
// while no caller program runs; the lock is taken first, so that a kivo
// starting meanwhile waits for the run at its own start.  With -w the run
// waits, the lock given back meanwhile, for the lines to empty.
bool LockForRun(const PruneOptions& opts, std::optional<MsgBaseLock>& lock) {
    bool told = false;
    for (;;) {
        lock.emplace();
        if (!*lock) {
            std::fputs("Cannot lock the message base\n", stderr);
            return false;
        }
        if (!opts.pack && !opts.renumber) return true;
        int line = BusyLine();
        if (line == -1) return true;
        if (line == -2 || !opts.waitForLines) {
            std::string why = line == -2 ? std::string("cannot tell who is on line")
                                         : fmt::sprintf("a caller is on line %d", line);
            std::fprintf(stderr, "Cannot pack or renumber the messages while %s\n", why.c_str());
            PruneLogF("Cannot pack or renumber the messages while %s", why);
            return false;
        }
        if (!told) PruneLogF("Waiting for line %d to be free before packing or renumbering", line);
        told = true;
        lock.reset();
        usleep(kLineWaitMicros);
    }
}

}  // namespace

AreaCounts CountLiveMessages(const OpenBase& base) {
    AreaCounts live{};
    for (const MsgIndexRecord& ix : base.index)
        if (ix.MsgNumber > 0 && InArea(ix.MsgArea)) ++live[size_t(ix.MsgArea)];
    return live;
}

bool ShouldPurge(const MsgHeader& h, const PruneOptions& opts, const AreaCounts& live, long ageDays) {
    if (!InArea(h.MsgArea)) return false;
    size_t area = size_t(h.MsgArea);
    if (opts.areas.any() && !opts.areas.test(area)) return false;
    const MsgAreaDef& def = Config().MsgAreas[area];
    // A negative limit or keep count from the configuration is no limit:
    // read literally it would empty the area.
    long limit = opts.useAreaLimits ? def.MaxMessages : opts.maxMessages;
    if (limit > 0) return live[area] > limit;
    long keep = (h.Status & MSG_RECEIVED) ? (opts.useAreaLimits ? def.KeepReceivedDays : opts.keepReceivedDays)
                                          : (opts.useAreaLimits ? def.KeepDays : opts.keepDays);
    return keep > 0 && keep < ageDays;
}

int PurgeMessages(const PruneOptions& opts) {
    OpenBase base;
    base.dir = Config().MsgBaseDir;
    if (base.dir.empty()) {
        std::fputs("Cannot open message info file\n", stderr);
        return 1;
    }
    // Nobody appends, deletes or marks a message while the files are
    // rewritten underneath: the lock is held to the end of the run.
    std::optional<MsgBaseLock> lock;
    if (!LockForRun(opts, lock)) return 1;
    if (opts.pack || opts.renumber) RemoveLeftoverFiles(base.dir, kRewrittenFiles);
    if (opts.verbose) LogFileSizes(base);
    if (!OpenMessageInfo(base) || !OpenMessageFiles(base)) return 1;

    AreaCounts live = CountLiveMessages(base);
    AreaCounts lost{};
    std::vector<int32_t> purged;
    const std::string today = DateString();
    const time_t now = Now();
    const int order = Config().DateOrder;
    for (size_t r = 0; r < base.index.size(); ++r) {
        if (opts.verbose) std::fprintf(stderr, "\r%ld", long(r));
        const MsgIndexRecord ix = base.index[r];
        if (ix.MsgNumber < 0) continue;
        if (r >= base.headers.size()) {
            PruneLogF("Cannot read message header (recno #%ld)", long(r));
            continue;
        }
        const MsgHeader& h = base.headers[r];
        long age = MessageAgeDays(h.DateText, h.WrittenAt, today, now, order);
        if (!ShouldPurge(h, opts, live, age)) continue;
        if (!PurgeMessage(base, r)) {
            PruneLogF("Cannot delete message #%ld (recno #%ld)", long(ix.MsgNumber), long(r));
            continue;
        }
        size_t area = size_t(h.MsgArea);
        if (live[area] > 0) --live[area];
        ++lost[area];
        purged.push_back(ix.MsgNumber);
    }

    long count = long(purged.size());
    PruneLogF("%ld message%c deleted", count, PluralS(count));
    if (opts.verbose) {
        for (int a = 0; a < kMsgAreaCount; ++a) {
            const MsgAreaDef& def = Config().MsgAreas[size_t(a)];
            if (def.AreaDefined && lost[size_t(a)] > 0)
                PruneLogF("%-20.20s %ld message%c", def.AreaName, long(lost[size_t(a)]), PluralS(lost[size_t(a)]));
        }
        std::fputs(" record(s) read\n", stderr);
    }
    SetNumberRange(base);

    int status = 0;
    if (count > 0) {
        if (opts.verbose) std::fputs("Removing old links\n", stderr);
        PruneLog("Removing old links");
        if (!RemoveOldLinks(base, purged, opts.verbose)) status = 1;
    }
    bool packed = true;
    if (opts.pack) {
        if (opts.verbose) std::fputs("Packing messages files\n", stderr);
        packed = PackMessageBase(base, opts);
        if (!packed) {
            PruneLog("Cannot pack messages files");
            status = 1;
        }
    }
    // A base whose pack failed is the base as it was: renumbering it now
    // would only mix the two halves of the run.
    if (opts.renumber && packed) {
        if (opts.verbose) std::fputs("Renumbering messages\n", stderr);
        bool usersOk = true;
        long last = RenumberMessages(base, opts, usersOk);
        if (last < 0) {
            PruneLog("Cannot renumber messages files");
            status = 1;
        } else {
            base.info.LowestNumber = 1;
            base.info.HighestNumber = int32_t(last);
        }
        if (!usersOk) status = 1;
    }

    live = CountLiveMessages(base);
    base.info.AreaCounts = live;
    base.info.TotalMessages = 0;
    for (int32_t n : live) base.info.TotalMessages += n;
    if (!WriteInfoRecord(base)) status = 1;
    if (opts.verbose) LogFileSizes(base);
    return status;
}

}  // namespace kv::prune

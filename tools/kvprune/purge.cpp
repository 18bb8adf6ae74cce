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
// entry, each written before the next.
bool PurgeMessage(OpenBase& base, size_t r, MsgIndexRecord ix, MsgHeader h) {
    if (r >= base.recipientCount) {
        PruneLogF("%s has no record #%ld", base.Path(kMsgToIndexFile), long(r));
        return false;
    }
    ix.MsgArea = int16_t(-(ix.MsgArea + 1));
    ix.MsgNumber = -ix.MsgNumber;
    if (!WriteIndexRecord(base, ix, r)) return false;
    h.Status |= MSG_DELETED;
    if (!WriteHeaderRecord(base, h, r)) return false;
    MsgToIndexRecord to;
    to.Recipient = kRecipientDeleted;
    return WriteRecipientRecord(base, to, r);
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

AreaCounts CountLiveMessages(OpenBase& base) {
    AreaCounts live{};
    RecordReader<MsgIndexRecord> index(base.indexFd, base.Path(kMsgIndexFile), base.indexCount);
    MsgIndexRecord ix;
    for (size_t r = 0; index.Get(r, ix); ++r)
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
    const long todayNumber = TodayDayNumber(today, now, order);
    // Their buffers go before the pack makes its own.
    std::optional<RecordReader<MsgIndexRecord>> indexIn(std::in_place, base.indexFd, base.Path(kMsgIndexFile), base.indexCount);
    std::optional<RecordReader<MsgHeader>> headersIn(std::in_place, base.headerFd, base.Path(kMsgHeaderFile), base.headerCount);
    auto& index = *indexIn;
    auto& headers = *headersIn;
    // Messages come in runs of one date: its day number is worked out once.
    std::string lastDate;
    long lastDay = 0;
    MsgHeader h;
    // The lowest and highest live numbers after the purge, 0 when none.
    base.info.LowestNumber = base.info.HighestNumber = 0;
    for (size_t r = 0; r < base.indexCount; ++r) {
        if (opts.verbose) std::fprintf(stderr, "\r%ld", long(r));
        MsgIndexRecord ix;
        if (!index.Get(r, ix)) {
            PruneLogF("Cannot load message index (recno #%ld)", long(r));
            continue;
        }
        if (ix.MsgNumber < 0) continue;
        const uint8_t* raw = r < base.headerCount ? headers.Raw(r) : nullptr;
        if (raw == nullptr) {
            PruneLogF("Cannot read message header (recno #%ld)", long(r));
            continue;
        }
        // The fields the rules read; the whole header only for a message
        // that goes, as it is written back.
        h.MsgArea = GetField<&MsgHeader::MsgArea>(raw);
        h.Status = GetField<&MsgHeader::Status>(raw);
        h.WrittenAt = GetField<&MsgHeader::WrittenAt>(raw);
        h.DateText = GetField<&MsgHeader::DateText>(raw);
        long age;
        if (!h.DateText.empty() && h.DateText == lastDate) {
            age = lastDay;
        } else {
            age = MessageAgeDays(h.DateText, h.WrittenAt, todayNumber, order);
            // Only a date text that reads alone: one that does not asks
            // the moment of writing each time.
            lastDate = DateTextDayNumber(h.DateText, order) ? h.DateText : std::string();
            lastDay = age;
        }
        bool gone = ShouldPurge(h, opts, live, age);
        if (gone) DecodeRecord(raw, h);
        if (gone && !PurgeMessage(base, r, ix, h)) {
            PruneLogF("Cannot delete message #%ld (recno #%ld)", long(ix.MsgNumber), long(r));
            gone = false;
        }
        if (!gone) {
            if (ix.MsgNumber > 0) {
                if (base.info.LowestNumber == 0) base.info.LowestNumber = ix.MsgNumber;
                base.info.HighestNumber = ix.MsgNumber;
            }
            continue;
        }
        size_t area = size_t(h.MsgArea);
        if (live[area] > 0) --live[area];
        ++lost[area];
        purged.push_back(ix.MsgNumber);
    }
    indexIn.reset();
    headersIn.reset();

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

    int status = 0;
    if (count > 0) {
        if (opts.verbose) std::fputs("Removing old links\n", stderr);
        PruneLog("Removing old links");
        if (!RemoveOldLinks(base, purged, opts.verbose)) status = 1;
    }
    // Pack and renumbering are one pass over the base and one swap: after
    // it the base is whole in its new form, or as it was.
    if (opts.pack || opts.renumber) {
        if (opts.verbose && opts.pack) std::fputs("Packing messages files\n", stderr);
        if (opts.verbose && opts.renumber) std::fputs("Renumbering messages\n", stderr);
        bool usersOk = true;
        long last = RewriteBase(base, opts, opts.pack, opts.renumber, usersOk);
        if (last < 0) {
            PruneLog(opts.pack ? "Cannot pack messages files" : "Cannot renumber messages files");
            status = 1;
        } else if (opts.renumber) {
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

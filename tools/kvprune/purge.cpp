#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

AreaCounts CountLiveMessages(OpenBase& base, bool* ascending) {
    AreaCounts live{};
    RecordReader<MsgIndexRecord> index(base.indexFd, base.Path(kMsgIndexFile), base.indexCount);
    int64_t last = 0;
    bool rising = true;
    for (size_t r = 0; r < base.indexCount; ++r) {
        const uint8_t* ix = index.Raw(r);
        if (ix == nullptr) {
            rising = false;
            break;
        }
        const int32_t number = GetField<&MsgIndexRecord::MsgNumber>(ix);
        const int16_t area = GetField<&MsgIndexRecord::MsgArea>(ix);
        if (number > 0 && InArea(area)) ++live[size_t(area)];
        // A deleted message keeps its number, negated.
        const int64_t n = number < 0 ? -int64_t(number) : int64_t(number);
        if (n <= last) rising = false;
        last = n;
    }
    if (ascending != nullptr) *ascending = rising;
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

namespace {

// The purge in one pass over the base, a chunk of records at a time: each
// chunk's messages are judged, then marked deleted in the index, the
// header and the recipient entry, each file's changes written in runs, the
// index first; a kill between two writes leaves every message live, or
// deleted in the index (which is what counts) and perhaps not yet in the
// later files, as a kill between the writes of one message always did.
// With numbers that rise from record to record, the same pass clears the
// reply links of the headers it passes that name a message already purged;
// a link to a message further on, and the links of the headers before the
// first purge, wait for the end of the pass.
class PurgePass {
public:
    PurgePass(OpenBase& base, const PruneOptions& opts, AreaCounts& live, bool linking)
        : base_(base), opts_(opts), live_(live), linking_(linking),
          index_(base.indexFd, base.Path(kMsgIndexFile), base.indexCount),
          headers_(base.headerFd, base.Path(kMsgHeaderFile), base.headerCount),
          recipients_(base.recipientFd, base.Path(kMsgToIndexFile), base.recipientCount),
          indexOut_(base.indexFd, base.Path(kMsgIndexFile), MsgIndexRecord::kSize),
          headersOut_(base.headerFd, base.Path(kMsgHeaderFile), MsgHeader::kSize),
          recipientsOut_(base.recipientFd, base.Path(kMsgToIndexFile), MsgToIndexRecord::kSize) {
        order_ = Config().DateOrder;
        todayNumber_ = TodayDayNumber(DateString(), Now(), order_);
        MsgToIndexRecord to;
        to.Recipient = kRecipientDeleted;
        EncodeRecord(to, deleted_);
    }

    AreaCounts lost{};
    std::vector<int32_t> purged;  // in record order
    long relinked = 0;            // headers whose links were cleared

    // The whole pass; false when a link could not be cleared.  Sets the
    // base's lowest and highest live numbers.
    bool Run() {
        base_.info.LowestNumber = base_.info.HighestNumber = 0;
        const size_t records = linking_ ? std::max(base_.indexCount, base_.headerCount) : base_.indexCount;
        for (size_t r = 0; r < records; r += kChunk) RunChunk(r, std::min(records, r + kChunk));
        return ok_;
    }

    // The links the pass left for its end: those of the headers before the
    // first purge, and those naming a message that came after the header's
    // own chunk.
    bool ClearForwardLinks() {
        const size_t before = std::min(linkedFrom_, base_.headerCount);
        for (size_t r = 0; r < before; ++r) {
            const uint8_t* raw = headers_.Raw(r);
            if (raw == nullptr) {
                ok_ = false;
                break;
            }
            if (GetField<&MsgHeader::Status>(raw) & MSG_DELETED) continue;
            Clear(r, GetField<&MsgHeader::ReplyTo>(raw), GetField<&MsgHeader::LatestReply>(raw), false);
        }
        for (const Forward& f : forward_) Clear(f.record, f.replyTo, f.latest, f.counted);
        forward_.clear();
        return ok_;
    }

    // The mappings go before the pack makes its own.
    void Release() {
        index_.Release();
        headers_.Release();
        recipients_.Release();
    }

private:
    static constexpr size_t kChunk = 1024;

    struct Judged {
        size_t record;
        int32_t number;
        int area;
        bool counted;  // taken off the area's live count
    };
    // A header's links that name messages further on; 0 for none.
    struct Forward {
        size_t record;
        int32_t replyTo, latest;
        bool counted;  // already counted among the relinked
    };

    bool Purged(int32_t n) const {
        return n != 0 && (std::binary_search(purged.begin(), purged.end(), n) ||
                          std::binary_search(standing_.begin(), standing_.end(), n));
    }

    void NoteLive(size_t r, int32_t number) {
        if (number <= 0) return;
        if (lowestRecord_ < 0 || long(r) < lowestRecord_) {
            lowestRecord_ = long(r);
            base_.info.LowestNumber = number;
        }
        if (long(r) > highestRecord_) {
            highestRecord_ = long(r);
            base_.info.HighestNumber = number;
        }
    }

    // Clears header r's links that name purged messages.
    void Clear(size_t r, int32_t replyTo, int32_t latest, bool counted) {
        const bool reply = Purged(replyTo), last = Purged(latest);
        if (!reply && !last) return;
        const uint8_t* raw = headers_.Raw(r);
        if (raw == nullptr) {
            ok_ = false;
            return;
        }
        uint8_t h[MsgHeader::kSize];
        std::memcpy(h, raw, sizeof h);
        if (reply) SetField<&MsgHeader::ReplyTo>(h, 0);
        if (last) SetField<&MsgHeader::LatestReply>(h, 0);
        if (!WriteRecordBytes(base_.headerFd, base_.Path(kMsgHeaderFile), h, sizeof h, r)) {
            ok_ = false;
            return;
        }
        if (!counted) ++relinked;
    }

    // A message that stays after all: logged, and counted live again.
    void Failed(const Judged& j) {
        PruneLogF("Cannot delete message #%ld (recno #%ld)", long(j.number), long(j.record));
        if (j.counted) ++live_[size_t(j.area)];
        NoteLive(j.record, j.number);
    }

    // Drops from judged_ the records of failed (ascending), logging each.
    void DropFailed(const std::vector<size_t>& failed) {
        if (failed.empty()) return;
        std::vector<Judged> kept;
        for (const Judged& j : judged_) {
            if (std::binary_search(failed.begin(), failed.end(), j.record)) Failed(j);
            else kept.push_back(j);
        }
        judged_.swap(kept);
    }

    void Judge(size_t from, size_t to) {
        MsgHeader h;
        for (size_t r = from; r < to; ++r) {
            if (opts_.verbose) std::fprintf(stderr, "\r%ld", long(r));
            const uint8_t* ix = index_.Raw(r);
            if (ix == nullptr) {
                PruneLogF("Cannot load message index (recno #%ld)", long(r));
                continue;
            }
            const int32_t number = GetField<&MsgIndexRecord::MsgNumber>(ix);
            if (number < 0) continue;
            const uint8_t* raw = r < base_.headerCount ? headers_.Raw(r) : nullptr;
            if (raw == nullptr) {
                PruneLogF("Cannot read message header (recno #%ld)", long(r));
                continue;
            }
            // Only the fields the rules read.
            h.MsgArea = GetField<&MsgHeader::MsgArea>(raw);
            h.Status = GetField<&MsgHeader::Status>(raw);
            h.WrittenAt = GetField<&MsgHeader::WrittenAt>(raw);
            h.DateText = GetField<&MsgHeader::DateText>(raw);
            // Messages come in runs of one date: its day number is worked
            // out once.  Only a date text that reads alone is kept: one that
            // does not asks the moment of writing each time.
            long age;
            if (!h.DateText.empty() && h.DateText == lastDate_) {
                age = lastDay_;
            } else {
                age = MessageAgeDays(h.DateText, h.WrittenAt, todayNumber_, order_);
                lastDate_ = DateTextDayNumber(h.DateText, order_) ? h.DateText : std::string();
                lastDay_ = age;
            }
            if (!ShouldPurge(h, opts_, live_, age)) {
                NoteLive(r, number);
                continue;
            }
            if (r >= base_.recipientCount) {
                PruneLogF("%s has no record #%ld", base_.Path(kMsgToIndexFile), long(r));
                PruneLogF("Cannot delete message #%ld (recno #%ld)", long(number), long(r));
                NoteLive(r, number);
                continue;
            }
            const size_t area = size_t(h.MsgArea);
            const bool counted = live_[area] > 0;
            if (counted) --live_[area];
            judged_.push_back({r, number, int(area), counted});
        }
    }

    void RunChunk(size_t from, size_t to) {
        const size_t indexTo = std::min(to, base_.indexCount), headerTo = std::min(to, base_.headerCount);
        judged_.clear();
        standing_.clear();
        if (from < indexTo) Judge(from, indexTo);

        // The index first: a message deleted there is deleted.
        const uint8_t* oldIndex = judged_.empty() ? nullptr : index_.Run(from, indexTo - from);
        if (!judged_.empty() && oldIndex == nullptr) {
            for (const Judged& j : judged_) Failed(j);
            judged_.clear();
        }
        if (!judged_.empty()) {
            indexOut_.Begin(from, oldIndex);
            for (const Judged& j : judged_) {
                uint8_t* ix = indexOut_.Change(j.record);
                SetField<&MsgIndexRecord::MsgArea>(ix, int16_t(-(GetField<&MsgIndexRecord::MsgArea>(ix) + 1)));
                SetField<&MsgIndexRecord::MsgNumber>(ix, -j.number);
            }
            DropFailed(indexOut_.Write());
        }
        for (const Judged& j : judged_) standing_.push_back(j.number);
        std::sort(standing_.begin(), standing_.end());

        // Then the headers: the deleted mark, and the links of those that
        // stay to messages that went.  From the first purge on, every
        // header's links are looked at, and one naming a message further on
        // is kept for the end; the headers before it have nothing to clear
        // yet and are looked at only at the end, when anything went at all.
        if (linking_ && linkedFrom_ == SIZE_MAX && !standing_.empty()) linkedFrom_ = from;
        const bool relink = linking_ && linkedFrom_ != SIZE_MAX;
        std::vector<size_t> relinkedHere;
        if (from < headerTo && (!judged_.empty() || relink)) {
            const uint8_t* old = headers_.Run(from, headerTo - from);
            if (old == nullptr) {
                for (const Judged& j : judged_) Failed(j);
                judged_.clear();
                ok_ = ok_ && !relink;
                return;
            }
            headersOut_.Begin(from, old);
            // Every number up to the last of this chunk has been judged.
            const int64_t settled = indexTo > 0 && indexTo == to ? LastNumber(indexTo - 1) : INT64_MAX;
            size_t next = 0;
            for (size_t r = from; r < headerTo; ++r) {
                const uint8_t* raw = old + (r - from) * MsgHeader::kSize;
                if (next < judged_.size() && judged_[next].record == r) {
                    ++next;
                    uint8_t* h = headersOut_.Change(r);
                    SetField<&MsgHeader::Status>(h, uint8_t(GetField<&MsgHeader::Status>(h) | MSG_DELETED));
                    continue;
                }
                if (!relink || (GetField<&MsgHeader::Status>(raw) & MSG_DELETED)) continue;
                const int32_t reply = GetField<&MsgHeader::ReplyTo>(raw), latest = GetField<&MsgHeader::LatestReply>(raw);
                if (reply == 0 && latest == 0) continue;
                auto later = [&](int32_t n) { return n != 0 && int64_t(n) > settled; };
                const bool replyGone = !later(reply) && Purged(reply), latestGone = !later(latest) && Purged(latest);
                if (replyGone || latestGone) {
                    uint8_t* h = headersOut_.Change(r);
                    if (replyGone) SetField<&MsgHeader::ReplyTo>(h, 0);
                    if (latestGone) SetField<&MsgHeader::LatestReply>(h, 0);
                    relinkedHere.push_back(r);
                }
                if (later(reply) || later(latest))
                    forward_.push_back({r, later(reply) ? reply : 0, later(latest) ? latest : 0, replyGone || latestGone});
            }
            std::vector<size_t> failed = headersOut_.Write();
            relinked += long(relinkedHere.size());
            for (size_t r : failed) {
                if (!std::binary_search(relinkedHere.begin(), relinkedHere.end(), r)) continue;
                ok_ = false;
                --relinked;
            }
            DropFailed(failed);
        }

        // Last the recipient entries.
        if (!judged_.empty()) {
            const size_t recipientTo = std::min(to, base_.recipientCount);
            const uint8_t* old = recipients_.Run(from, recipientTo - from);
            if (old == nullptr) {
                for (const Judged& j : judged_) Failed(j);
                judged_.clear();
            } else {
                recipientsOut_.Begin(from, old);
                for (const Judged& j : judged_) std::memcpy(recipientsOut_.Change(j.record), deleted_, sizeof deleted_);
                DropFailed(recipientsOut_.Write());
            }
        }
        for (const Judged& j : judged_) {
            purged.push_back(j.number);
            ++lost[size_t(j.area)];
        }
    }

    // The number of index record r, taken as positive.
    int64_t LastNumber(size_t r) {
        const uint8_t* ix = index_.Raw(r);
        if (ix == nullptr) return INT64_MAX;
        const int32_t n = GetField<&MsgIndexRecord::MsgNumber>(ix);
        return n < 0 ? -int64_t(n) : int64_t(n);
    }

    OpenBase& base_;
    const PruneOptions& opts_;
    AreaCounts& live_;
    const bool linking_;
    RecordReader<MsgIndexRecord> index_;
    RecordReader<MsgHeader> headers_;
    RecordReader<MsgToIndexRecord> recipients_;
    RunWriter indexOut_, headersOut_, recipientsOut_;
    int order_ = 0;
    long todayNumber_ = 0;
    uint8_t deleted_[MsgToIndexRecord::kSize] = {};
    std::string lastDate_;
    long lastDay_ = 0;
    long lowestRecord_ = -1, highestRecord_ = -1;
    std::vector<Judged> judged_;
    std::vector<int32_t> standing_;
    std::vector<Forward> forward_;
    size_t linkedFrom_ = SIZE_MAX;  // the first record whose links the pass looked at
    bool ok_ = true;
};

}  // namespace

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
    int status = 0;

    bool ascending = false;
    AreaCounts live = CountLiveMessages(base, &ascending);
    PurgePass pass(base, opts, live, ascending);
    if (!pass.Run()) status = 1;
    const AreaCounts& lost = pass.lost;
    const std::vector<int32_t>& purged = pass.purged;

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

    if (count > 0) {
        if (opts.verbose) std::fputs("Removing old links\n", stderr);
        PruneLog("Removing old links");
        // Numbers that do not rise with the records leave the pass unable
        // to tell which links were settled: they get a walk of their own.
        if (ascending) {
            if (!pass.ClearForwardLinks()) status = 1;
            if (opts.verbose) LogRepliesRemoved(pass.relinked);
        } else if (!RemoveOldLinks(base, purged, opts.verbose)) {
            status = 1;
        }
    }
    pass.Release();
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

#include <algorithm>

#include "tools/kvprune/maintenance.h"
#include "tools/kvprune/prune_log.h"

namespace kv::prune {

bool RemoveOldLinks(OpenBase& base, const std::vector<int32_t>& purged, bool verbose) {
    // Looked up in a sorted copy: the purge meets the numbers in record
    // order, which is not always number order, and a header may name the
    // same purged message in both of its links.
    std::vector<int32_t> gone(purged);
    std::sort(gone.begin(), gone.end());
    auto wasPurged = [&](int32_t n) { return n != 0 && std::binary_search(gone.begin(), gone.end(), n); };

    long changed = 0;
    bool ok = true;
    RecordReader<MsgHeader> headers(base.headerFd, base.Path(kMsgHeaderFile), base.headerCount);
    MsgHeader h;
    for (size_t i = 0; i < base.headerCount; ++i) {
        const uint8_t* raw = headers.Raw(i);
        if (raw == nullptr) {
            ok = false;
            break;
        }
        if (GetField<&MsgHeader::Status>(raw) & MSG_DELETED) continue;
        bool replyGone = wasPurged(GetField<&MsgHeader::ReplyTo>(raw)),
             latestGone = wasPurged(GetField<&MsgHeader::LatestReply>(raw));
        if (!replyGone && !latestGone) continue;
        DecodeRecord(raw, h);
        if (replyGone) h.ReplyTo = 0;
        if (latestGone) h.LatestReply = 0;
        if (!WriteHeaderRecord(base, h, i)) {
            ok = false;
            break;
        }
        ++changed;
    }
    if (verbose) LogRepliesRemoved(changed);
    return ok;
}

void LogRepliesRemoved(long changed) { PruneLogF("%ld %s removed", changed, changed < 2 ? "reply" : "replies"); }

}  // namespace kv::prune

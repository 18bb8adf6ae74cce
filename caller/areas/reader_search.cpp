// The index searches, the visibility rule and the marked list.
#include "caller/areas/reader_search.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>

#include "caller/areas/area_access.h"
#include "caller/term/call_state.h"
#include "common/files.h"
#include "common/msgbase.h"

namespace kv::caller {

namespace {


// "msgidx.bbs" open for one search, read a block at a time: a search walks
// the whole file, often backwards, and a read per record would be slow on
// a large base.
class IndexReader {
public:
    IndexReader() {
        std::string path = MsgBasePath(kMsgIndexFile);
        if (!path.empty()) fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    ~IndexReader() {
        if (fd_ >= 0) close(fd_);
    }
    IndexReader(const IndexReader&) = delete;
    IndexReader& operator=(const IndexReader&) = delete;

    bool ok() const { return fd_ >= 0; }

    // Whole records in the file.
    int32_t Count() const {
        off_t end = lseek(fd_, 0, SEEK_END);
        return end < 0 ? 0 : int32_t(end / off_t(MsgIndexRecord::kSize));
    }

    // Record pos; false past the end or on a read error.  backwards says
    // which way the search goes, so the block is read to that side.
    bool Read(int32_t pos, MsgIndexRecord& out, bool backwards) {
        if (pos < 0) return false;
        if (pos < first_ || pos >= first_ + loaded_) {
            int32_t start = backwards ? std::max<int32_t>(0, pos - kBlock + 1) : pos;
            ssize_t got;
            do {
                got = pread(fd_, block_.data(), block_.size(), off_t(start) * off_t(MsgIndexRecord::kSize));
            } while (got < 0 && errno == EINTR);
            if (got < 0) return false;
            first_ = start;
            loaded_ = int32_t(size_t(got) / MsgIndexRecord::kSize);
            if (pos >= first_ + loaded_) return false;
        }
        DecodeRecord(block_.data() + size_t(pos - first_) * MsgIndexRecord::kSize, out);
        return true;
    }

    // The first position whose number, taken without the sign of a
    // deleted record, is at least number (above it with above set); the
    // record count when there is none.  Numbers rise with the position,
    // so a binary search finds where a scan from the first record would
    // meet its first candidate.
    int32_t FirstFrom(int32_t number, bool above) const {
        int32_t lo = 0, hi = Count();
        while (lo < hi) {
            int32_t mid = lo + (hi - lo) / 2;
            uint8_t bytes[MsgIndexRecord::kSize];
            ssize_t got;
            do {
                got = pread(fd_, bytes, sizeof bytes, off_t(mid) * off_t(sizeof bytes));
            } while (got < 0 && errno == EINTR);
            if (got != ssize_t(sizeof bytes)) return lo;  // the scan from lo meets what is there
            MsgIndexRecord r;
            DecodeRecord(bytes, r);
            int64_t key = std::abs(int64_t(r.MsgNumber));
            if (above ? key > number : key >= number)
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    }

private:
    static constexpr int32_t kBlock = 512;
    int fd_ = -1;
    int32_t first_ = 0, loaded_ = 0;
    std::array<uint8_t, kBlock * MsgIndexRecord::kSize> block_{};
};

}  // namespace

bool AreaMatches(int selector, int area) {
    if (selector == kAnyArea) return true;
    if (selector == area) return true;
    return selector == kAllSelectedAreas && area >= 0 && IsAreaSelected(Call().User.ScanAreas, area);
}

bool MessageVisible(const MsgHeader& h) {
    if (h.Status & MSG_DELETED) return false;
    if (!CanUseMessageArea(h.MsgArea, kAreaRead)) return false;
    if (!(h.Status & MSG_PRIVATE)) return true;
    const std::string& me = Call().User.Name;
    return CanUseMessageArea(h.MsgArea, kAreaSysop) || me == h.FromName || me == h.ToName;
}

bool MessageVisible(int32_t index) {
    MsgHeader h;
    return ReadMessageHeader(h, index) && MessageVisible(h);
}

int32_t FindNextMessage(int selector, int32_t number, bool exact) {
    IndexReader file;
    if (!file.ok()) return kSearchFailed;
    MsgIndexRecord r;
    // Every record before the first whose number reaches the one sought
    // neither qualifies nor ends an exact search.
    for (int32_t pos = file.FirstFrom(number, !exact); file.Read(pos, r, false); ++pos) {
        if (AreaMatches(selector, r.MsgArea)) {
            bool qualifies = exact ? r.MsgNumber == number : r.MsgNumber > number;
            if (qualifies) {
                if (MessageVisible(pos)) return pos;
                // The number exists but is not this caller's to see.  No
                // later record can hold it, and saying "gone" instead would
                // make the reader drop a link that is still good.
                if (exact) return kNotVisible;
            }
        }
        if (exact && r.MsgNumber > number) return kNotFound;
    }
    return kNotVisible;
}

int32_t FindPrevMessage(int selector, int32_t number, int32_t start, bool exact) {
    if (start == 0) return kNotFound;
    IndexReader file;
    if (!file.ok()) return kSearchFailed;
    int32_t count = file.Count();
    if (start < 0) start = count;
    if (start > count) return kNotFound;  // the first read would fail
    // Records from the first whose number reaches the one sought cannot
    // give a result: live ones do not qualify, deleted ones are not shown.
    start = std::min(start, file.FirstFrom(number, exact));
    MsgIndexRecord r;
    for (int32_t pos = start - 1;; --pos) {
        if (pos < 0) return kSearchFailed;
        if (!file.Read(pos, r, true)) return kNotFound;
        if (!AreaMatches(selector, r.MsgArea)) continue;
        bool qualifies = exact ? r.MsgNumber == number : r.MsgNumber < number;
        if (!qualifies) continue;
        if (MessageVisible(pos)) return pos;
        if (exact) return kNotVisible;
    }
}

bool MessageList::Holds(int32_t index) const {
    return std::find(positions.begin(), positions.end(), index) != positions.end();
}

bool MessageList::Remove(int32_t index) {
    auto at = std::find(positions.begin(), positions.end(), index);
    if (at == positions.end()) return false;
    positions.erase(at);
    return true;
}

MessageList& MarkedList() {
    static MessageList list;
    return list;
}

}  // namespace kv::caller

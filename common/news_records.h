// The news files: the group list "master.bbs" and a caller's news file.
//
// A news tool outside the board keeps "master.bbs" in NewsDir and the
// articles in NewsSpool; the board only reads them.  Group n is record n of
// "master.bbs" (counted from 0, the group count is the file size / 96):
//   offset  width  field
//   0       84     Path      text: the group name with "/" between its
//                            parts, also its directory under NewsSpool,
//                            where article n is the file named "n"
//   84      4      Count     uint32: articles in the group; 0 empty
//   88      4      Highest   uint32: highest article number
//   92      1      Flags     NEWS_MODERATED, NEWS_HIDDEN
//   93      3      -         zero
//
// A caller's news file "<alias>.bbs" in NewsDir is a header of 28 bytes,
//   offset  width  field
//   0       2      Subscribed  uint16: subscription records that count
//   2       9      Date        text: "00/00/00", never changed
//   11      9      Time        text: "00:00:00", never changed
//   20      8      -           zero
// followed by one subscription of 8 bytes per group, subscription i at
// byte 28 + 8 x i, in the order of subscription:
//   0       4      Group       uint32: record number in "master.bbs"
//   4       4      LastRead    uint32: last article read; 0 none
// Records beyond Subscribed do not count: a subscription is written at
// its place first and counted by the header afterwards, so a call cut off
// between the two leaves a record the next subscription writes over.
// All integers are little-endian.
#pragma once

#include <cstdint>
#include <string>

#include "common/record_io.h"

namespace kv {

inline constexpr const char* kNewsMasterFile = "master.bbs";

inline constexpr uint8_t NEWS_MODERATED = 0x01;
inline constexpr uint8_t NEWS_HIDDEN = 0x02;  // only for the level of exactly 64000

struct NewsGroupRecord {
    static constexpr size_t kSize = 96;
    std::string Path;      // text[84]
    uint32_t Count = 0;    // articles in the group
    uint32_t Highest = 0;  // highest article number
    uint8_t Flags = 0;     // NEWS_MODERATED, NEWS_HIDDEN
};
template <class IO> constexpr void Visit(IO& io, NewsGroupRecord& r) {
    io.Field("Path", 0, 84, r.Path);
    io.Field("Count", 84, 4, r.Count);
    io.Field("Highest", 88, 4, r.Highest);
    io.Field("Flags", 92, 1, r.Flags);
}
static_assert(LayoutIsSound<NewsGroupRecord>());

struct NewsInfoHeader {
    static constexpr size_t kSize = 28;
    uint16_t Subscribed = 0;  // subscription records that count
    std::string Date;         // text[9], "00/00/00"
    std::string Time;         // text[9], "00:00:00"
};
template <class IO> constexpr void Visit(IO& io, NewsInfoHeader& r) {
    io.Field("Subscribed", 0, 2, r.Subscribed);
    io.Field("Date", 2, 9, r.Date);
    io.Field("Time", 11, 9, r.Time);
}
static_assert(LayoutIsSound<NewsInfoHeader>());

struct NewsSubscription {
    static constexpr size_t kSize = 8;
    uint32_t Group = 0;     // record number in "master.bbs"
    uint32_t LastRead = 0;  // last article read; 0 none
};
template <class IO> constexpr void Visit(IO& io, NewsSubscription& r) {
    io.Field("Group", 0, 4, r.Group);
    io.Field("LastRead", 4, 4, r.LastRead);
}
static_assert(LayoutIsSound<NewsSubscription>());

// A new news file's header: no subscriptions, the zero date and time.
NewsInfoHeader FreshNewsHeader();

inline off_t SubscriptionOffset(int i) { return off_t(NewsInfoHeader::kSize) + off_t(i) * off_t(NewsSubscription::kSize); }
inline off_t GroupOffset(uint32_t group) { return off_t(group) * off_t(NewsGroupRecord::kSize); }

// One news file opened by path for as long as the object lives; every read
// and write is one whole record at its place.  A short or failed transfer
// is false and leaves the record given unchanged; errno_ keeps the reason.
class NewsFile {
public:
    enum Mode { kReadOnly, kReadWrite };
    NewsFile(const std::string& path, Mode mode);
    ~NewsFile();
    NewsFile(const NewsFile&) = delete;
    NewsFile& operator=(const NewsFile&) = delete;
    bool open() const { return fd_ >= 0; }
    int error() const { return errno_; }

    // The number of whole records of a size the file holds.
    int64_t RecordsOf(size_t size) const;

    template <class R>
    bool Read(off_t at, R& record) {
        uint8_t bytes[R::kSize];
        if (!Transfer(bytes, R::kSize, at, false)) return false;
        DecodeRecord(bytes, record);
        return true;
    }
    template <class R>
    bool Write(off_t at, const R& record) {
        uint8_t bytes[R::kSize];
        EncodeRecord(record, bytes);
        return Transfer(bytes, R::kSize, at, true);
    }

private:
    bool Transfer(uint8_t* bytes, size_t size, off_t at, bool write);
    int fd_ = -1;
    int errno_ = 0;
};

// Writes a new news file at path holding only a fresh header; an existing
// file is left alone (false).
bool CreateNewsFile(const std::string& path);

}  // namespace kv

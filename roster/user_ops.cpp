#include "roster/user_ops.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <system_error>
#include <thread>

#include "common/dates.h"
#include "common/files.h"
#include "common/lastread.h"
#include "common/msgbase.h"
#include "common/msgbase_swap.h"
#include "common/online_status.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/users.h"
#include "common/whole_file.h"
#include "common/wildcard.h"
#include "roster/roster_log.h"
#include "roster/screen.h"

namespace kv::roster {
namespace {

bool HasWildcard(const std::string& v) { return v.find_first_of("?*") != std::string::npos; }

// A file mapped whole for reading (nothing copied: the user files are
// large and read in the order of the index); empty when it is missing.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() {
        if (size_ > 0) munmap(const_cast<char*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    // False with errno when it cannot be opened or mapped.
    bool Open(const std::string& path) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st;
        bool ok = fstat(fd, &st) == 0;
        if (ok && st.st_size > 0) {
            void* p = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
            ok = p != MAP_FAILED;
            if (ok) {
                data_ = static_cast<const char*>(p);
                size_ = size_t(st.st_size);
            }
        }
        int err = errno;
        close(fd);
        errno = err;
        return ok;
    }
    const char* data() const { return data_; }
    size_t size() const { return size_; }

private:
    const char* data_ = nullptr;
    size_t size_ = 0;
};

// A fresh file beside target, written through a buffer, then synced and
// closed.  It stays private to the board's user (a copy of the users holds
// every password) until the swap puts it in place; mode() is the mode it
// takes then, the old file's.
class FreshFile {
public:
    bool Create(const std::string& target) {
        std::string why;
        tmp = MakeTempBeside(target, &why);
        if (tmp.fd < 0) {
            RosterLog("Cannot rewrite the user files: %s", why);
            return false;
        }
        struct stat st;
        if (fstat(tmp.fd, &st) != 0 || fchmod(tmp.fd, 0600) != 0) return Fail();
        mode_ = st.st_mode & 07777;
        buf_.reserve(kBuffer);
        return true;
    }
    bool Add(const char* p, size_t n) {
        if (buf_.size() + n > kBuffer && !Flush()) return false;
        buf_.append(p, n);
        return true;
    }
    // The last of the bytes written.  The disk is set to work on each
    // buffer as it is written, so that the sync of Finish waits for less.
    bool Written() { return Flush(); }
    bool Finish() {
        if (!Flush() || fsync(tmp.fd) != 0) return Fail();
        int fd = tmp.fd;
        tmp.fd = -1;
        if (close(fd) != 0) return Fail();
        return true;
    }
    void Discard() { DiscardTemp(tmp); }
    mode_t mode() const { return mode_; }
    TempFile tmp;

private:
    static constexpr size_t kBuffer = 1 << 20;
    bool Flush() {
        if (!WriteFully(tmp.fd, buf_)) return Fail();
        sync_file_range(tmp.fd, written_, off_t(buf_.size()), SYNC_FILE_RANGE_WRITE);
        written_ += off_t(buf_.size());
        buf_.clear();
        return true;
    }
    bool Fail() {
        RosterLog("Cannot write %s: %s", tmp.path, std::strerror(errno));
        DiscardTemp(tmp);
        return false;
    }
    std::string buf_;
    off_t written_ = 0;
    mode_t mode_ = 0;
};

// After a sort the records are copied in an order scattered over the old
// files: each is asked for this many records ahead, so that it has come
// from memory by the time it is copied, rather than every copy waiting.
constexpr size_t kAhead = 8;

void Prefetch(const char* p, size_t n) {
    for (size_t at = 0; at < n; at += 64) __builtin_prefetch(p + at);
    __builtin_prefetch(p + n - 1);
}

// Runs first here and second beside it, and tells whether both did their
// work; one after the other when no thread can be had.
template <class First, class Second>
bool BothDone(First first, Second second) {
    bool one = false, two = false;
    try {
        std::thread beside([&] { two = second(); });
        one = first();
        beside.join();
    } catch (const std::system_error&) {
        one = first();
        two = one && second();
    }
    return one && two;
}

// Year, month, day of a date text in the configured order, as one number.
long DateValue(const std::string& date, int dateOrder) {
    if (date.size() < 8) return 0;
    int a = std::atoi(date.substr(0, 2).c_str()), b = std::atoi(date.substr(3, 2).c_str()),
        c = std::atoi(date.substr(6, 2).c_str());
    int y, m, d;
    if (dateOrder == 0) y = a, m = b, d = c;
    else if (dateOrder == 1) m = a, d = b, y = c;
    else d = a, m = b, y = c;
    return (long(y) * 100 + m) * 100 + d;
}

long TimeValue(const std::string& time) {
    if (time.size() < 8) return 0;
    return (std::atol(time.substr(0, 2).c_str()) * 100 + std::atol(time.substr(3, 2).c_str())) * 100 +
           std::atol(time.substr(6, 2).c_str());
}

}  // namespace

bool MatchRecord(const IndexEntry& e, const SearchCriteria& c) {
    const std::string& v = c.Value;
    switch (c.Field) {
    case kFindName: case kFindLocation: case kFindPassword: {
        std::string key(KeyText(e.Key)), cap = v;
        CapitalizeName(cap);
        if (HasWildcard(v) && WildMatch(v, key)) return true;
        return key.find(v) != std::string::npos || key.find(cap) != std::string::npos;
    }
    case kFindDataPhone: case kFindHomePhone: {
        std::string key(KeyText(e.Key));
        if (HasWildcard(v) && WildMatch(v, key)) return true;
        return key.find(v) != std::string::npos;
    }
    case kFindDate: return KeyText(e.Key, 9).find(v) != std::string::npos;
    case kFindFlags: return c.FlagSet < kKeySize && uint8_t(e.Key[c.FlagSet]) == c.FlagValue;
    default: {
        if (c.Field < kFindLevel || c.Field > kFindLastNumber) return false;
        long n = KeyNumber(e.Key), want = std::strtol(v.c_str(), nullptr, 10);
        switch (c.Operator) {
        case kLess: return n < want;
        case kLessEqual: return n <= want;
        case kGreater: return n > want;
        case kGreaterEqual: return n >= want;
        case kEqual: return n == want;
        case kDifferent: return n != want;
        default: return false;
        }
    }
    }
}

int SearchFrom(const UserBase& base, const SearchCriteria& c, int from) {
    const int step = c.Direction == 0 ? 1 : -1;
    for (int i = from + step; i >= 0 && i < base.count(); i += step)
        if (MatchRecord(base.index()[size_t(i)], c)) return i;
    return -1;
}

int MarkMatching(UserBase& base, const SearchCriteria& c) {
    int marked = 0;
    for (IndexEntry& e : base.index())
        if (MatchRecord(e, c)) {
            e.Marked = 1;
            ++marked;
        }
    return marked;
}

bool SomeoneOnLine(bool& fileMissing) {
    std::vector<OnlineEntry> entries;
    fileMissing = !ReadOnlineFile(entries);
    for (const OnlineEntry& e : entries)
        if (LineHoldsCaller(e)) return true;
    return false;
}

int SortKeyType(int order) {
    static const int kTypes[] = {kKeyLevel, kKeyCalls, kKeyPosted, kKeyDate, kKeyLocation};
    return order >= 0 && order < 5 ? kTypes[order] : -1;
}

namespace {

// The first eight bytes of a text as one number that orders as the text
// does (bytes compared unsigned, a shorter text first): most comparisons
// of the sort end there, without reaching for the text itself.
uint64_t Lead(std::string_view text) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) v = v << 8 | (i < text.size() ? uint8_t(text[i]) : 0);
    return v;
}

}  // namespace

void SortIndex(std::vector<IndexEntry>& index, int keyType, int dateOrder, const NameTable& names) {
    if (index.size() < 3) return;
    // Each entry's sort values are worked out once, not at every comparison,
    // and kept small: a board of 100,000 users sorts 100,000 of them.
    struct Item {
        uint64_t lead = 0;  // smaller first: of the location or the name, or the time made so
        int32_t first = 0;  // larger first: a number or the date
        uint32_t pos = 0;
    };
    auto name = [&](uint32_t pos) {
        size_t n = size_t(index[pos].RecordNumber);
        return n < names.size() ? names[n] : std::string_view();
    };
    std::vector<Item> items;
    items.reserve(index.size() - 1);
    for (size_t i = 1; i < index.size(); ++i) {
        const IndexEntry& e = index[i];
        Item& it = items.emplace_back();
        it.pos = uint32_t(i);
        if (keyType == kKeyDate) {
            it.first = int32_t(DateValue(std::string(KeyText(e.Key, 9)), dateOrder));
            // A time is 99:99:99 at most; the later one comes first.
            it.lead = uint64_t(1000000 - TimeValue(std::string(KeyText(e.Key, 18))));
        } else if (keyType == kKeyLocation) {
            it.lead = Lead(KeyText(e.Key));
        } else {
            it.first = KeyNumber(e.Key);
            it.lead = Lead(name(it.pos));
        }
    }
    // Entries equal in all the order looks at keep the order they had: the
    // position decides last, which makes the plain sort a stable one.
    std::sort(items.begin(), items.end(), [&](const Item& x, const Item& y) {
        if (x.first != y.first) return x.first > y.first;
        if (x.lead != y.lead) return x.lead < y.lead;
        if (keyType != kKeyDate) {
            int k = 0;
            if (keyType == kKeyLocation) k = KeyText(index[x.pos].Key).compare(KeyText(index[y.pos].Key));
            if (k == 0) k = name(x.pos).compare(name(y.pos));
            if (k != 0) return k < 0;
        }
        return x.pos < y.pos;
    });
    // The entries moved into the new order in place, cycle by cycle: entry d
    // takes the one at items[d - 1].pos, and a done entry's item points at
    // itself.
    for (uint32_t d = 1; d < index.size(); ++d) {
        uint32_t from = items[d - 1].pos;
        if (from == d) continue;
        const IndexEntry held = index[d];
        uint32_t at = d;
        while (from != d) {
            index[at] = index[from];
            items[at - 1].pos = at;
            at = from;
            from = items[at - 1].pos;
        }
        index[at] = held;
        items[at - 1].pos = at;
    }
}

bool MoveEntry(std::vector<IndexEntry>& index, int a, int b) {
    const int n = int(index.size());
    if (a <= 0 || a >= n || b < 0 || b >= n - 1 || a == b + 1 || a == b) return false;
    IndexEntry e = index[size_t(a)];
    index.erase(index.begin() + a);
    int at = a < b ? b : b + 1;  // b shifted down by one when a lay before it
    index.insert(index.begin() + at, e);
    return true;
}

RewriteResult RewriteUsers(const std::vector<int32_t>& order, bool pack) {
    RewriteResult result;
    UsersFileLock usersLock;
    MsgBaseLock baseLock;
    if (!usersLock.held() || !baseLock) {
        RosterLog("Cannot lock the user files for a rewrite");
        return result;
    }
    const std::string usersPath = UsersPath(), lastPath = Config().MsgBaseDir + "/" + kLastReadFile;
    // The users lock took away the copies of the users an earlier rewrite
    // left; its copies of the last-read file go too, as nobody else
    // rewrites that file while both locks are held.
    for (const std::string& left : TempFilesBeside(Config().MsgBaseDir, {kLastReadFile}))
        if (!PendingSwapNames(left)) unlink(left.c_str());
    MappedFile users, last;
    if (!users.Open(usersPath)) {
        RosterLog("Cannot read %s: %s", usersPath, std::strerror(errno));
        return result;
    }
    // A missing or short "lastread.bbs" reads as zeros for the records it lacks.
    if (!last.Open(lastPath) && errno != ENOENT) {
        RosterLog("Cannot read %s: %s", lastPath, std::strerror(errno));
        return result;
    }
    const int32_t count = int32_t(users.size() / kUserRecordSize);

    // The order given, then whoever registered since it was made.
    std::vector<int32_t> all;
    all.reserve(size_t(count));
    std::vector<bool> seen(size_t(count), false);
    for (int32_t n : order)
        if (n >= 0 && n < count && !seen[size_t(n)]) {
            seen[size_t(n)] = true;
            all.push_back(n);
        }
    for (int32_t n = 0; n < count; ++n)
        if (!seen[size_t(n)]) all.push_back(n);
    // With pack, the users that go.
    if (pack) {
        std::vector<int32_t> kept;
        kept.reserve(all.size());
        for (size_t pos = 0; pos < all.size(); ++pos) {
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(users.data()) + size_t(all[pos]) * kUserRecordSize;
            if (all[pos] != 0 && (GetField<&UserRecord::Options>(bytes) & USER_DELETED))
                result.dropped.push_back({GetField<&UserRecord::Name>(bytes), GetField<&UserRecord::Location>(bytes), int(pos)});
            else
                kept.push_back(all[pos]);
        }
        all = std::move(kept);
    }

    // The two files are written side by side, and synced together once
    // both are written: the disk works on each while the rest is copied.
    FreshFile freshUsers, freshLast;
    if (!freshUsers.Create(usersPath)) return result;
    if (!freshLast.Create(lastPath)) {
        freshUsers.Discard();
        return result;
    }
    auto writeUsers = [&] {
        for (size_t i = 0; i < all.size(); ++i) {
            if (i + kAhead < all.size()) Prefetch(users.data() + size_t(all[i + kAhead]) * kUserRecordSize, kUserRecordSize);
            if (!freshUsers.Add(users.data() + size_t(all[i]) * kUserRecordSize, kUserRecordSize)) return false;
        }
        return freshUsers.Written();
    };
    auto writeLast = [&] {
        static const char zeros[LastReadRecord::kSize] = {};
        // The part of each record the last-read file holds, zeros for the rest.
        auto have = [&](size_t i) {
            size_t off = size_t(all[i]) * LastReadRecord::kSize;
            return off < last.size() ? std::min(last.size() - off, LastReadRecord::kSize) : 0;
        };
        for (size_t i = 0; i < all.size(); ++i) {
            if (i + kAhead < all.size() && have(i + kAhead) > 0)
                Prefetch(last.data() + size_t(all[i + kAhead]) * LastReadRecord::kSize, have(i + kAhead));
            const size_t n = have(i);
            if ((n > 0 && !freshLast.Add(last.data() + size_t(all[i]) * LastReadRecord::kSize, n)) ||
                (n < LastReadRecord::kSize && !freshLast.Add(zeros, LastReadRecord::kSize - n)))
                return false;
        }
        return freshLast.Written();
    };
    auto finishUsers = [&] { return freshUsers.Finish(); };
    auto finishLast = [&] { return freshLast.Finish(); };
    if (!BothDone(writeUsers, writeLast)) {
        freshUsers.Discard();
        freshLast.Discard();
        return result;
    }
    CrashPoint("rewrite");
    if (!BothDone(finishUsers, finishLast)) {
        freshUsers.Discard();
        freshLast.Discard();
        return result;
    }
    CrashPoint("rewrite");
    bool noOnlineFile = false;
    if (SomeoneOnLine(noOnlineFile)) {
        RosterLog("A caller came on line; the user files were not rewritten");
        DiscardTemp(freshUsers.tmp);
        DiscardTemp(freshLast.tmp);
        result.callerOnLine = true;
        return result;
    }
    const std::vector<SwapStep> steps = {{freshUsers.tmp.path, usersPath, usersPath + ".B"},
                                         {freshLast.tmp.path, lastPath, lastPath + ".B"}};
    if (chmod(freshUsers.tmp.path.c_str(), freshUsers.mode()) != 0 ||
        chmod(freshLast.tmp.path.c_str(), freshLast.mode()) != 0) {
        RosterLog("Cannot rewrite the user files: %s", std::strerror(errno));
        DiscardTemp(freshUsers.tmp);
        DiscardTemp(freshLast.tmp);
        return result;
    }
    if (!CommitBaseSwap(steps, "")) {
        DiscardTemp(freshUsers.tmp);
        DiscardTemp(freshLast.tmp);
        return result;
    }
    result.ok = true;
    return result;
}

UserRecord BlankUserRecord() {
    UserRecord r;
    ClearUserRecord(r);
    r.LastCallDate = "00/00/00";
    r.LastCallTime = "00/00/00";
    r.Options = USER_CLEAR_SCREEN | USER_PAGE_BREAK;
    r.Options2 = USER_HOT_KEYS;
    r.Flags = {};
    r.ScanAreas.fill(0xff);
    r.FirstCallDate = DateString();
    r.Comment1 = "Inserted by Kvroster on " + DateString() + " at " + TimeString();
    r.Comment2 = kVersionBanner;
    r.Alias.clear();
    return r;
}

int AppendBlankRecord() {
    int n = AppendUserRecord(BlankUserRecord());
    if (n < 0) return -1;
    LastReadRecord lr;
    if (!AddLastReadRecord(n, lr)) return -1;
    return n;
}

void ApplyChange(UserRecord& r, const GlobalChange& c) {
    if (c.field >= 0 && c.field <= 3) {
        uint8_t& set = r.Flags[size_t(c.field)];
        for (int b = 0; b < 8; ++b) {
            if (c.plan[size_t(b)] == kOn) set |= uint8_t(1 << b);
            if (c.plan[size_t(b)] == kOff) set &= uint8_t(~(1 << b));
        }
    } else if (c.field >= 4 && c.field <= 12) {
        const OptionBit& bit = kOptionBits[c.field - 4];
        if (c.on) r.*bit.byte |= bit.mask;
        else r.*bit.byte &= uint8_t(~bit.mask);
    } else if (c.field == 13) {
        r.MsgArea = int16_t(c.area);
    } else if (c.field == 14) {
        r.FileArea = int16_t(c.area);
    }
}

int ApplyGlobalEdit(UserBase& base, bool markedOnly, const GlobalChange& c) {
    int written = 0;
    // By position over the entries there are now: a write takes in records
    // that callers appended meanwhile, and those are not part of the edit.
    const size_t count = base.index().size();
    for (size_t i = 0; i < count; ++i) {
        const IndexEntry e = base.index()[i];
        if (markedOnly && !e.Marked) continue;
        UserRecord r;
        if (!base.FetchUserRecord(e.RecordNumber, r)) continue;
        UserRecord changed = r;
        ApplyChange(changed, c);
        if (base.WriteBack(e.RecordNumber, r, changed)) ++written;
    }
    return written;
}

}  // namespace kv::roster

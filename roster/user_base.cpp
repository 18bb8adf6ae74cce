#include "roster/user_base.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fmt/printf.h>

#include "common/online_status.h"
#include "common/record_io.h"
#include "common/strings.h"
#include "common/users.h"
#include "roster/roster_log.h"

namespace kv::roster {
namespace {

// The byte ranges of a record's fields, in layout order.
struct FieldSpans {
    struct Span {
        size_t off, width;
    };
    std::vector<Span> spans;
    void Enter(const char*, int, size_t) {}
    void Leave() {}
    template <class T>
    void Field(const char*, size_t off, size_t width, T&) { spans.push_back({off, width}); }
};

void PutKeyText(KeyBytes& key, size_t at, const std::string& text) {
    size_t n = std::min(text.size(), kKeySize - at - 1);
    std::memset(key.data() + at, 0, kKeySize - at);
    std::memcpy(key.data() + at, text.data(), n);
}

void PutKeyNumber(KeyBytes& key, int32_t v) {
    key.fill(0);
    PutLE32(reinterpret_cast<uint8_t*>(key.data()), uint32_t(v));
}

// The fields SetKey reads for a key type, taken from a record's bytes into
// r; the rest of r is left as it is.
void TakeKeyFields(UserRecord& r, int type, const uint8_t* p) {
    switch (type) {
    case 0: case 1: r.Name = GetField<&UserRecord::Name>(p); break;
    case 2: r.Location = GetField<&UserRecord::Location>(p); break;
    case 3: r.Password = GetField<&UserRecord::Password>(p); break;
    case 4: r.DataPhone = GetField<&UserRecord::DataPhone>(p); break;
    case 5: r.HomePhone = GetField<&UserRecord::HomePhone>(p); break;
    case 6:
        r.LastCallDate = GetField<&UserRecord::LastCallDate>(p);
        r.LastCallTime = GetField<&UserRecord::LastCallTime>(p);
        break;
    case 7: r.Flags = GetField<&UserRecord::Flags>(p); break;
    case 8: r.SecurityLevel = GetField<&UserRecord::SecurityLevel>(p); break;
    case 9: r.TotalCalls = GetField<&UserRecord::TotalCalls>(p); break;
    case 10: r.UploadedFiles = GetField<&UserRecord::UploadedFiles>(p); break;
    case 11: r.UploadedKb = GetField<&UserRecord::UploadedKb>(p); break;
    case 12: r.DownloadedFiles = GetField<&UserRecord::DownloadedFiles>(p); break;
    case 13: r.DownloadedKb = GetField<&UserRecord::DownloadedKb>(p); break;
    case 14: r.HighestRead = GetField<&UserRecord::HighestRead>(p); break;
    case 15: r.MessagesPosted = GetField<&UserRecord::MessagesPosted>(p); break;
    case 16: r.Alias = GetField<&UserRecord::Alias>(p); break;
    default: break;
    }
}

}  // namespace

void SetKey(KeyBytes& key, int type, const UserRecord& r) {
    switch (type) {
    case 0: case 1: PutKeyText(key, 0, r.Name); break;
    case 2: PutKeyText(key, 0, r.Location); break;
    case 3: PutKeyText(key, 0, r.Password); break;
    case 4: PutKeyText(key, 0, r.DataPhone); break;
    case 5: PutKeyText(key, 0, r.HomePhone); break;
    case 6:
        // Bytes 0-8 stay as they were.
        std::memset(key.data() + 9, 0, kKeySize - 9);
        std::memcpy(key.data() + 9, r.LastCallDate.data(), std::min<size_t>(r.LastCallDate.size(), 8));
        std::memcpy(key.data() + 18, r.LastCallTime.data(), std::min<size_t>(r.LastCallTime.size(), 8));
        break;
    case 7:
        key.fill(0);
        std::memcpy(key.data(), r.Flags.data(), 4);
        break;
    case 8: PutKeyNumber(key, r.SecurityLevel); break;
    case 9: PutKeyNumber(key, int32_t(r.TotalCalls)); break;
    case 10: PutKeyNumber(key, int32_t(r.UploadedFiles)); break;
    case 11: PutKeyNumber(key, int32_t(r.UploadedKb)); break;
    case 12: PutKeyNumber(key, int32_t(r.DownloadedFiles)); break;
    case 13: PutKeyNumber(key, int32_t(r.DownloadedKb)); break;
    case 14: PutKeyNumber(key, r.HighestRead); break;
    case 15: PutKeyNumber(key, r.MessagesPosted); break;
    case 16: PutKeyText(key, 0, r.Alias); break;
    default: break;
    }
}

int32_t KeyNumber(const KeyBytes& key) { return int32_t(GetLE32(reinterpret_cast<const uint8_t*>(key.data()))); }

std::string_view KeyText(const KeyBytes& key, size_t at) {
    if (at >= kKeySize) return {};
    return std::string_view(key.data() + at, strnlen(key.data() + at, kKeySize - at));
}

int UserBase::CountUserRecords() {
    struct stat st;
    records_ = stat(UsersPath().c_str(), &st) == 0 ? int(st.st_size / off_t(kUserRecordSize)) : 0;
    return records_;
}

bool UserBase::BuildIndex() {
    index_.clear();
    keyType_ = kKeyName;
    CountUserRecords();
    // Filled in the memory the index had: a rewrite builds it afresh.
    index_.reserve(size_t(records_));
    // The name key straight from the record's bytes: nothing else of a
    // record is needed to show the list.
    const FieldPlace name = kPlaceOf<&UserRecord::Name>;
    bool ok = records_ == 0 || ScanUserBytes([&](int n, const uint8_t* p) {
        IndexEntry& e = index_.emplace_back();
        e.RecordNumber = n;
        const char* text = reinterpret_cast<const char*>(p + name.offset);
        std::memcpy(e.Key.data(), text, strnlen(text, std::min(name.width, kKeySize - 1)));
        return true;
    });
    // A record cut short at the end is not a user: the index holds the
    // whole records only.
    records_ = int(index_.size());
    return ok;
}

void UserBase::TakeInNewRecords() {
    int before = records_;
    CountUserRecords();
    if (records_ <= before) {
        records_ = std::max(records_, before);
        return;
    }
    for (int n = before; n < records_; ++n) {
        IndexEntry e;
        e.RecordNumber = n;
        UserRecord r;
        if (FetchUserRecord(n, r)) SetKey(e.Key, keyType_, r);
        index_.push_back(e);
    }
}

bool UserBase::FillIndexKeys(int type, bool forSearch, NameTable* names) {
    if (forSearch) ++type;
    // One pass over the file rather than one open per record; each record
    // goes to the entries that name it.  An entry whose record the file no
    // longer holds: nothing changes.
    constexpr uint32_t kNone = UINT32_MAX;
    size_t highest = 0;
    for (const IndexEntry& e : index_) {
        if (e.RecordNumber < 0) return false;
        highest = std::max(highest, size_t(e.RecordNumber) + 1);
    }
    struct stat st;
    if (stat(UsersPath().c_str(), &st) != 0 || size_t(st.st_size) / kUserRecordSize < highest) return false;
    std::vector<uint32_t> first(highest, kNone), next(index_.size(), kNone);  // entries by record number
    for (size_t i = 0; i < index_.size(); ++i) {
        size_t n = size_t(index_[i].RecordNumber);
        next[i] = first[n];
        first[n] = uint32_t(i);
    }
    if (names) {
        names->clear();
        names->reserve(highest);
    }
    // The keys change in place: until they all have, they are of no type.
    keyType_ = -1;
    size_t seen = 0;
    UserRecord fields;
    if (!ScanUserBytes([&](int n, const uint8_t* p) {
            if (names) names->push_back(GetField<&UserRecord::Name>(p));
            if (size_t(n) >= first.size() || first[size_t(n)] == kNone) return true;
            TakeKeyFields(fields, type, p);
            for (uint32_t i = first[size_t(n)]; i != kNone; i = next[i]) {
                SetKey(index_[i].Key, type, fields);
                ++seen;
            }
            return true;
        }))
        return false;
    if (seen != index_.size()) return false;
    keyType_ = type;
    return true;
}

bool UserBase::FetchUserRecord(int recordNumber, UserRecord& r) const { return ReadUserRecord(recordNumber, r); }

bool UserBase::FetchAt(int pos, UserRecord& r) const {
    if (pos < 0 || pos >= count()) return false;
    return FetchUserRecord(index_[size_t(pos)].RecordNumber, r);
}

UserRecord MergeEdits(const UserRecord& onDisk, const UserRecord& original, const UserRecord& edited) {
    FieldSpans spans;
    UserRecord scratch;
    Visit(spans, scratch);
    UserBytes disk = EncodeUserRecord(onDisk), before = EncodeUserRecord(original), after = EncodeUserRecord(edited);
    for (const FieldSpans::Span& s : spans.spans) {
        if (std::memcmp(before.data() + s.off, after.data() + s.off, s.width) != 0)
            std::memcpy(disk.data() + s.off, after.data() + s.off, s.width);
    }
    return DecodeUserRecord(disk.data());
}

bool UserBase::WriteBack(int recordNumber, const UserRecord& original, const UserRecord& edited) {
    TakeInNewRecords();
    UsersFileLock lock;
    UserRecord onDisk;
    if (!ReadUserRecord(recordNumber, onDisk)) return false;
    return WriteUserRecord(recordNumber, MergeEdits(onDisk, original, edited));
}

bool UserBase::FetchLastRead(int recordNumber, LastReadRecord& r) const {
    r = LastReadRecord{};
    std::string why;
    LastReadRecord got;
    if (LastReadIO(recordNumber, got, LastReadDirection::kRead, &why)) r = got;
    return true;
}

bool UserBase::StoreLastRead(int recordNumber, const LastReadRecord& r) const {
    std::string why;
    LastReadRecord copy = r;
    if (LastReadIO(recordNumber, copy, LastReadDirection::kWrite, &why)) return true;
    RosterLog("Cannot write the last-read record %d: %s", recordNumber, why);
    return false;
}

bool UserBase::WriteBackLastRead(int recordNumber, const LastReadRecord& original,
                                 const LastReadRecord& edited) const {
    LastReadRecord now;
    FetchLastRead(recordNumber, now);
    for (size_t a = 0; a < now.LastRead.size(); ++a)
        if (edited.LastRead[a] != original.LastRead[a]) now.LastRead[a] = edited.LastRead[a];
    return StoreLastRead(recordNumber, now);
}

std::vector<int32_t> CallersOnLine() {
    std::vector<OnlineCaller> callers;
    std::vector<int32_t> out;
    if (!ListOnlineCallers(callers)) return out;
    for (const OnlineCaller& c : callers) out.push_back(c.Entry.User);
    return out;
}

const char* ColumnHeader(int layout) {
    static const char* const kHeaders[] = {
        " . Name .................. Level ... Calls . Date ... Time ... Credit ..... ",
        " . Name .................. U/L K . U/L S . D/L K . D/L S . Read .. Posted . ",
        " . Name .................. Level .. Flag A .. Flag B .. Flag C .. Flag D .. ",
        " . Name .................. S/L . Del Cls Brk Ans Ign Edi Dis Hot TdK . TdM .",
        " . Name .................. Location ........ Data .......... Home ..........",
    };
    return kHeaders[layout >= 0 && layout < 5 ? layout : 0];
}

ListRow FormatListRow(bool marked, const UserRecord& r, int layout) {
    ListRow row;
    row.marked = marked;
    row.deleted = (r.Options & USER_DELETED) != 0;
    std::string& t = row.text;
    t.assign(76, ' ');
    // Each field is cut to its column: it never runs into the next one.
    struct Cell {
        int col;
        std::string text;
    };
    std::vector<Cell> cells;
    auto n = [](long v) { return fmt::sprintf("%ld", v); };
    auto yes = [&](bool on) { return std::string(on ? "Yes" : "No "); };
    switch (layout) {
    case 1:
        cells = {{27, n(r.UploadedKb)}, {35, n(r.UploadedFiles)}, {43, n(r.DownloadedKb)},
                 {51, n(r.DownloadedFiles)}, {59, n(r.HighestRead)}, {67, n(r.MessagesPosted)}};
        break;
    case 2:
        cells = {{27, n(r.SecurityLevel)}};
        for (int g = 0; g < 4; ++g) {
            std::string bits;
            for (int b = 0; b < 8; ++b) bits += (r.Flags[size_t(g)] & (1 << b)) ? '1' : '0';
            cells.push_back({36 + 10 * g, bits});
        }
        break;
    case 3: {
        cells = {{27, fmt::sprintf("%d", int(r.ScreenLength))}};
        for (int i = 0; i < 8; ++i) cells.push_back({33 + 4 * i, yes(HasOption(r, i))});
        cells.push_back({65, n(r.TodayKb)});
        cells.push_back({71, n(r.MinutesToday)});
        break;
    }
    case 4:
        cells = {{27, r.Location.substr(0, 17)}, {45, r.DataPhone.substr(0, 15)}, {61, r.HomePhone.substr(0, 15)}};
        break;
    default:
        cells = {{27, n(r.SecurityLevel)}, {37, n(r.TotalCalls)}, {45, r.LastCallDate.substr(0, 8)},
                 {54, r.LastCallTime.substr(0, 8)}, {63, n(r.Credit)}};
        break;
    }
    cells.insert(cells.begin(), Cell{3, r.Name.substr(0, 23)});
    for (size_t i = 0; i < cells.size(); ++i) {
        int end = i + 1 < cells.size() ? cells[i + 1].col - 1 : 76;
        std::string text = cells[i].text.substr(0, size_t(std::max(0, end - cells[i].col)));
        t.replace(size_t(cells[i].col), text.size(), text);
    }
    return row;
}

void TrimClearScreenCodes(UserRecord& r) {
    if (r.ClearScreenLength > r.ClearScreenCodes.size()) r.ClearScreenLength = uint8_t(r.ClearScreenCodes.size());
    for (size_t i = r.ClearScreenLength; i < r.ClearScreenCodes.size(); ++i) r.ClearScreenCodes[i] = 0;
}

std::string CurrentLineText(int pos, const UserRecord& r, bool showPassword, int& passwordAt) {
    passwordAt = 28;
    return fmt::sprintf(" %-5ld %-20.20s %-20.16s %-25.25s", long(pos), r.Name, showPassword ? r.Password : "",
                        r.Location);
}

std::string SuggestAlias(const std::string& name) {
    std::string s;
    size_t blank = name.find(' ');
    if (blank == std::string::npos) s = name.substr(0, 8);
    else s = name.substr(0, 1) + name.substr(blank + 1, 7);
    return LowerCase(s);
}

float AmountFromText(const std::string& typed) {
    double v = std::strtod(typed.c_str(), nullptr);
    // Written so that NaN, which compares false with everything, gives 0.
    if (!(v > 0)) return 0;
    return float(std::min(v, 99999.99));
}

int AliasOwner(const UserBase& base, const std::string& alias, int ownPosition) {
    std::string want = alias;
    LowerCase(want);
    for (int i = 0; i < base.count(); ++i) {
        if (i == ownPosition) continue;
        std::string key(KeyText(base.index()[size_t(i)].Key));
        if (LowerCase(key) == want) return i;
    }
    return -1;
}

}  // namespace kv::roster

// The user files as kvroster sees them, apart from the screen: the record
// count, the in-memory index with its keys, the list rows of the five
// browse layouts, and the write-back of an edited record.
//
// kvroster keeps no user file open: every access goes through common's
// by-path functions (ReadUserRecord, WriteUserRecord, LastReadIO), so a
// file renamed into place by a rewrite is simply the file read next.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/lastread.h"
#include "common/user_record.h"

namespace kv::roster {

inline constexpr size_t kKeySize = 36;
// A key in place in its entry: a board of 100,000 users would otherwise
// make 100,000 small allocations for its index alone.
using KeyBytes = std::array<char, kKeySize>;

struct IndexEntry {
    uint8_t Marked = 0;        // marked by the sysop, in memory only
    int32_t RecordNumber = 0;  // record in "users.bbs" (the user number)
    KeyBytes Key{};            // a text (ended by a zero byte) or a binary number
};

// The key types of FillIndexKeys: 0 and 1 the name, 2 location, 3 password,
// 4 data phone, 5 home phone, 6 last-call date (byte 9) and time (byte 18),
// 7 the four flag bytes, 8 level, 9 calls, 10 uploaded files, 11 uploaded
// kilobytes, 12 downloaded files, 13 downloaded kilobytes, 14 highest read,
// 15 posted, 16 alias.  Numbers are int32 in key bytes 0-3.
enum KeyType { kKeyName = 1, kKeyLocation = 2, kKeyDate = 6, kKeyLevel = 8, kKeyCalls = 9, kKeyPosted = 15,
               kKeyAlias = 16 };
// Sets the key of one record for a key type; other types leave it alone.
void SetKey(KeyBytes& key, int type, const UserRecord& r);
int32_t KeyNumber(const KeyBytes& key);
// The text of a key from byte at (0 for the text keys).
std::string_view KeyText(const KeyBytes& key, size_t at = 0);

// The names of the records by record number, in one block of text rather
// than a string each.
class NameTable {
public:
    void push_back(std::string_view name) {
        text_.append(name);
        ends_.push_back(uint32_t(text_.size()));
    }
    std::string_view operator[](size_t n) const {
        size_t from = n == 0 ? 0 : ends_[n - 1];
        return std::string_view(text_).substr(from, ends_[n] - from);
    }
    size_t size() const { return ends_.size(); }
    // Room for n names of about 16 bytes: a table that grew by copying
    // itself would touch its memory twice over.
    void reserve(size_t n) {
        ends_.reserve(n);
        text_.reserve(n * 16);
    }
    void clear() {
        text_.clear();
        ends_.clear();
    }

private:
    std::string text_;
    std::vector<uint32_t> ends_;
};

class UserBase {
public:
    // Records in "users.bbs" (its size / 412, 0 when missing or empty).
    int CountUserRecords();
    int records() const { return records_; }

    // One entry per record in file order, keys the names.  False (logged)
    // when the file cannot be read whole.
    bool BuildIndex();
    // Records appended since the count (callers registering meanwhile):
    // counted again and given index entries at the end.  Every command that
    // writes calls it first, so nobody new is dropped or overwritten.
    void TakeInNewRecords();
    // Keys of key type `type` (+1 when forSearch) for every entry; with
    // names, every record's name by record number from the same pass.
    bool FillIndexKeys(int type, bool forSearch, NameTable* names = nullptr);
    int keyType() const { return keyType_; }

    std::vector<IndexEntry>& index() { return index_; }
    const std::vector<IndexEntry>& index() const { return index_; }
    int count() const { return int(index_.size()); }

    bool FetchUserRecord(int recordNumber, UserRecord& r) const;
    // The record of index position pos.
    bool FetchAt(int pos, UserRecord& r) const;

    // Writes an edited record back.  Under the users lock the record is read
    // again; a field that the sysop did not change (edited equals original)
    // takes the value now on disk, so a caller's log-off written while the
    // sysop edited is kept.  False when the record cannot be read or written.
    bool WriteBack(int recordNumber, const UserRecord& original, const UserRecord& edited);

    // Last-read records: a record past the end of "lastread.bbs" reads as
    // zeros; a write extends the file as far as needed.
    bool FetchLastRead(int recordNumber, LastReadRecord& r) const;
    bool StoreLastRead(int recordNumber, const LastReadRecord& r) const;
    // Writes the areas the sysop changed (edited differs from original)
    // into the record as it is now, so that numbers a caller's log-off
    // wrote meanwhile in the other areas are kept.
    bool WriteBackLastRead(int recordNumber, const LastReadRecord& original, const LastReadRecord& edited) const;

private:
    std::vector<IndexEntry> index_;
    int records_ = 0;
    int keyType_ = kKeyName;
};

// The field-by-field merge of WriteBack, for a test to see it alone.
UserRecord MergeEdits(const UserRecord& onDisk, const UserRecord& original, const UserRecord& edited);

// The record numbers of the callers on line now.
std::vector<int32_t> CallersOnLine();

// The option bits in the order the screens show them: "Del Cls Brk Ans
// Ign Edi Dis Hot Esc".
struct OptionBit {
    uint8_t UserRecord::*byte;
    uint8_t mask;
};
inline constexpr OptionBit kOptionBits[9] = {
    {&UserRecord::Options, USER_DELETED},       {&UserRecord::Options, USER_CLEAR_SCREEN},
    {&UserRecord::Options, USER_PAGE_BREAK},    {&UserRecord::Options, USER_ANSI},
    {&UserRecord::Options, USER_IGNORE_LIMITS}, {&UserRecord::Options, USER_FULL_EDITOR},
    {&UserRecord::Options, USER_NO_DISTURB},    {&UserRecord::Options2, USER_HOT_KEYS},
    {&UserRecord::Options2, USER_NO_ESCAPES},
};
inline bool HasOption(const UserRecord& r, int i) { return (r.*kOptionBits[i].byte & kOptionBits[i].mask) != 0; }

// The clear-screen sequence as the form shows it: a length above the
// 15-byte field is cut to 15, and every byte at or beyond the length is
// cleared, since it is not part of the sequence.
void TrimClearScreenCodes(UserRecord& r);

// What the list shows.
struct ListRow {
    bool marked = false, deleted = false;  // the check and phi glyphs, columns 1 and 2
    std::string text;                      // 76 columns, blanks where the glyphs go
};
ListRow FormatListRow(bool marked, const UserRecord& r, int layout);
const char* ColumnHeader(int layout);
// " %-5ld %-20.20s %-20.16s %-25.25s"; the password left blank when it is
// not shown (the screen draws its mask there), passwordAt tells where.
std::string CurrentLineText(int pos, const UserRecord& r, bool showPassword, int& passwordAt);

// The alias the extended screen offers for a record without one: the
// first letter of the name and up to 7 after its first blank, or the first
// 8 characters of a one-word name, in lower case.
std::string SuggestAlias(const std::string& name);

// The amount paid as typed on the extended screen, within 0..99999.99; a
// text that is no number ("nan" among them) gives 0.
float AmountFromText(const std::string& typed);
// The index position of another record whose alias key equals alias
// (lower case), or -1.  Keys must be alias keys.
int AliasOwner(const UserBase& base, const std::string& alias, int ownPosition);

}  // namespace kv::roster

// The user database "users.bbs" in DataDir: record access, appending, the
// searches over it, the new-user record and the password rules.
//
// Every program that touches the file uses these functions; they open the
// file by path for each operation and work in the configuration that
// Config() gives.  A failure is logged once, here, through the program's
// log writer; the functions report it by their result.
//
// Appends and whole-file rewrites of "users.bbs" are serialised by one real
// lock (UsersFileLock): a new user's number is the place where the record
// landed, read while the lock is held, so two registrations at once get two
// numbers.  A plain rewrite of one record by number needs no lock.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "common/user_record.h"

namespace kv {

constexpr const char* kUsersFile = "users.bbs";
constexpr const char* kUsersLockFile = "users.lck";   // in DataDir beside it
constexpr const char* kPasswordTrashFile = "pwdtrash.ctl";

std::string UsersPath();

// Holds the lock of "users.bbs" (LockRegion over "users.lck", a file that
// nothing renames) from construction, waiting for another holder, until
// Release or destruction.  kvroster's pack, sort and move hold it across
// their rewrite.  It does not nest: AppendUserRecord takes it itself.
class UsersFileLock {
public:
    UsersFileLock();
    ~UsersFileLock();
    UsersFileLock(const UsersFileLock&) = delete;
    UsersFileLock& operator=(const UsersFileLock&) = delete;
    bool held() const { return fd_ >= 0; }
    // Logs text 728 when the lock cannot be given back.
    bool Release();

private:
    int fd_ = -1;
};

// Visits the records from record 0 in order while visit returns true.
// False when the file cannot be opened or read; a record cut short at the
// end is logged and ends the walk.
using UserVisitor = std::function<bool(int number, const UserRecord& r)>;
bool ScanUsers(const UserVisitor& visit);
// The same walk over each record's bytes, for a reader that needs a few
// fields of every record (GetField, TextFieldEquals) and no decoded copy.
using UserBytesVisitor = std::function<bool(int number, const uint8_t* record)>;
bool ScanUserBytes(const UserBytesVisitor& visit);

// The number of the first record whose name equals name exactly, read into
// record; -1 when there is none (record cleared).  An unreadable file logs
// text 60 and counts as not found.
int FindUser(std::string_view name, UserRecord& record);

// Whether a record's name (mode 0) or alias (mode 1) equals text.  An
// unreadable file logs text 61 and counts as not found.
enum UserKey { kByName = 0, kByAlias = 1 };
bool UserExists(std::string_view text, int mode);

// Record n; false (logged) when it cannot be read whole.
bool ReadUserRecord(int n, UserRecord& record);
// Rewrites record n in place.  Refused (logged) for a number below 0 (a
// failed append's -1 must never land on the sysop's record 0) and for a
// record the file does not hold yet: new records only come by appending.
bool WriteUserRecord(int n, const UserRecord& record);
// Appends the record under the lock; its user number, or -1 (logged).
int AppendUserRecord(const UserRecord& record);
// A new user's append: the name (and the alias, when there is one) is
// looked for again under the lock, so that two lines registering one name
// at once make one record.  kNameTaken when another record holds it.
constexpr int kNameTaken = -2;
int AppendNewUser(const UserRecord& record);

// Records in the file (0 when it is empty or missing), and the last number.
int UpdateUserCount();
int LastUserNumber();

// Among records 0 to count - 1, the first whose data or home phone equals
// either phone; empty phones never match.  -1 when none.
int FindPhoneOwner(int count, std::string_view phone1, std::string_view phone2);

// A record with no trace of a previous user: all zeros, the blank name,
// location and password, every message area selected for scanning and no
// end of subscription ("00/00/00").
void ClearUserRecord(UserRecord& record);

// An area test of the caller program (may the caller in the record use area
// n), for the area searches below.
using AreaTest = std::function<bool(int area)>;

// The configuration's new-user values and today as the last call.  The
// current areas are the first that the tests grant; they run after level
// and flags are set, so a test that looks at record sees the new user.
void SetNewUserDefaults(UserRecord& record, const AreaTest& canReadMsgArea, const AreaTest& canUseFileArea);

// From start, upward (direction 0) or downward (1), the first area the test
// grants; when none and not yet wrapped, once more from the first (upward)
// or last (downward) area.  None at all: the start of the last search,
// kept inside the areas.
int NextMessageArea(int start, int direction, bool wrapped, const AreaTest& canRead);
int NextFileArea(int start, int direction, bool wrapped, const AreaTest& canUse);

// Passwords are capitalised like names before they are stored or compared,
// so case does not matter when they are typed.
std::string CapitalizePassword(std::string_view typed);
bool PasswordMatches(const UserRecord& record, std::string_view typed);

// Whether a new password may be used by the caller of that name: not the
// first or the second word of the name, nor the whole name, nor a word of
// "pwdtrash.ctl" in DataDir.  The words compare as capitalised passwords.
bool PasswordAllowed(std::string_view password, std::string_view name);

// The whole test of a new password: long enough for MinPasswordLength, and
// with CheckPasswords set also PasswordAllowed.
enum class PasswordVerdict { kAllowed, kTooShort, kRefused };
PasswordVerdict CheckNewPassword(std::string_view password, std::string_view name);

// The end of a call: the call's start as the last call, one call more today
// and in all, the call's whole minutes added to today's, the highest message
// number read, and with PasswordChangeCalls one call more since the password
// changed; then the record is written at its number.  A failed write logs
// text 73 with the caller's name.  The caller's last-read record is the
// caller program's to write.
struct CallSummary {
    time_t logonTime = 0;     // when the call started
    int32_t highestRead = 0;  // highest message number read in the call
};
bool UpdateUserAtLogoff(UserRecord& record, int userNumber, const CallSummary& call);

}  // namespace kv

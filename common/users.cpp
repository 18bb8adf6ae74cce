#include "common/users.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/dates.h"
#include "common/msgbase.h"
#include "common/msgbase_swap.h"
#include "common/msgbase_texts.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/textfmt.h"
#include "common/trash_words.h"
#include "common/whole_file.h"

namespace kv {
namespace {

constexpr off_t kRecord = off_t(kUserRecordSize);

template <class... Args>
void LogLine(const char* format, const Args&... args) {
    LogService(fmt::sprintf(format, args...));
}

// Empty while no DataDir is configured: opening "" fails, so nothing lands
// in the root directory.
std::string DataPath(const char* file) {
    const std::string& dir = Config().DataDir;
    return dir.empty() ? std::string() : dir + "/" + file;
}

// Names and passwords are compared capitalised like names.
std::string CapitalizedName(std::string_view s) {
    std::string out(s);
    return CapitalizeName(out);
}

// Reads up to n bytes at offset, retrying short reads; the count read, or
// -1 on an error.
ssize_t ReadAt(int fd, uint8_t* p, size_t n, off_t at) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = pread(fd, p + got, n - got, at + off_t(got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += size_t(r);
    }
    return ssize_t(got);
}

bool WriteAll(int fd, const uint8_t* p, size_t n, off_t at, bool append) {
    size_t done = 0;
    while (done < n) {
        ssize_t w = append ? write(fd, p + done, n - done) : pwrite(fd, p + done, n - done, at + off_t(done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += size_t(w);
    }
    return true;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

void LogCutShort(const std::string& path, int n, size_t got) {
    LogLine("%s: record %d is cut short (%d of %d bytes)", path, n, int(got), int(kUserRecordSize));
}

// The walk behind the searches: each whole record's bytes in order while
// visit returns true; on failure err tells why.  A search looks at the
// fields it compares (TextFieldEquals) and decodes only the record it
// finds.
bool ScanRaw(const UserBytesVisitor& visit, int& err) {
    std::string path = UsersPath();
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        err = errno;
        return false;
    }
    // A batch of records per call; a user file is read whole often.
    constexpr size_t kBatch = 256;
    std::vector<uint8_t> buf(kBatch * kUserRecordSize);
    off_t at = 0;
    int number = 0;
    for (;;) {
        ssize_t got = ReadAt(fd.get(), buf.data(), buf.size(), at);
        if (got < 0) {
            err = errno;
            return false;
        }
        size_t whole = size_t(got) / kUserRecordSize;
        for (size_t i = 0; i < whole; ++i, ++number)
            if (!visit(number, buf.data() + i * kUserRecordSize)) return true;
        if (size_t(got) % kUserRecordSize != 0) {
            LogCutShort(path, number, size_t(got) % kUserRecordSize);
            return true;
        }
        if (size_t(got) < buf.size()) return true;
        at += off_t(got);
    }
}

bool Scan(const UserVisitor& visit, int& err) {
    return ScanRaw([&](int n, const uint8_t* p) { return visit(n, DecodeUserRecord(p)); }, err);
}

int NextArea(int start, int direction, bool wrapped, int count, const AreaTest& test) {
    for (;;) {
        if (direction == 0) {
            for (int a = std::max(start, 0); a < count; ++a)
                if (test(a)) return a;
        } else {
            for (int a = std::min(start, count - 1); a >= 0; --a)
                if (test(a)) return a;
        }
        if (wrapped) break;
        wrapped = true;
        start = direction == 0 ? 0 : count - 1;
    }
    // A start just past either end (the area after the last) must not become
    // somebody's current area.
    return std::clamp(start, 0, count - 1);
}

// Called with the users lock held.
void RemoveLeftCopies() {
    // A rewrite killed before its journal left its copy of the users, every
    // password in it; nobody writes one while the lock is held here.  A
    // copy that a pending swap still moves in is the swap's.  The directory
    // is read again only once it has changed: a global edit takes the lock
    // once per user.
    static timespec seen{};
    const std::string& dir = Config().DataDir;
    struct stat st {};
    if (dir.empty() || stat(dir.c_str(), &st) != 0) return;
    if (st.st_mtim.tv_sec == seen.tv_sec && st.st_mtim.tv_nsec == seen.tv_nsec) return;
    bool pending = false;
    for (const std::string& left : TempFilesBeside(dir, {kUsersFile})) {
        if (PendingSwapNames(left)) pending = true;
        else if (unlink(left.c_str()) == 0) LogLine("Removed %s, left by an interrupted rewrite", left);
    }
    // Looked at again next time while a swap still holds one.
    if (!pending) seen = st.st_mtim;
}

}  // namespace

std::string UsersPath() { return DataPath(kUsersFile); }

UsersFileLock::UsersFileLock() {
    std::string path = DataPath(kUsersLockFile);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    if (fd < 0) {
        LogLine("Cannot open the lock file %s: %s", path, std::strerror(errno));
        return;
    }
    if (!LockRegion(fd, 1, 0, 0)) {
        LogLine("Cannot lock %s: %s", path, std::strerror(errno));
        close(fd);
        return;
    }
    fd_ = fd;
    RemoveLeftCopies();
}

UsersFileLock::~UsersFileLock() { Release(); }

bool UsersFileLock::Release() {
    if (fd_ < 0) return true;
    bool ok = LockRegion(fd_, 0, 0, 0);
    if (!ok) ReportText(728, DataPath(kUsersLockFile), std::strerror(errno));
    // Closing gives the lock back in any case.
    close(fd_);
    fd_ = -1;
    return ok;
}

bool ScanUsers(const UserVisitor& visit) {
    int err = 0;
    if (Scan(visit, err)) return true;
    LogLine("Cannot read %s: %s", UsersPath(), std::strerror(err));
    return false;
}

bool ScanUserBytes(const UserBytesVisitor& visit) {
    int err = 0;
    if (ScanRaw(visit, err)) return true;
    LogLine("Cannot read %s: %s", UsersPath(), std::strerror(err));
    return false;
}

int FindUser(std::string_view name, UserRecord& record) {
    int found = -1, err = 0;
    bool ok = ScanRaw(
        [&](int n, const uint8_t* p) {
            if (!TextFieldEquals<&UserRecord::Name>(p, name)) return true;
            record = DecodeUserRecord(p);
            found = n;
            return false;
        },
        err);
    if (!ok) ReportText(60, UsersPath(), std::strerror(err));
    if (found < 0) ClearUserRecord(record);
    return found;
}

bool UserExists(std::string_view text, int mode) {
    bool found = false;
    int err = 0;
    bool ok = ScanRaw(
        [&](int, const uint8_t* p) {
            found = mode == kByAlias ? TextFieldEquals<&UserRecord::Alias>(p, text)
                                     : TextFieldEquals<&UserRecord::Name>(p, text);
            return !found;
        },
        err);
    if (!ok) ReportText(61, UsersPath(), std::strerror(err));
    return found;
}

bool ReadUserRecord(int n, UserRecord& record) {
    std::string path = UsersPath();
    if (n < 0) {
        LogLine("%s: no user record %d", path, n);
        return false;
    }
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    UserBytes bytes{};
    ssize_t got = fd.get() < 0 ? -1 : ReadAt(fd.get(), bytes.data(), bytes.size(), off_t(n) * kRecord);
    if (got < 0) {
        LogLine("Cannot read record %d of %s: %s", n, path, std::strerror(errno));
        return false;
    }
    if (got == 0) {
        LogLine("%s: no user record %d", path, n);
        return false;
    }
    if (size_t(got) < bytes.size()) {
        LogCutShort(path, n, size_t(got));
        return false;
    }
    record = DecodeUserRecord(bytes.data());
    return true;
}

bool WriteUserRecord(int n, const UserRecord& record) {
    std::string path = UsersPath();
    if (n < 0) {
        LogLine("Refusing to write user record %d of %s", n, path);
        return false;
    }
    Fd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
        LogLine("Cannot write record %d of %s: %s", n, path, std::strerror(errno));
        return false;
    }
    // Writing past the end would leave a gap of zeroed "users" behind.
    if (off_t(n + 1) * kRecord > st.st_size) {
        LogLine("Refusing to write user record %d of %s, which holds %d records", n, path,
                int(st.st_size / kRecord));
        return false;
    }
    UserBytes bytes = EncodeUserRecord(record);
    if (!WriteAll(fd.get(), bytes.data(), bytes.size(), off_t(n) * kRecord, false)) {
        LogLine("Cannot write record %d of %s: %s", n, path, std::strerror(errno));
        return false;
    }
    return true;
}

namespace {

// The append itself; the caller holds the lock.
int AppendLocked(const UserRecord& record) {
    std::string path = UsersPath();
    Fd fd(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0660));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
        LogLine("Cannot append to %s: %s", path, std::strerror(errno));
        return -1;
    }
    // A torn last record would shift every later user off their number.
    if (st.st_size % kRecord != 0) {
        LogLine("%s: size %d is not a whole number of records; no user appended", path, int(st.st_size));
        return -1;
    }
    UserBytes bytes = EncodeUserRecord(record);
    if (!WriteAll(fd.get(), bytes.data(), bytes.size(), 0, true)) {
        int err = errno;
        // Leave the file whole rather than with half a record at its end.
        LogLine("Cannot append to %s: %s", path, std::strerror(err));
        if (ftruncate(fd.get(), st.st_size) != 0)
            LogLine("Cannot cut %s back to %d bytes: %s", path, int(st.st_size), std::strerror(errno));
        return -1;
    }
    // The number is where the record landed.
    off_t end = lseek(fd.get(), 0, SEEK_CUR);
    if (end < kRecord || end % kRecord != 0) {
        LogLine("%s: appended record landed at byte %d, not on a record boundary", path, int(end - kRecord));
        return -1;
    }
    return int(end / kRecord) - 1;
}

}  // namespace

int AppendUserRecord(const UserRecord& record) {
    UsersFileLock lock;
    if (!lock.held()) return -1;
    return AppendLocked(record);
}

int AppendNewUser(const UserRecord& record) {
    UsersFileLock lock;
    if (!lock.held()) return -1;
    bool taken = false;
    int err = 0;
    bool read = ScanRaw(
        [&](int, const uint8_t* p) {
            taken = TextFieldEquals<&UserRecord::Name>(p, record.Name) ||
                    (!record.Alias.empty() && TextFieldEquals<&UserRecord::Alias>(p, record.Alias));
            return !taken;
        },
        err);
    // No file yet: the first user has nobody to clash with.
    if (!read && err != ENOENT) {
        LogLine("Cannot read %s: %s", UsersPath(), std::strerror(err));
        return -1;
    }
    if (taken) return kNameTaken;
    return AppendLocked(record);
}

int UpdateUserCount() {
    struct stat st {};
    if (stat(UsersPath().c_str(), &st) != 0) return 0;
    return int(st.st_size / kRecord);
}

int LastUserNumber() { return UpdateUserCount() - 1; }

int FindPhoneOwner(int count, std::string_view phone1, std::string_view phone2) {
    int owner = -1;
    // An empty number is nobody's, and matches no empty field.
    auto holds = [](const uint8_t* p, std::string_view phone) {
        return !phone.empty() && (TextFieldEquals<&UserRecord::DataPhone>(p, phone) ||
                                  TextFieldEquals<&UserRecord::HomePhone>(p, phone));
    };
    ScanUserBytes([&](int n, const uint8_t* p) {
        if (n >= count) return false;
        if (holds(p, phone1) || holds(p, phone2)) {
            owner = n;
            return false;
        }
        return true;
    });
    return owner;
}

void ClearUserRecord(UserRecord& record) {
    record = UserRecord{};
    record.ScanAreas.fill(0xFF);
    record.SubscriptionEnd = "00/00/00";
}

void SetNewUserDefaults(UserRecord& record, const AreaTest& canReadMsgArea, const AreaTest& canUseFileArea) {
    const ConfigRecord& c = Config();
    record.LastCallDate = DateString();
    record.LastCallTime = TimeString();
    if (c.NewUserHotKeys) record.Options2 |= USER_HOT_KEYS;
    record.Flags = c.NewUserFlagGroups;
    record.Credit = c.NewUserCredit;
    record.SecurityLevel = c.NewUserLevel;
    record.CallsToday = 0;
    record.MinutesToday = 0;
    record.TotalCalls = 0;
    record.MsgArea = int16_t(NextMessageArea(0, 0, false, canReadMsgArea));
    record.FileArea = int16_t(NextFileArea(0, 0, false, canUseFileArea));
}

int NextMessageArea(int start, int direction, bool wrapped, const AreaTest& canRead) {
    return NextArea(start, direction, wrapped, kMsgAreaCount, canRead);
}

int NextFileArea(int start, int direction, bool wrapped, const AreaTest& canUse) {
    return NextArea(start, direction, wrapped, kFileAreaCount, canUse);
}

std::string CapitalizePassword(std::string_view typed) { return CapitalizedName(typed); }

bool PasswordMatches(const UserRecord& record, std::string_view typed) {
    // The stored side too: a password set by hand in the editor may not be.
    return CapitalizePassword(typed) == CapitalizePassword(record.Password);
}

bool PasswordAllowed(std::string_view password, std::string_view name) {
    std::string p = CapitalizePassword(password);
    size_t blank = name.find(' ');
    std::string first = CapitalizedName(name.substr(0, blank));
    std::string second = blank == std::string_view::npos ? std::string() : CapitalizedName(name.substr(blank + 1));
    if (p == first || p == CapitalizedName(name) || (!second.empty() && p == second)) return false;
    return !IsTrashWord(kTrashPasswords, p);
}

PasswordVerdict CheckNewPassword(std::string_view password, std::string_view name) {
    const ConfigRecord& c = Config();
    if (password.size() < c.MinPasswordLength) return PasswordVerdict::kTooShort;
    if (c.CheckPasswords && !PasswordAllowed(password, name)) return PasswordVerdict::kRefused;
    return PasswordVerdict::kAllowed;
}

bool UpdateUserAtLogoff(UserRecord& record, int userNumber, const CallSummary& call) {
    std::tm start{};
    localtime_r(&call.logonTime, &start);
    record.LastCallDate = FormatDate(start);
    record.LastCallTime = FormatTime(start);
    record.CallsToday = uint16_t(record.CallsToday + 1);
    int32_t minutes = std::max<int32_t>(SecondsSince(call.logonTime), 0) / 60;
    record.MinutesToday = int16_t(record.MinutesToday + minutes);
    record.TotalCalls += 1;
    record.HighestRead = call.highestRead;
    if (Config().PasswordChangeCalls != 0) record.PasswordCalls += 1;
    if (WriteUserRecord(userNumber, record)) return true;
    ReportText(73, record.Name);
    return false;
}

}  // namespace kv

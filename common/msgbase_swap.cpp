#include "common/msgbase_swap.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fmt/format.h>
#include <set>
#include <sstream>
#include <utility>

#include "common/files.h"
#include "common/msgbase.h"
#include "common/record_io.h"
#include "common/runtime.h"
#include "common/users.h"
#include "common/whole_file.h"

namespace kv {
namespace {

constexpr const char* kJournalMagic = "kvswap 1";

void LogErrno(std::string_view what, const std::string& path, int err) {
    LogService(fmt::format("Message base: cannot {} {}: {}", what, path, std::strerror(err)));
}

std::string DirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncDirectory(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// A path the journal can hold: one per field, fields split at tabs and
// lines at line feeds.
bool Journalable(const std::string& path) { return path.find_first_of("\t\n") == std::string::npos; }

struct Journal {
    std::vector<SwapStep> steps;
    std::string userFixes;
};

std::string EncodeJournal(const Journal& j) {
    std::string out = std::string(kJournalMagic) + "\n";
    for (const SwapStep& s : j.steps) out += "swap\t" + s.fresh + "\t" + s.target + "\t" + s.backup + "\n";
    if (!j.userFixes.empty()) out += "users\t" + j.userFixes + "\n";
    out += "end\n";
    return out;
}

// False for a journal that is not whole: it was renamed into place only
// after it was synced, so that means somebody else's file, left alone.
bool DecodeJournal(const std::string& text, Journal& j) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kJournalMagic) return false;
    while (std::getline(in, line)) {
        if (line == "end") return true;
        std::vector<std::string> f;
        size_t at = 0;
        for (;;) {
            size_t tab = line.find('\t', at);
            f.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
            if (tab == std::string::npos) break;
            at = tab + 1;
        }
        if (f[0] == "swap" && f.size() == 4) {
            j.steps.push_back({f[1], f[2], f[3]});
        } else if (f[0] == "users" && f.size() == 2) {
            j.userFixes = f[1];
        } else {
            return false;
        }
    }
    return false;
}

std::string ReadJournal(const std::string& path) {
    std::string text;
    if (int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
        ::close(fd);
    }
    return text;
}

// One step, again from wherever a crash stopped it: while the fresh file
// is there, the target is still the old one (or already moved to backup).
bool CarryOutStep(const SwapStep& s) {
    if (!Exists(s.fresh)) return true;
    if (!s.backup.empty()) {
        CrashPoint("swap");
        if (::rename(s.target.c_str(), s.backup.c_str()) != 0 && errno != ENOENT) {
            LogErrno("keep the old version of", s.target, errno);
            return false;
        }
    }
    CrashPoint("swap");
    if (::rename(s.fresh.c_str(), s.target.c_str()) != 0) {
        LogErrno(fmt::format("rename {} to", s.fresh), s.target, errno);
        return false;
    }
    return true;
}

// Setting a number is the same however often it is done; the file goes
// only once every fix is in.
bool ApplyUserFixes(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        LogErrno("open", path, errno);
        return false;
    }
    std::string bytes;
    char buf[64 * 1024];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) bytes.append(buf, size_t(n));
    int err = errno;
    ::close(fd);
    if (n < 0) {
        LogErrno("read", path, err);
        return false;
    }
    bool ok = true;
    for (size_t at = 0; at + HighestReadFix::kSize <= bytes.size(); at += HighestReadFix::kSize) {
        HighestReadFix fix;
        DecodeRecord(reinterpret_cast<const uint8_t*>(bytes.data() + at), fix);
        const auto [user, highest] = std::pair(fix.user, fix.highest);
        UserRecord u;
        if (!ReadUserRecord(user, u)) {
            ok = false;
            continue;
        }
        if (u.HighestRead == highest) continue;
        CrashPoint("users");
        u.HighestRead = highest;
        if (!WriteUserRecord(user, u)) ok = false;
    }
    if (ok && ::unlink(path.c_str()) != 0 && errno != ENOENT) LogErrno("remove", path, errno);
    return ok;
}

bool CarryOut(const Journal& j, const std::string& journalPath) {
    std::set<std::string> dirs;
    for (const SwapStep& s : j.steps) {
        if (!CarryOutStep(s)) return false;
        dirs.insert(DirOf(s.target));
    }
    for (const std::string& d : dirs) SyncDirectory(d);
    if (!j.userFixes.empty() && !ApplyUserFixes(j.userFixes)) return false;
    CrashPoint("swap");
    // The renames are on disk (synced above); should the removal of the
    // journal be lost in a crash, carrying it out again changes nothing.
    if (::unlink(journalPath.c_str()) != 0 && errno != ENOENT) {
        LogErrno("remove", journalPath, errno);
        return false;
    }
    return true;
}

}  // namespace

std::string WriteHighestReadFixes(const std::string& dir, const std::vector<HighestReadFix>& fixes) {
    std::string bytes(fixes.size() * HighestReadFix::kSize, '\0');
    for (size_t i = 0; i < fixes.size(); ++i)
        EncodeRecord(fixes[i], reinterpret_cast<uint8_t*>(bytes.data() + i * HighestReadFix::kSize));
    // Synced under its temporary name: the journal names it as it is.
    std::string why;
    TempFile tmp = MakeTempBeside(dir + "/highread.fix", &why);
    if (tmp.fd >= 0 && (!WriteFully(tmp.fd, bytes) || ::fsync(tmp.fd) != 0 || ::close(std::exchange(tmp.fd, -1)) != 0)) {
        why = fmt::format("cannot write {}: {}", tmp.path, std::strerror(errno));
        DiscardTemp(tmp);
    }
    if (tmp.path.empty()) {
        LogService("Message base: " + why);
        return {};
    }
    return tmp.path;
}

bool CommitBaseSwap(const std::vector<SwapStep>& steps, const std::string& userFixes) {
    std::string path = MsgBasePath(kSwapJournalFile);
    if (path.empty()) return false;
    Journal j{steps, userFixes};
    for (const SwapStep& s : steps)
        for (const std::string* p : {&s.fresh, &s.target, &s.backup})
            if (!Journalable(*p)) {
                LogService(fmt::format("Message base: cannot journal the path {}", *p));
                return false;
            }
    if (!Journalable(userFixes)) return false;
    std::string why;
    CrashPoint("swap");
    if (!WriteFileWhole(path, EncodeJournal(j), &why)) {
        LogService("Message base: " + why);
        return false;
    }
    SyncDirectory(DirOf(path));
    // Done, whatever happens from here: the next holder of the lock
    // finishes what this process cannot.
    if (!CarryOut(j, path)) LogService(fmt::format("Message base: the swap in {} is left for the next run", path));
    return true;
}

bool CompletePendingSwap() {
    std::string path = MsgBasePath(kSwapJournalFile);
    if (path.empty() || !Exists(path)) return true;
    std::string text = ReadJournal(path);
    Journal j;
    if (!DecodeJournal(text, j)) {
        LogService(fmt::format("Message base: {} is not a journal this system wrote; the base stays locked", path));
        return false;
    }
    if (!CarryOut(j, path)) {
        LogService(fmt::format("Message base: cannot finish the swap that {} names", path));
        return false;
    }
    LogService(fmt::format("Message base: finished the swap of {} file(s) that an interrupted run left",
                           j.steps.size()));
    return true;
}

bool PendingSwapNames(const std::string& path) {
    std::string journal = MsgBasePath(kSwapJournalFile);
    if (journal.empty() || !Exists(journal)) return false;
    Journal j;
    if (!DecodeJournal(ReadJournal(journal), j)) return true;
    for (const SwapStep& s : j.steps)
        if (s.fresh == path) return true;
    return j.userFixes == path;
}

void CrashPoint(const char* name) {
    // Read each time: a test sets it in a forked child of a process that
    // has passed here before.
    const char* spec = std::getenv("KV_TEST_KILL_AT");
    if (spec == nullptr || *spec == '\0') return;
    static std::string counted;
    static int passes = 0;
    if (counted != spec) {
        counted = spec;
        passes = 0;
    }
    const char* colon = std::strchr(spec, ':');
    if (colon == nullptr || std::string_view(spec, size_t(colon - spec)) != name) return;
    if (++passes == std::atoi(colon + 1)) ::kill(::getpid(), SIGKILL);
}

}  // namespace kv

#include "common/online_status.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fmt/format.h>

#include "common/process_info.h"
#include "common/runtime.h"

namespace kv {
namespace {

bool Fail(std::string* why, std::string text) {
    if (why) *why = std::move(text);
    return false;
}

bool FailErrno(std::string* why, const char* what, const std::string& path) {
    return Fail(why, fmt::format("cannot {} {}: {}", what, path, std::strerror(errno)));
}

bool LineInRange(int line, std::string* why) {
    if (line >= 0 && line < kOnlineLines) return true;
    return Fail(why, fmt::format("no line {} in {}", line, kOnlineFile));
}

off_t EntryOffset(int line) { return off_t(line) * off_t(OnlineEntry::kSize); }

// Opens "online.ctl", runs use on the descriptor and closes it again: every
// operation opens the file by path, as the other lines do.
template <class Use>
bool WithOnlineFile(int flags, std::string* why, Use use) {
    std::string path = OnlinePath();
    int fd = path.empty() ? -1 : ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return FailErrno(why, "open", path);
    bool ok = use(fd, path);
    ::close(fd);
    return ok;
}

}  // namespace

std::string OnlinePath() {
    const std::string& dir = Config().DataDir;
    return dir.empty() ? std::string() : dir + "/" + kOnlineFile;
}

bool CreateOnlineFile() {
    std::string path = OnlinePath();
    if (path.empty()) return false;
    if (::access(path.c_str(), F_OK) == 0) return true;

    // Two lines may start at the same moment.  Whoever links first makes
    // the file; the other finds it there and keeps its entries.
    std::string tmp = path + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    std::vector<uint8_t> bytes(size_t(kOnlineLines) * OnlineEntry::kSize);
    for (int i = 0; i < kOnlineLines; ++i) EncodeRecord(OnlineEntry{}, bytes.data() + EntryOffset(i));
    // mkstemp makes the file private; it gets the mode a plain create would.
    mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = ::fchmod(fd, 0660 & ~mask) == 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += size_t(n);
    }
    if (::close(fd) != 0) ok = false;
    if (ok && ::link(tmp.c_str(), path.c_str()) != 0 && errno != EEXIST) ok = false;
    ::unlink(tmp.c_str());
    return ok && ::access(path.c_str(), F_OK) == 0;
}

bool ReadOnlineEntry(int line, OnlineEntry& entry, std::string* why) {
    if (!LineInRange(line, why)) return false;
    return WithOnlineFile(O_RDONLY, why, [&](int fd, const std::string& path) {
        uint8_t bytes[OnlineEntry::kSize];
        ssize_t n;
        do n = ::pread(fd, bytes, sizeof bytes, EntryOffset(line));
        while (n < 0 && errno == EINTR);
        if (n < 0) return FailErrno(why, "read", path);
        if (size_t(n) != sizeof bytes) return Fail(why, fmt::format("{}: entry {} is cut short", path, line));
        DecodeRecord(bytes, entry);
        return true;
    });
}

bool WriteOnlineEntry(int line, const OnlineEntry& entry, std::string* why) {
    if (!LineInRange(line, why)) return false;
    return WithOnlineFile(O_WRONLY, why, [&](int fd, const std::string& path) {
        // One write of the whole entry: a reader on another line sees the
        // old entry or the new one, never half of each.
        auto bytes = EncodeRecord(entry);
        ssize_t n;
        do n = ::pwrite(fd, bytes.data(), bytes.size(), EntryOffset(line));
        while (n < 0 && errno == EINTR);
        if (n < 0) return FailErrno(why, "write", path);
        if (size_t(n) != bytes.size()) return Fail(why, fmt::format("{}: entry {} written short", path, line));
        return true;
    });
}

bool ReadOnlineFile(std::vector<OnlineEntry>& entries, std::string* why) {
    entries.clear();
    return WithOnlineFile(O_RDONLY, why, [&](int fd, const std::string& path) {
        std::vector<uint8_t> bytes(size_t(kOnlineLines) * OnlineEntry::kSize);
        size_t got = 0;
        while (got < bytes.size()) {
            ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, off_t(got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return FailErrno(why, "read", path);
            if (n == 0) break;
            got += size_t(n);
        }
        for (size_t at = 0; at + OnlineEntry::kSize <= got; at += OnlineEntry::kSize) {
            OnlineEntry e;
            DecodeRecord(bytes.data() + at, e);
            entries.push_back(e);
        }
        return true;
    });
}

bool OnlineProcessAlive(int32_t pid) {
    // 0 and the negative numbers would name process groups, not a process.
    if (pid <= 0) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

bool KivoLive(int pid) {
    ProcessInfo info;
    return ReadProcessInfo(pid_t(pid), info) && info.name == "kivo";
}

bool LineInUse(const OnlineEntry& e) { return e.Pid != -1 && OnlineProcessAlive(e.Pid); }

bool LineHoldsCaller(const OnlineEntry& e) { return e.User != -1 && LineInUse(e); }

bool FindUserOnOtherLine(int line, int32_t user, int& found, std::string* why) {
    found = -1;
    std::vector<OnlineEntry> entries;
    if (!ReadOnlineFile(entries, why)) return false;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (int(i) == line || entries[i].User != user || !LineInUse(entries[i])) continue;
        found = int(i);
        break;
    }
    return true;
}

bool ListOnlineCallers(std::vector<OnlineCaller>& callers, std::string* why) {
    callers.clear();
    std::vector<OnlineEntry> entries;
    if (!ReadOnlineFile(entries, why)) return false;
    for (size_t i = 0; i < entries.size(); ++i)
        if (LineHoldsCaller(entries[i])) callers.push_back({int(i), entries[i]});
    return true;
}

}  // namespace kv

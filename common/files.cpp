#include "common/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "common/runtime.h"

namespace kv {

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(std::string_view name, int kind) {
    const ConfigRecord& c = Config();
    std::string n(name);
    std::string path;
    switch (kind) {
    case kAsciiDisplay: path = c.TextDir + "/" + n + ".asc"; break;
    case kMenuFile: path = c.MenuDir + "/" + n + ".mnu"; break;
    case kDataFile: path = c.DataDir + "/" + n; break;
    case kAnsiDisplay: path = c.TextDir + "/" + n + ".ans"; break;
    case kPlainPath: path = n; break;
    default: return false;
    }
    // Keep a hang-up from breaking into the test.  It is held back, not
    // ignored: one that arrives meanwhile is delivered afterwards, so the
    // caller's hang-up is never lost.
    sigset_t hup, old;
    sigemptyset(&hup);
    sigaddset(&hup, SIGHUP);
    sigprocmask(SIG_BLOCK, &hup, &old);
    struct stat st;
    bool found = stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return found;
}

int64_t FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

time_t FileTime(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

int32_t FreeDiskSpace(const std::string& path) {
    struct statvfs vs;
    if (statvfs(path.c_str(), &vs) != 0) return -1;
    return FreeSpaceUnits(vs.f_bfree, vs.f_frsize);
}

int32_t FreeSpaceUnits(uint64_t freeBlocks, uint64_t blockSize) {
    // In 64 bits: past 2 GiB a 32-bit product wraps to a negative or random
    // figure, and an upload check would refuse or admit for no reason.
    if (blockSize != 0 && freeBlocks > UINT64_MAX / blockSize) return INT32_MAX;
    uint64_t units = freeBlocks * blockSize / 1048;
    return units > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(units);
}

namespace {

std::string BaseName(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}


// Copies a plain file's bytes, mode and times to a temporary name beside
// target and renames it into place, so the target is never half written.
bool CopyPlainFile(const std::string& source, const struct stat& st, const std::string& target) {
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    std::string tmp = DirName(target) + "/." + BaseName(target) + ".XXXXXX";
    int out = mkostemp(tmp.data(), O_CLOEXEC);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char buf[65536];
    for (;;) {
        ssize_t r = read(in, buf, sizeof buf);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) ok = false;
        if (r <= 0) break;
        if (!WriteFully(out, buf, size_t(r))) {
            ok = false;
            break;
        }
    }
    close(in);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ok = ok && fchmod(out, st.st_mode & 07777) == 0 && futimens(out, times) == 0;
    ok = close(out) == 0 && ok;
    ok = ok && rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

bool CopySymlink(const std::string& source, const std::string& target) {
    std::string link(PATH_MAX, '\0');
    ssize_t n = readlink(source.c_str(), link.data(), link.size());
    if (n < 0 || size_t(n) >= link.size()) return false;
    link.resize(size_t(n));
    if (unlink(target.c_str()) != 0 && errno != ENOENT) return false;
    return symlink(link.c_str(), target.c_str()) == 0;
}

bool MoveAcross(const std::string& source, const std::string& target);

// A directory is rebuilt entry by entry on the other side, then removed.
bool MoveDirectoryAcross(const std::string& source, const struct stat& st, const std::string& target) {
    if (mkdir(target.c_str(), st.st_mode & 07777) != 0 && !(errno == EEXIST && IsDirectory(target))) return false;
    DIR* d = opendir(source.c_str());
    if (d == nullptr) return false;
    bool ok = true;
    while (const dirent* de = readdir(d)) {
        std::string name = de->d_name;
        if (name == "." || name == "..") continue;
        if (!MoveAcross(source + "/" + name, target + "/" + name)) ok = false;
    }
    closedir(d);
    return ok && rmdir(source.c_str()) == 0;
}

bool MoveAcross(const std::string& source, const std::string& target) {
    struct stat st;
    if (lstat(source.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) return MoveDirectoryAcross(source, st, target);
    bool copied = S_ISREG(st.st_mode) ? CopyPlainFile(source, st, target)
                  : S_ISLNK(st.st_mode) ? CopySymlink(source, target)
                                        : false;
    return copied && unlink(source.c_str()) == 0;
}

}  // namespace

bool ReadFully(int fd, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t r = read(fd, p, size);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        size -= size_t(r);
    }
    return true;
}

bool WriteFully(int fd, const void* data, size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t w = write(fd, p, size);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return false;
        if (w == 0) {
            errno = ENOSPC;
            return false;
        }
        p += w;
        size -= size_t(w);
    }
    return true;
}

int MoveFile(const std::string& source, const std::string& destination) {
    if (source.empty() || destination.empty()) return 1;
    std::string target = destination;
    if (IsDirectory(destination)) target = destination + "/" + BaseName(source);
    if (rename(source.c_str(), target.c_str()) == 0) return 0;
    if (errno != EXDEV) return 1;
    return MoveAcross(source, target) ? 0 : 1;
}

int TouchFile(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0660);
    if (fd < 0) return 0;
    bool ok = futimens(fd, nullptr) == 0;
    ok = close(fd) == 0 && ok;
    return ok ? 1 : 0;
}

void FlipAreaSelection(std::span<uint8_t> bitmap, int area) {
    if (area < 0 || size_t(area) / 8 >= bitmap.size()) return;
    bitmap[size_t(area) / 8] ^= uint8_t(1u << (area % 8));
}

bool IsAreaSelected(std::span<const uint8_t> bitmap, int area) {
    if (area < 0 || size_t(area) / 8 >= bitmap.size()) return false;
    return (bitmap[size_t(area) / 8] >> (area % 8)) & 1u;
}

}  // namespace kv

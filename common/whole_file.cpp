#include "common/whole_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kv {
namespace {

void Explain(std::string* why, const std::string& what, const std::string& path, int err) {
    if (why != nullptr) *why = what + " " + path + ": " + std::strerror(err);
}

}  // namespace

TempFile MakeTempBeside(const std::string& target, std::string* why) {
    TempFile t;
    std::vector<char> name(target.begin(), target.end());
    const char suffix[] = ".XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix);
    int fd = mkstemp(name.data());
    if (fd < 0) {
        Explain(why, "cannot create a temporary beside", target, errno);
        return t;
    }
    // mkstemp makes the file private; the rewritten file keeps the usual
    // permissions of the board's files.
    fchmod(fd, 0644);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    t.fd = fd;
    t.path = name.data();
    return t;
}

bool WriteAllTo(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

bool CommitTemp(TempFile& tmp, const std::string& target, std::string* why) {
    if (fsync(tmp.fd) != 0) {
        Explain(why, "cannot sync", tmp.path, errno);
        DiscardTemp(tmp);
        return false;
    }
    int fd = tmp.fd;
    tmp.fd = -1;
    if (close(fd) != 0) {
        Explain(why, "cannot close", tmp.path, errno);
        DiscardTemp(tmp);
        return false;
    }
    if (rename(tmp.path.c_str(), target.c_str()) != 0) {
        Explain(why, "cannot rename into", target, errno);
        DiscardTemp(tmp);
        return false;
    }
    tmp.path.clear();
    return true;
}

void DiscardTemp(TempFile& tmp) {
    if (tmp.fd >= 0) close(tmp.fd);
    tmp.fd = -1;
    if (!tmp.path.empty()) unlink(tmp.path.c_str());
    tmp.path.clear();
}

bool WriteFileWhole(const std::string& target, std::string_view data, std::string* why) {
    TempFile tmp = MakeTempBeside(target, why);
    if (tmp.fd < 0) return false;
    if (!WriteAllTo(tmp.fd, data)) {
        Explain(why, "cannot write", tmp.path, errno);
        DiscardTemp(tmp);
        return false;
    }
    return CommitTemp(tmp, target, why);
}

}  // namespace kv

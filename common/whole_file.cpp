#include "common/whole_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/files.h"

namespace kv {
namespace {

void Explain(std::string* why, const std::string& what, const std::string& path, int err) {
    if (why != nullptr) *why = what + " " + path + ": " + std::strerror(err);
}

// Gives the temporary the old file's owner and group.  Root can always;
// another user (a member of the board's group rewriting a file of the
// board's user) keeps at least the group where it is one of its own, and
// otherwise the file is its own, as any file it makes.
bool KeepOwner(int fd, uid_t uid, gid_t gid) {
    struct stat mine;
    if (fstat(fd, &mine) != 0) return false;
    if (mine.st_uid == uid && mine.st_gid == gid) return true;
    if (fchown(fd, uid, gid) == 0) return true;
    if (geteuid() == 0) return false;
    if (mine.st_gid != gid) (void)fchown(fd, uid_t(-1), gid);
    return true;
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
    // mkstemp makes the file private and its creator's; the rewritten file
    // keeps the old one's mode and owner, and a new one gets the mode a
    // plain create would give (the board's user and group only).  Both are
    // set on the descriptor: a name in a directory of the board's user is
    // theirs to swap for a link, the open file is not.  The old file is
    // looked at without following a link: a link planted where the file
    // was lends the new file nothing of the file it points to.
    struct stat st;
    bool old = lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    mode_t mode;
    if (old) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0660 & ~mask;
    }
    const char* failed = nullptr;
    if (old && !KeepOwner(fd, st.st_uid, st.st_gid)) failed = "cannot give a temporary the owner of";
    // After the owner: a change of owner may clear the set-id bits.
    if (failed == nullptr && fchmod(fd, mode) != 0) failed = "cannot set the mode of a temporary beside";
    if (failed != nullptr) {
        int err = errno;
        close(fd);
        unlink(name.data());
        Explain(why, failed, target, err);
        errno = err;
        return t;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    t.fd = fd;
    t.path = name.data();
    return t;
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

std::vector<std::string> TempFilesBeside(const std::string& dir, const std::vector<const char*>& names) {
    std::vector<std::string> found;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return found;
    while (dirent* e = readdir(d)) {
        std::string_view n = e->d_name;
        for (std::string_view base : names) {
            // mkstemp's names: the file's name, a dot and six characters.
            if (n.size() == base.size() + 7 && n.substr(0, base.size()) == base && n[base.size()] == '.' &&
                std::all_of(n.begin() + long(base.size()) + 1, n.end(),
                            [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
                found.push_back(dir + "/" + std::string(n));
        }
    }
    closedir(d);
    return found;
}

void DiscardTemp(TempFile& tmp) {
    // Whoever failed reads errno after this: the clean-up keeps it.
    int err = errno;
    if (tmp.fd >= 0) close(tmp.fd);
    tmp.fd = -1;
    if (!tmp.path.empty()) unlink(tmp.path.c_str());
    tmp.path.clear();
    errno = err;
}

bool WriteFileWhole(const std::string& target, std::string_view data, std::string* why) {
    TempFile tmp = MakeTempBeside(target, why);
    if (tmp.fd < 0) return false;
    if (!WriteFully(tmp.fd, data)) {
        Explain(why, "cannot write", tmp.path, errno);
        DiscardTemp(tmp);
        return false;
    }
    return CommitTemp(tmp, target, why);
}

}  // namespace kv

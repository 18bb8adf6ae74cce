#include "common/safe_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/segment.h"

namespace kv {

int OpenNoFollow(const std::string& path, int flags, FileKindWanted kind, std::string* why, mode_t mode) {
    int fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        int err = errno;
        if (why != nullptr)
            *why = err == ELOOP ? path + " is a symbolic link" : "cannot open " + path + ": " + std::strerror(err);
        errno = err;
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        if (why != nullptr) *why = "cannot examine " + path + ": " + std::strerror(err);
        errno = err;
        return -1;
    }
    bool wanted = kind == FileKindWanted::kFifo ? S_ISFIFO(st.st_mode) : S_ISREG(st.st_mode);
    if (!wanted) {
        close(fd);
        if (why != nullptr) *why = path + (kind == FileKindWanted::kFifo ? " is not a pipe" : " is not a plain file");
        errno = ELOOP;
        return -1;
    }
    return fd;
}

CommandPipe OpenCommandPipe(const std::string& dataDir) {
    CommandPipe p;
    p.path = dataDir + "/" + kCommandPipeName;
    // A plain file opened for writing is not changed by the open itself (no
    // O_TRUNC), and the fstat check turns it away before anything is written.
    p.fd = OpenNoFollow(p.path, O_WRONLY | O_NONBLOCK, FileKindWanted::kFifo);
    if (p.fd >= 0) {
        p.state = PipeOpen::kOpen;
        return p;
    }
    switch (errno) {
        case ENOENT: p.state = PipeOpen::kMissing; break;
        case ENXIO: p.state = PipeOpen::kNoReader; break;
        case ELOOP:
        case EISDIR: p.state = PipeOpen::kNotAPipe; break;
        default: p.state = PipeOpen::kFailed; break;
    }
    return p;
}

}  // namespace kv

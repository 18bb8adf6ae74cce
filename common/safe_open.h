// Opening what the board's own directories hold when the opener may be
// root.  Those directories belong to the board's user, who can put a link
// where a program expects its file; a program run as root that followed it
// would write wherever the link points.  So the last component is never
// followed, and the open file is checked to be of the kind expected before
// a byte goes into it.
#pragma once

#include <sys/types.h>

#include <string>

namespace kv {

enum class FileKindWanted { kRegular, kFifo };

// Opens path with flags (O_NOFOLLOW and O_CLOEXEC added; mode for O_CREAT)
// and checks that it is of the kind wanted.  The descriptor, or -1 with
// why saying what was found ("... is a symbolic link", "... is not a
// pipe") or what failed, and errno set (ELOOP for a link or a file of
// another kind).
int OpenNoFollow(const std::string& path, int flags, FileKindWanted kind, std::string* why = nullptr,
                 mode_t mode = 0660);

// The server's command pipe in dataDir, opened for writing the only way
// its writers open it: without blocking, since a pipe that no server
// reads would otherwise hold the writer for ever (ENXIO at once instead),
// and without following a link.  The descriptor stays non-blocking.
enum class PipeOpen {
    kOpen,
    kMissing,   // no file of that name: no server made one
    kNoReader,  // a pipe nobody reads: the server is gone
    kNotAPipe,  // a link, a plain file, anything but a FIFO
    kFailed,    // any other failure (permissions, ...)
};
struct CommandPipe {
    int fd = -1;
    PipeOpen state = PipeOpen::kFailed;
    std::string path;
};
CommandPipe OpenCommandPipe(const std::string& dataDir);

}  // namespace kv

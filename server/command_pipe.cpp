#include "server/command_pipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "common/runtime.h"
#include "server/server_log.h"

namespace kv::server {
namespace {

int g_readFd = -1;
int g_keepFd = -1;

}  // namespace

std::string FifoPath() { return Config().DataDir + "/" + kCommandPipeName; }

int CreateFifo() {
    std::string path = FifoPath();
    unlink(path.c_str());
    // chmod as well: mknod's mode passes through the umask.
    if (mknod(path.c_str(), S_IFIFO | 0660, 0) != 0 || chmod(path.c_str(), 0660) != 0) {
        std::fprintf(stderr, "Cannot create FIFO %s\n", path.c_str());
        return 0;
    }
    g_readFd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (g_readFd < 0) {
        std::fprintf(stderr, "Cannot open FIFO %s for reading\n", path.c_str());
        return 0;
    }
    // Our own idle writer: once the last client closes, a FIFO without
    // writers polls as hung up for good, and the nap could no longer wait
    // on it.  With this end held, an empty pipe just has no data.  Both
    // ends close on exec, so a mail sender that the server starts never
    // keeps the pipe alive after the server is gone.
    g_keepFd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return 1;
}

void RemoveFifo() {
    if (g_keepFd >= 0) close(g_keepFd);
    if (g_readFd >= 0) close(g_readFd);
    g_keepFd = g_readFd = -1;
    std::string path = FifoPath();
    if (access(path.c_str(), F_OK) == 0) unlink(path.c_str());
}

int FifoDescriptor() { return g_readFd; }

int ReadServerCommand(ServerCommand& cmd) {
    if (g_readFd < 0) return 0;
    uint8_t buf[ServerCommand::kSize];
    ssize_t n = read(g_readFd, buf, sizeof buf);
    // Every client writes a record in one write, smaller than the pipe's
    // atomic size; a short piece is no request: logged and dropped, never
    // read as one with the rest of its fields left over from before.
    if (n > 0 && n != ssize_t(sizeof buf)) WriteServerLog("Short command record of %d bytes ignored", int(n));
    if (n != ssize_t(sizeof buf)) return 0;
    DecodeRecord(buf, cmd);
    return 1;
}

}  // namespace kv::server

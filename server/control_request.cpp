#include "server/control_request.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/runtime.h"
#include "common/safe_open.h"
#include "common/segment.h"
#include "server/config_loader.h"
#include "server/server_log.h"

namespace kv::server {

int SendControlRequest(int16_t code, const char* program, const char* sent) {
    std::fprintf(stderr, "%s v1.0 - %s\n", program, kNoticeText);
    if (!LoadConfig()) {
        std::fputs("Cannot load the BBS configuration -- please check!\n", stderr);
        return 1;
    }
    CommandPipe pipe = OpenCommandPipe(Config().DataDir);
    if (pipe.state == PipeOpen::kNotAPipe) {
        std::fprintf(stderr, "Cannot open %s for writing: it is not a pipe\n", pipe.path.c_str());
        return 1;
    }
    if (pipe.fd < 0) {
        std::fprintf(stderr, "Cannot open %s for writing, the server is not running?\n", kCommandPipeName);
        return 1;
    }
    int fd = pipe.fd;
    // The write itself may wait for room, like any writer of the pipe.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    signal(SIGPIPE, SIG_IGN);  // a reader gone meanwhile is a failed write

    ServerCommand cmd;
    cmd.Code = code;
    auto rec = EncodeRecord(cmd);
    ssize_t n;
    do {
        n = write(fd, rec.data(), rec.size());
    } while (n < 0 && errno == EINTR);
    close(fd);
    if (n != ssize_t(rec.size())) return 1;
    std::fputs(sent, stderr);
    return 0;
}

}  // namespace kv::server

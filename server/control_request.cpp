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

RequestResult WriteControlRequest(const std::string& dataDir, int16_t code) {
    CommandPipe pipe = OpenCommandPipe(dataDir);
    if (pipe.state == PipeOpen::kNotAPipe) return RequestResult::kNotAPipe;
    if (pipe.fd < 0) return RequestResult::kNoServer;
    int fd = pipe.fd;
    // The write itself may wait for room, like any writer of the pipe.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // A reader gone meanwhile is a failed write, not the end of the program.
    struct sigaction ignore {}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);

    ServerCommand cmd;
    cmd.Code = code;
    auto rec = EncodeRecord(cmd);
    ssize_t n;
    do {
        n = write(fd, rec.data(), rec.size());
    } while (n < 0 && errno == EINTR);
    sigaction(SIGPIPE, &old, nullptr);
    close(fd);
    return n == ssize_t(rec.size()) ? RequestResult::kSent : RequestResult::kWriteFailed;
}

int SendControlRequest(int16_t code, const char* program, const char* sent) {
    std::fprintf(stderr, "%s v1.0 - %s\n", program, kNoticeText);
    if (!LoadConfig()) {
        std::fputs("Cannot load the BBS configuration -- please check!\n", stderr);
        return 1;
    }
    switch (WriteControlRequest(Config().DataDir, code)) {
        case RequestResult::kSent:
            std::fputs(sent, stderr);
            return 0;
        case RequestResult::kNotAPipe:
            std::fprintf(stderr, "Cannot open %s/%s for writing: it is not a pipe\n", Config().DataDir.c_str(),
                         kCommandPipeName);
            return 1;
        case RequestResult::kNoServer:
            std::fprintf(stderr, "Cannot open %s for writing, the server is not running?\n", kCommandPipeName);
            return 1;
        case RequestResult::kWriteFailed:
            break;
    }
    return 1;
}

}  // namespace kv::server

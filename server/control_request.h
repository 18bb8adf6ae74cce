// The sysop's requests to a running server (kvhalt, kvrefresh, the console):
// one ServerCommand written into the command pipe.
#pragma once

#include <cstdint>
#include <string>

namespace kv::server {

enum class RequestResult {
    kSent,
    kNoServer,     // no pipe, or one that no server reads
    kNotAPipe,     // a link or a file of another kind where the pipe belongs
    kWriteFailed,  // the pipe took no whole request
};

// Writes one request of code into the command pipe in dataDir, opened the
// way every writer of the pipe opens it (common/safe_open.h).  Nothing is
// printed.
RequestResult WriteControlRequest(const std::string& dataDir, int16_t code);

// Prints "PROGRAM v1.0" with the notice, loads the configuration and
// writes a request of code into the pipe, opened without blocking so that
// a pipe no server reads is reported instead of waited on.  Prints sent on
// success.  All output goes to standard error; returns the exit status,
// 0 when the request was written, else 1.
int SendControlRequest(int16_t code, const char* program, const char* sent);

}  // namespace kv::server

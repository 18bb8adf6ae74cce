// The sysop's requests to a running server (kvhalt, kvrefresh): one
// ServerCommand written into the command pipe.
#pragma once

#include <cstdint>

namespace kv::server {

// Prints "PROGRAM v1.0" with the notice, loads the configuration and
// writes a request of code into the pipe, opened without blocking so that
// a pipe no server reads is reported instead of waited on.  Prints sent on
// success.  All output goes to standard error; returns the exit status,
// 0 when the request was written, else 1.
int SendControlRequest(int16_t code, const char* program, const char* sent);

}  // namespace kv::server

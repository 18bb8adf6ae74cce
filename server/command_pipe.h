// The server's end of the command pipe "kivopipe.bbs" in DataDir: a FIFO
// that callers and the sysop's tools write 84-byte ServerCommands into.
#pragma once

#include <string>

#include "common/segment.h"

namespace kv::server {

std::string FifoPath();

// Makes the FIFO afresh (mode 0660 whatever the umask) and opens it for
// reading without blocking.  Prints the failure text; returns 1 or 0.
int CreateFifo();

// Closes the pipe and unlinks it.
void RemoveFifo();

// The read end, or -1.
int FifoDescriptor();

// Takes one waiting request without blocking: 1 when a whole record was
// read into cmd, 0 when none waits.
int ReadServerCommand(ServerCommand& cmd);

}  // namespace kv::server

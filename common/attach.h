// A caller program's attach to the server's shared segment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

// Bytes of the segment that kvhubd creates and every caller program attaches.
size_t SharedMemorySize();

// Attaches the server's segment (key 1138), or refuses when ten caller
// programs are already attached besides the server.  Never creates it.  On
// failure the reason goes to standard error and the result is null:
//   "There's already 10 Kivo instance running -- try later"
//   "ERROR: cannot get/attach to shared memory -- server must be running"
// The segment stays attached for the life of the process.
const uint8_t* AttachSharedMemory();

}  // namespace kv

// The shared segment as the server owns it: created, filled, reloaded and
// removed here.  Its layout is common/segment.h's.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "server/server_settings.h"

namespace kv::server {

// Refuses while a running server holds a segment with the key; a segment
// whose creator no longer serves is removed (and the take-over logged).
// Then creates (0660: the board's user and group only) and attaches it.
// The process that serves must call it: the segment's creator names the
// server.  Prints the failure text; returns 1 or 0.
int CreateSharedMemory();

// Whether pid is a kvhubd that runs (not a zombie, not another program
// that got the PID later); true when that cannot be told.
bool IsRunningServer(pid_t pid);

// Writes the header and the configuration copy (from the record that
// LoadConfig read), makes the copy the configuration in use and loads the
// message texts of the two slots.  The result is slot 0's load.
int InitSharedMemory(const ServerSettings& s);

// Detaches and removes the segment; callers still attached keep their
// mapping until they detach.
void RemoveSharedMemory();

// The attached segment, or nullptr.
uint8_t* SegmentAddress();

// Processes attached to the segment, the server included; -1 when the
// status cannot be read.
int AttachedCount();

// Re-reads "kvconfig.bbs" into the segment's copy.  The file is read into
// a scratch record first: a failed read leaves the copy as it was.
int ReloadConfiguration();

// Text n of slot 0 or 1; empty when the slot has no text n.
std::string GetSlotText(int n, int slot);

}  // namespace kv::server

// The end of a call.
//
// Every way out of a call that got past the start-up checks goes through
// LogOff: this line's "online.ctl" entry is freed, a logged-in caller's
// record, time log and daily-log line are written, and the process log is
// merged into the line log.  The exits that a signal or a time-out causes
// (OnHangup 99, OnInterrupt 98, the time-outs 51 and 52) run from the key
// wait that noticed them, never from inside a signal handler.
#pragma once

#include "caller/term/call_state.h"

namespace kv::caller {

// reason: LogOffReason.  Ignores SIGINT, SIGQUIT and SIGHUP from here on.
void LogOff(int reason);

// The hang-up of the line: log text 10, LogOff, exit status 99.
[[noreturn]] void OnHangup();
// SIGINT or SIGQUIT: log text 8, LogOff, text 9 on standard output, exit 98.
[[noreturn]] void OnInterrupt();

}  // namespace kv::caller

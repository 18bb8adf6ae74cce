// The signal handlers of a call, and the call's work that they and the
// floors below lead to.
//
// The handlers only record (caller/term/call_signals.h); the key waits act
// at their next turn.  What a hang-up, an interrupt or a chat request then
// does, and the log-off of a call that a time-out or an area's command
// ends, is the call's own work (logoff.h, line_chat.h): it is handed down
// here (caller/term/call_end.h), so nothing below the call includes it.
#pragma once

namespace kv::caller {

// Installs the recording handlers and the call's work; the first step of
// every call, before anything may wait for a key.
void InstallCallHandlers();

}  // namespace kv::caller

// The end of a call, and the call's own work, as the floors below the call
// reach them.
//
// Much of what ends a call or breaks into it is noticed down here: a key
// wait meets a time-out, a lost line or an interrupt, a signal asks for a
// chat between lines, a command of an area ends the call when it is done.
// The work itself belongs to the call (caller/call/): its log-off writes
// the caller's record, time log and logs, and the chat between lines is a
// command of its own.  This floor never includes the call, so the call
// hands that work down as a CallWork, with its signal handlers, first
// thing at start-up (InstallCallHandlers in caller/call/call_handlers.h).
#pragma once

namespace kv::caller {

struct CallWork {
    void (*Hangup)() = nullptr;            // the line hung up or was lost; does not return
    void (*Interrupt)() = nullptr;         // SIGINT or SIGQUIT; does not return
    void (*ChatRequest)() = nullptr;       // SIGUSR2: another line asks for a chat
    void (*LogOff)(int reason) = nullptr;  // the call's log-off (reason: LogOffReason)
};

// The work the call handed down; none until it did.
void InstallCallWork(const CallWork& work);
const CallWork& InstalledCallWork();

// The end of a call that something below the call decides (a time-out, a
// command that logs off when it is done): the call's log-off with reason,
// then ExitProgram(status).  Without the call's work, ExitProgram alone.
[[noreturn]] void TerminateCall(int reason, int status);

// ExitHook(0), attributes off, exit with status.
[[noreturn]] void ExitProgram(int status);
// Called with 0 on every exit and with 1 by option -k; it has no effect.
void ExitHook(int value);

}  // namespace kv::caller

// kvhubd from start to stop: set-up, the background process, the loop that
// serves the command pipe and runs the timed mail pass, and the shut-down.
#pragma once

#include <functional>

#include "common/segment.h"
#include "server/server_settings.h"

namespace kv::server {

// What the loop runs besides reading the pipe.  The defaults are the mail
// gateway's passes and a nap that a request or SIGTERM cuts short; tests
// put their own in to see when the passes come.
struct LoopHooks {
    std::function<void()> importIncomingMail;
    std::function<void()> sendQueuedMail;
    std::function<void(const ServerCommand&)> handleMailRequest;
    std::function<void(int seconds)> nap;
    LoopHooks();
};

enum class StopReason { Request, TermSignal };

// The whole program: options, set-up, fork, loop, shut-down.  Returns the
// exit status.
int ServerMain(int argc, char** argv);

// Configuration, segment with its texts, command pipe, and the library's
// log writer and text lookup.  Prints the failure text and undoes what it
// made; returns 1 or 0.
int OpenServer(const ServerSettings& s);

// Serves until a granted shut-down request or SIGTERM.
StopReason RunMainLoop(ServerSettings& s, const LoopHooks& hooks = LoopHooks());

// Logs the stop, removes the pipe and the segment.
void CloseServer(StopReason why);

// SIGTERM only records; the loop acts on it at its next turn.
void InstallTermHandler();

// Waits up to seconds for a request on the pipe; SIGTERM ends it early.
void NapOnPipe(int seconds);

}  // namespace kv::server

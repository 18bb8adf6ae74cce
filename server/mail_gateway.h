// The server's mail gateway: the passes that the main loop runs for mail.
#pragma once

#include "common/segment.h"

namespace kv::server {

// Incoming part of the timed pass: the system mailbox into the mail area.
void ImportIncomingMail();

// Outgoing part of the timed pass, run with -o once a request was queued:
// "outgoing.bbs" handed to the mail sender.
void SendQueuedMail();

// A caller's mail request from the pipe, code 1 (send now) or 2 (queue).
void HandleMailRequest(const ServerCommand& cmd);

}  // namespace kv::server

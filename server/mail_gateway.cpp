// Placeholders until the gateway itself is written: the loop already calls
// them at their times, and they do nothing yet.
#include "server/mail_gateway.h"

namespace kv::server {

void ImportIncomingMail() {}

void SendQueuedMail() {}

void HandleMailRequest(const ServerCommand&) {}

}  // namespace kv::server

// Storing a finished message of the caller program in the message base.
//
// SaveMessage offers the area's alias question, then appends the whole
// message in the one order every writer keeps (text with its PID line,
// next number, recipient entry, index entry, header) under the base lock:
// either every record of it lands or none does.  The mail answers that the
// enter-message command gathered become the header's mail flags, and the
// new message is logged (text 241 when written as sysop, else 242).
#pragma once

#include <cstdint>
#include <string>

#include "caller/areas/message_buffer.h"
#include "common/msg_records.h"

namespace kv::caller {

struct OutgoingMessage {
    std::string Recipient;            // at most 60 characters are stored
    std::string Subject;              // at most 71
    int Area = 0;                     // 0-99
    bool Private = false;
    const MsgHeader* Source = nullptr;  // the message replied to or forwarded, or none
    bool Forward = false;
    bool AsSysop = false;             // signed with SysopName (the watchdog message)
    // The mail answers; each counts only when it is exactly 1.
    int KillAfterSend = 0;
    int SendNow = 0;
    int Attach = 0;
};

// Stores text (finished, ended by 0x1A) as message m: returns its number,
// or 0 when it could not be stored (nothing of it stays in the base).
// headerOffset gets the header's byte offset in "msghdr.bbs".
int32_t SaveMessage(const MessageBuffer& text, const OutgoingMessage& m, int32_t& headerOffset);

}  // namespace kv::caller

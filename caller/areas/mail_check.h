// The mail check: at log-on (MailCheckAtLogon) and as menu command 22.
//
// A message waits for the caller while its recipient entry in
// "msgtoidx.bbs" still holds the caller's name (exactly): the reader
// writes "Received" over it once the caller has read it, a delete writes
// "Deleted".  The check looks from the message after the caller's highest
// number read at the last log-off (from the first with MailCheckAll), puts
// what it finds on the marked list, shows the count per area and offers to
// read them.
#pragma once

#include <array>
#include <cstdint>

#include "common/config_record.h"

namespace kv::caller {

// 1 when the check ran; 0 when no message lies above the start, the
// recipient file could not be positioned or an area could not be read.
int CheckMail();

// Waiting messages per area, as one check counted them.
using MailCounts = std::array<uint16_t, kMsgAreaCount>;
void ShowMailSummary(const MailCounts& counts);

}  // namespace kv::caller

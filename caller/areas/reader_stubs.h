// Reader commands whose pieces are not built yet.
//
// The reader offers these keys already;
// until their pieces come, each stands here doing nothing the caller can
// see and reporting that nothing was done.  Whoever builds one moves its
// declaration to the header of the new piece and deletes the stand-in from
// reader_stubs.cpp: replaced, not wrapped.
#pragma once

#include <cstdint>
#include <string>

#include "common/msg_records.h"

namespace kv::caller {

// Prints or saves the message for the caller.  Stand-in: nothing.
void PrintOrSaveMessage(const MsgHeader& header);
// The sysop's header editor: true when the header was changed.  Stand-in: false.
bool EditMessageHeader(MsgHeader& header, int32_t index);
// The sysop's quick edit of the author's user record.  Stand-in: nothing.
void EditAuthorRecord(const MsgHeader& header);

}  // namespace kv::caller

// Deleting a message: from the reader, from the sysop's header editor, or
// by number from a menu (code 26).
//
// A delete marks the message in every file of the base and removes
// nothing; message-base maintenance packs it away later.  The index record
// gets its number negated and its area made -(area + 1), the header gets
// MSG_DELETED, the recipient entry reads "Deleted", the message it answers
// and the one that answers it lose their link to it, and "msginfo.bbs"
// counts one message fewer.  All of it happens under the message-base
// lock, so that nothing another line writes meanwhile is lost.
#pragma once

#include <cstdint>
#include <string>

#include "common/msg_records.h"

namespace kv::caller {

// Deletes the message at index, whose header the caller holds (the header
// gets MSG_DELETED): 1 done, 0 not.  Whether the message is live is
// decided by its index record as it stands in the file: a message deleted
// already, or a record that no longer holds header's number, is refused.
int DeleteMessage(MsgHeader& header, int32_t index);

// Clears a link of the message numbered number: which 0 its LatestReply,
// 1 its ReplyTo.  1 or 0 (text 338 in the log).
int UnlinkReply(int32_t number, int which);

// One message fewer in "msginfo.bbs" for a deleted header; the lowest and
// highest numbers move to the nearest live message when it was one of
// them.  1 or 0.
int UpdateInfoAfterDelete(const MsgHeader& header);

// Menu code 26: a message of an area ("/M" the current one, 1-100, or a
// choice from the list) deleted by its number after the caller confirms.
void DeleteMessageByNumber(const std::string& argument);

}  // namespace kv::caller

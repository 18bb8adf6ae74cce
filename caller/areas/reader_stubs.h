// Reader commands and reading styles whose pieces are not built yet.
//
// The reader offers these keys and the read command these styles already;
// until their pieces come, each stands here doing nothing the caller can
// see and reporting that nothing was done.  Whoever builds one moves its
// declaration to the header of the new piece and deletes the stand-in from
// reader_stubs.cpp: replaced, not wrapped.
#pragma once

#include <cstdint>
#include <string>

#include "common/msg_records.h"

namespace kv::caller {

struct MessageList;

// Deletes the message at index (header updated): 1 done, 0 not.  Stand-in: 0.
int DeleteMessage(MsgHeader& header, int32_t index);
// Prints or saves the message for the caller.  Stand-in: nothing.
void PrintOrSaveMessage(const MsgHeader& header);
// The sysop's header editor: true when the header was changed.  Stand-in: false.
bool EditMessageHeader(MsgHeader& header, int32_t index);
// The sysop's quick edit of the author's user record.  Stand-in: nothing.
void EditAuthorRecord(const MsgHeader& header);

// Header scan (style 1) and one-line list (style 2).  Stand-in: nothing.
void ScanMessages(const MessageList* list, int area, int32_t start, int direction, int style);
// Searches header fields for text into result: the number of hits.
// Stand-in: 0.
int SearchMessages(int area, int32_t start, const std::string& text, char fieldKey, MessageList& result,
                   const std::string& fieldKeys);

}  // namespace kv::caller

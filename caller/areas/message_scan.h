// The text search over message headers and the two scan styles of the
// read command: the header scan (style 1), which may mark messages into
// the call's marked list for reading later, and the one-line list (style
// 2).
//
// Both show only what the caller may see: messages in areas the caller
// may read, and a private one only to its sender and recipient (the scan,
// which walks through the reader's searches, also to the area's sysop).
#pragma once

#include <cstdint>
#include <string>

#include "common/msg_records.h"

namespace kv::caller {

struct MessageList;

// Searches the headers from index position start on, in area (0-99) or the
// selected areas (kAllSelectedAreas), for text (any case, anywhere) in the
// field that fieldKey names by its place in fieldKeys (text 278: subject,
// sender, recipient).  The positions found go into result, at most 499;
// the count of them, or 0 when the caller stopped the search.
int SearchMessages(int area, int32_t start, const std::string& text, char fieldKey, MessageList& result,
                   const std::string& fieldKeys);

// The scan over list (from its first entry) or, without one, from position
// start in area in a direction: style 1 header blocks with marking when
// the caller wants it, style 2 one line a message.
void ScanMessages(const MessageList* list, int area, int32_t start, int direction, int style);

// One line of the list: number, recipient, sender, subject.  counter -1
// puts the heading first.  pageMode kPagePrompted pauses at a full page;
// "=" there makes it kPagePromptedNoStops.  The stop key of text 200 when
// the caller stopped, else 0.
int ShowMessageListLine(const MsgHeader& header, int& counter, int& pageMode);

// The mark prompt of the header scan: the scan key (text 386) chosen.
int MessageListMore();

}  // namespace kv::caller

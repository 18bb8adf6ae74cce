// The message reader.
//
// ReadMessages shows one message after another, forward (rising numbers)
// or backward, inside one area, through every area the caller selected
// (kAllSelectedAreas) or along a list of positions.  Each message shown is
// counted as read once more, marked received when it is addressed to the
// caller, and raises the caller's last-read number of its area and the
// call's highest-read number.
//
// Prompted reading asks for a reader command after each message; non-stop
// reading goes on by itself and takes only the stop and pause keys (text
// 200).  The reader keys are the sixteen characters of text 324, each
// place a fixed command (ReaderKey); the keys a caller may use for one
// message come from BuildReaderKeys.
//
// The reader never writes a header from the copy it showed: every change
// is made under the message-base lock on the header as it stands in the
// file then, so a delete or a "sent" mark that another line or kvpost made
// meanwhile is kept.
#pragma once

#include <cstdint>
#include <string>

#include "caller/areas/reader_search.h"
#include "common/msg_records.h"

namespace kv::caller {

// Places in the reader keys (text 324).
enum ReaderKey : size_t {
    kReaderStop = 0,
    kReaderPause = 1,
    kReaderAgain = 2,
    kReaderNext = 3,
    kReaderOpposite = 4,
    kReaderReply = 5,
    kReaderEnter = 6,
    kReaderDelete = 7,
    kReaderControlLines = 8,   // "!"
    kReaderPrintSave = 9,      // "*"
    kReaderNotReceived = 10,   // "X"
    kReaderEditHeader = 11,    // "F"
    kReaderEditAuthor = 12,    // "="
    kReaderForwardCopy = 13,   // "U"
    kReaderFollowReply = 14,   // "+"
    kReaderRepliedTo = 15,     // "-"
};

enum Direction { kForward = 0, kBackward = 1 };

// The sysop keys, offered together at places 8 to 13.
constexpr const char* kSysopReaderKeys = "!*XF=U";

// Reads from start (a position) in area, or along list from its first
// entry when list is given (area and start then unused).
void ReadMessages(const MessageList* list, int area, int32_t start, int direction, bool prompted);

// Asks whether to stop after each message: true for prompted reading.
bool AskContinuous();

// The keys this caller may use on this message.
std::string BuildReaderKeys(bool prompted, const MsgHeader& header, const MessageList* list);

// Finds the message a reply link points at ("+" forward from number, any
// other key backward from the current position): its position, or a
// negative search code after a word to the caller and a pause.
int32_t FindLinkedMessage(int32_t number, int32_t current, char key);

}  // namespace kv::caller

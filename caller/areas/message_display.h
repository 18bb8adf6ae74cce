// One message on the caller's screen: the header block, the body and the
// reader's command prompt.
//
// The reader, the header scan and the delete-by-number command show
// messages through these routines.  Header and body share the caller's
// line counter and page mode (DisplayState): the counter says how many
// lines went out since the last pause, the page mode whether a full page
// pauses and whether the rest of a message is skipped.
//
// While a header or a body prints, input is non-blocking and every line
// (header) or character (body) is followed by a look at the keys: a key
// among the hot keys ends the display and is returned, except the pause
// key (position 1 of the reader keys), which waits for any key and goes on.
// At a full page the pause prompt asks: NoKey stops reading (page mode 0)
// or skips to the reader prompt (page mode 2); "=" turns pauses off.
//
// Body lines longer than kScreenLineWidth come out as several screen lines,
// each ended by a line end, so that nothing of the text is written over.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/msg_records.h"

namespace kv::caller {

struct MessageList;

enum PageMode : int {
    kPageStops = 0,           // non-stop reading that pauses at each full page
    kPageNoStops = 1,         // non-stop reading without pauses
    kPagePrompted = 2,        // prompted reading, pauses on
    kPagePromptedNoStops = 3, // prompted reading, pauses switched off
    kPageSkip = 4,            // the rest of this message is skipped
};

struct DisplayState {
    uint16_t lines = 0;        // lines since the last pause or clear screen
    int pageMode = kPageStops;
};

// Text pieces of a body line: at most this many characters per screen line.
constexpr size_t kScreenLineWidth = 79;

// The header block: the number, area and status words; date, time and
// times read; sender; recipient; subject; in the full form also the reply
// links.  hotKeys empty: no key ends it.  Returns the key that ended the
// display, or 0.
int ShowMessageHeader(const MsgHeader& header, std::string_view hotKeys, DisplayState& state, bool full,
                      std::string_view readerKeys);

// The body from "msgtxt.bbs": quoted lines (those that begin with the quote
// prefix made from the recipient's name) bright, control lines only with
// showControl.  Returns the key that ended the display, 0 at the end of the
// text, or -1 when the text could not be read (logged with text 325).
int ShowMessageText(const MsgHeader& header, std::string_view hotKeys, DisplayState& state, bool showControl,
                    std::string_view readerKeys);

// Asks for the reader command after a message: the reply-chain line, the
// commands this caller has, then a key among allowed (Enter: the default
// of text 313).  list is the list being read, or null.  Returns the key.
int ReaderPrompt(const MsgHeader& header, int area, std::string_view allowed, DisplayState& state,
                 const MessageList* list, std::string_view readerKeys);

// The name of message area (0-99) without its trailing blanks.
std::string MessageAreaName(int area);

}  // namespace kv::caller

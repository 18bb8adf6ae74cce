// Message texts that come from outside the line editor: the caller's
// full-screen editor program, and a text file uploaded through one of the
// transfer protocols.
//
// Both work on a file in the line's work directory (never beside the
// configuration), clean it of bytes a message must not hold and load it
// with the line editor's LoadMessageText, so long lines are wrapped and
// the area's line limit holds.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "caller/areas/message_buffer.h"

namespace kv::caller {

// The caller's editor (the sysop's for a caller of level 64000) on the
// lines already in buffer, at most limit lines coming back: the edited
// text, finished, or none (the editor could not run, or the text was not
// saved).
std::optional<MessageBuffer> ExternalEdit(MessageBuffer buffer, int limit);

// A message text for area (0-99) uploaded through a protocol the caller
// chooses: the text loaded and finished, or none.
std::optional<MessageBuffer> UploadMessageText(int area);
std::optional<MessageBuffer> ReceiveMessageText(int protocol, int area);

// Rewrites a text file without the bytes a message must not hold (see
// CleanTextBytes).  1, or 0 when it holds a NUL byte or cannot be read or
// rewritten.
int CleanTextFile(const std::string& path);
// The cleaning itself: 0x1A dropped; line feed, carriage return and tab
// kept, other control bytes '.'; bytes from 127 up kept with acceptHigh,
// else code-page-437 letters folded to plain ones and the rest '.'.  None
// when the text holds a NUL byte.
std::optional<std::string> CleanTextBytes(std::string_view text, bool acceptHigh);

}  // namespace kv::caller

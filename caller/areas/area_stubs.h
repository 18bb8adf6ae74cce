// Stand-ins for the services of the message areas that are not built yet.
//
// Each stands here, doing nothing the caller could mistake for the real
// thing, until its piece is built; whoever builds one moves its declaration
// to the header of the new piece and deletes the stand-in from
// area_stubs.cpp: replaced, not wrapped.
#pragma once

#include <optional>

#include "caller/areas/message_buffer.h"

namespace kv::caller {

// The caller's full-screen editor (USER_FULL_EDITOR) on the lines already
// in buffer, at most limit lines coming back; the edited text, finished,
// or none.  Stand-in: none (the line editor then says the message was
// abandoned).
std::optional<MessageBuffer> ExternalEdit(MessageBuffer buffer, int limit);

// A message text uploaded through one of the transfer protocols into area
// (0-99): the text loaded, finished, or none.  Stand-in: none (nothing is
// stored, as when the caller sends no file).
std::optional<MessageBuffer> UploadMessageText(int area);

}  // namespace kv::caller

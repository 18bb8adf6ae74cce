// The sysop's message-header editor in the reader ("F" key): the area
// (a move), sender, recipient, subject, status flags and read count of the
// message on screen, edited in a working copy that replaces the reader's
// only when the sysop saves.
//
// A move rewrites the message's index record and the area counts of
// "msginfo.bbs" at once, under the message-base lock; nothing else is
// written before the save.  A deleted message is never moved.
#pragma once

#include <cstdint>
#include <string>

#include "common/msg_records.h"

namespace kv::caller {

// Edits header (the message at index position index): true when saved
// (header then holds the edit), false when abandoned.
bool EditMessageHeader(MsgHeader& header, int32_t index);

// Draws the menu of work; the entry (1-8) of a key among keys typed while
// it was drawn, or 0.
int ShowHeaderEditMenu(const MsgHeader& work, const std::string& keys);

// Draws the flags of work, each set or clear; 0.
int EditMessageFlags(const MsgHeader& work);

// Moves the message at index position record from area from to area to in
// "msgidx.bbs" and the counts of "msginfo.bbs": 1, or 0 when the record is
// deleted, is not in area from, or a file fails (the index change stays
// when only the counts fail).
int MoveMessageArea(int32_t record, int from, int to);

}  // namespace kv::caller

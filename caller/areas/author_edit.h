// The sysop's quick edit of a message author's user record from the
// reader ("=" key): the author's name, location, level and calls on one
// screen; the location and the level may be changed.
//
// The record is found by its exact name.  Only what was changed is
// written: the record is read again under the users-file lock just before
// the write and only its location and level are patched, so that what the
// author's own call or another program wrote meanwhile stays.  No editor
// gives a level above his own.
#pragma once

#include "common/msg_records.h"
#include "common/user_record.h"

namespace kv::caller {

// The screen for the author (the sender) of the message.
void EditAuthorRecord(const MsgHeader& header);

// The record whose name is exactly name: its number, or -1.
int FindAuthorRecord(const std::string& name, UserRecord& record);

void ShowAuthorRecord(const UserRecord& record);

// '1' (location), '2' (level) or ' ' (done).
char AskAuthorField();

// Writes the location and level of record into record number n; when n is
// the caller on this line, the call's own record gets them too.
bool RewriteAuthorRecord(int n, const UserRecord& record);

}  // namespace kv::caller

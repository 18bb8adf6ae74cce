// Printing a message on the system's print spooler, or saving it into a
// text file, from the reader's "*" key.
//
// The output is a header block (number, area, status words, date, time,
// times read, sender, recipient, subject), an 80-column rule and the body
// as stored, control lines without their 0x01 byte.
//
// Printing feeds "/usr/bin/lp" through a pipe; its output goes nowhere.
// KV_TEST_PRINTER in the environment names another program in its place
// (a test's recorder), run the same way.
//
// Saving writes into the save directory, "saved" in WorkDir, never beside
// the board's own files: the name the caller types is one file name of
// letters, digits, ".", "_" and "-", not beginning with "." or "-".
#pragma once

#include <string>
#include <string_view>

#include "common/msg_records.h"

namespace kv::caller {

// Asks print, save or neither and writes the message: 1 when written, 0
// when the caller chose neither or nothing could be written.
int PrintOrSaveMessage(const MsgHeader& header);

// The header block and rule, appended to out.
void PrintMessageHeader(const MsgHeader& header, std::string& out);

// The body appended to out: 1, or 0 when the text cannot be read.
int PrintMessageBody(const MsgHeader& header, std::string& out);

// Whether a typed save name is one plain file name as described above.
bool SaveNameIsSound(std::string_view name);

// The directory saved messages go to.
std::string SaveDirectory();

}  // namespace kv::caller

// Message-text files ("message.usa" ... "message.oth") and their loading
// into a text slot of the shared segment.
//
// The file is text.  A line that begins with '#' and an empty line are
// skipped; every other line is
//     N "words"
// where N counts the texts from 0 without a gap.  The text is what follows
// the first double quote, trailing white space removed and then its last
// character (the closing quote) dropped.  "\b", "\n" and "\r" stand for
// backspace, line feed and carriage return; a backslash before any other
// character stands for that character, and one that ends the text stays.
// Text 0 holds the language's answer letters (no, then yes).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kv::server {

// "message.EXT" in the working directory when it is there, else in
// DataDir/bin when it is there, else nothing.
std::optional<std::string> MessageFilePath(int language);

// Loads language's file into slot 0 or 1 of the server's segment.
int LoadMessageFile(int language, int slot);

// Loads the file at path into slot of the segment at segment.  A line out
// of order or without a quote ends the load with failure, as does a text
// that would pass the slot's 1000 texts or 30000 bytes; the texts read
// before stay, and the slot's last-text number is the count read less one.
// Failures are explained on standard error.  Returns 1 or 0.
int LoadTextFile(const std::string& path, uint8_t* segment, int slot);

}  // namespace kv::server

// String clean-up shared by every program: blanks, case and names.
//
// Character tests use the POSIX locale's tables whatever the process locale
// says: white space is blank, tab, line feed, vertical tab, form feed and
// carriage return, and only A-Z and a-z change case.  Bytes above 127 (the
// code-page-437 letters and line drawing) pass through untouched.
#pragma once

#include <string>
#include <string_view>

namespace kv {

bool IsWhiteSpace(char c);
char ToLowerChar(char c);
char ToUpperChar(char c);

// The text from its first character that is not white space; a view into the
// same characters, empty (at the text's end) when the text is all blanks.
std::string_view SkipBlanks(std::string_view text);

// Remove trailing white space, in place; return the text.
std::string& TrimRight(std::string& text);

// Change case in place; return the text.
std::string& LowerCase(std::string& text);
std::string& UpperCase(std::string& text);

// "anne-marie d'arc" -> "Anne-Marie D'Arc", "MACLEAN" -> "Maclean": the first
// character and every one after a blank, apostrophe, comma or hyphen upper
// case, all others lower case.  In place; returns the name.
std::string& CapitalizeName(std::string& name);

// Control bytes (0x00-0x1F except those of keep, and DEL) become blanks,
// in place; returns the text.  Text from outside (an Internet mail) must
// never send escape sequences to a caller's terminal, least of all status
// requests whose answers the terminal would type back into the call.
std::string& BlankControlBytes(std::string& text, std::string_view keep = "\t");

}  // namespace kv

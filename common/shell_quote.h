// Quoting of values that go into a command line run by /bin/sh.
//
// The mailer and the shell archiver run without a shell (command_words.h).
// A command that must keep the shell (a sysop's door command) gets every
// value quoted with this, so that whatever a caller or a mail typed stays
// one word and never becomes shell syntax.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// The value as one single-quoted shell word: 'it'\''s' for it's.  The empty
// value gives '' (still one word).
std::string ShellQuote(std::string_view value);

}  // namespace kv

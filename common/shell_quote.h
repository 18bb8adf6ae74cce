// Quoting of values that go into a command line run by /bin/sh.
//
// Some commands come from the sysop as templates (the mailer, the shell
// archiver) and must go through the shell; every value put into such a
// template is quoted, so that whatever a caller or a mail typed stays one
// word and never becomes shell syntax.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// The value as one single-quoted shell word: 'it'\''s' for it's.  The empty
// value gives '' (still one word).
std::string ShellQuote(std::string_view value);

}  // namespace kv

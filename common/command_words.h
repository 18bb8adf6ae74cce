// Templates the sysop writes in the configuration ("%A", "%T", "%f" codes
// standing for values) and the argument vectors made from them.
//
// The mailer and the shell archiver are run without a shell: their template
// is split into words the way a shell reads quotes, each code is replaced
// inside its word, and the program gets exactly those words.  A value can
// therefore never become shell syntax, whatever quotes, backticks or "$( )"
// it holds, and it never splits into more words.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv {

// Code letters and the values they stand for.
using TemplateCodes = std::vector<std::pair<char, std::string>>;

// Replaces "%c" for each code letter c by its value (letters taken in either
// case when anyCase is set); any other "%x", and a '%' that ends the text,
// stay as they are.
std::string ExpandTemplate(std::string_view text, const TemplateCodes& codes, bool anyCase);

// Splits a command template into words.  Blanks and tabs separate words;
// '...' keeps everything literally, "..." too except that a backslash
// escapes '"', '\\', '$' and '`'; outside quotes a backslash escapes the
// next character.  Codes are replaced in every context by their value as
// it stands.  False, with the reason in why, when a quote is not closed or
// when a value that begins with '-' would begin a word: a program would take
// it for one of its options.
bool SplitCommandTemplate(std::string_view text, const TemplateCodes& codes, bool anyCase,
                          std::vector<std::string>& words, std::string& why);

// The words joined by blanks, for log lines.
std::string JoinWords(const std::vector<std::string>& words);

}  // namespace kv

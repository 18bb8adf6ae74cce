// Validation of new users: their questionnaire answers shown, level and
// flag sets raised to the validated ones, and a letter posted to them in
// the message base.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/user_record.h"
#include "roster/curses_wide.h"
#include "roster/settings.h"

namespace kv::roster {

// The answers file: each user's block starts with a line that begins with
// "***" and holds the user's name, and runs to the next such line.  The
// name must stand there whole: "John Smith" is not in a heading of
// "John Smithers".
bool AnswerHeadingNames(std::string_view line, std::string_view name);
enum class AnswerBlock { kNoFile, kNotFound, kFound };
// The lines of name's first block after its heading, trailing blanks cut.
AnswerBlock ReadAnswerBlock(const std::string& path, const std::string& name, std::vector<std::string>& lines);

// The record as validation leaves it: the validated level, and each flag
// set that is still the new user's set replaced by the validated one.
UserRecord ValidatedRecord(const UserRecord& r, const RosterSettings& s);

// The lines of a letter as they are posted: each line up to its line feed
// with trailing blanks cut; what follows the last line feed is not posted;
// a line longer than kLetterLineMax goes on in the next line.
inline constexpr size_t kLetterLineMax = 1023;
std::vector<std::string> LetterLines(std::string_view text);

// Appends the letter to the message base as a message from the sysop (or
// "kvroster 1.0" when the configuration names none) to recipient in area
// (0-99).  The message number, or 0 when nothing was posted.
int32_t PostLetter(const std::string& recipient, const std::string& subject, int area, bool isPrivate,
                   const std::vector<std::string>& lines);

// The screens.  ValidateUsers: the marked entries (from the main menu) or
// the current one; returns 0.
int ValidateUsers(bool fromMenu);
int ValidateFromMenu();
// -1 when the sysop aborted with Esc, else 0 or 1 (validated).
int ValidateOne(WINDOW* w, int position, UserRecord& record, bool fromMarkedList);
// 1 shown, -1 aborted, 0 not found or no file.
int ShowAnswers(WINDOW* w, const std::string& name);
// The letter's message number, or 0.
int32_t PostValidationLetter(WINDOW* w, const UserRecord& record);

}  // namespace kv::roster

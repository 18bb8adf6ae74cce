// Questionnaire scripts: "<name>.q-a" in DataDir, run by menu command 12
// and, as "newuser", at the end of a registration.
//
// A script is read line by line (at most 254 characters a line; a longer
// one is read as several).  Blank lines and lines beginning with "#" are
// comments; every other line is a keyword (case ignored, at most 20
// characters) and its argument, after the first blank:
//   ask Z3 20            a line of at most 20 (1-255) characters into answer 3
//   getchoice Z2 "abc"   one of the keys into answer 2
//   capitalize/toupper/tolower Zn, listanswer Zn, zap (all answers empty)
//   if Z1 = "YES" ... endif     ("~" for "differs"); nests
//   label 1-5, branch 1-5       back to the start and on to that label
//   display "a|b"        the text, "|" a line end, no line end after it
//   writef "..."         the text expanded (below), with a line end
//   stamplog "..."       the text expanded, into the activity log
//   heredocument         the following lines as they stand, up to "stop"
//   clearscreen, changecolor FG BG, filecat "name" (a path or a display file)
//   execute "command"    through RunExternal
//   postinfo             a block heading in "<name>.asw"
//   outputanswer Zn "label"     the label ("|" a new line) and the answer there
//   setflag C3 ON|OFF, setsecurity LEVEL (0-64000)
//   quit, stop (ends as failed), logoff [0] (ends the call, exit status 50)
// Answers Z0-Z29 hold up to 255 characters each and live only while the
// script runs.  Expansion: %D date, %T time, %F the caller's first name,
// %Zn the answer (%Zn[k] its first k characters), %% one "%", "|" a line
// end; anything else after "%" is an error.  The expanded text is written
// as it stands: a caller's answer never becomes a format.
//
// A keyword that fails stops the script with text 114 naming the script and
// its line (lines read while skipping, searching a label or printing a
// here-document count; "branch" starts the count again).
#pragma once

#include <array>
#include <cstdio>
#include <string>

namespace kv::caller {

constexpr int kAnswerCount = 30;
constexpr size_t kAnswerMax = 255;
using ScriptAnswers = std::array<std::string, kAnswerCount>;

// Runs the questionnaire the argument names; "/D" after the name deletes
// its answers file at the end, "/N" leaves out the log line.  1 when the
// script ran to its end or to "quit" (after "logoff" it does not return);
// 0 when it is missing, its answers file cannot be opened, or it stopped
// on an error or "stop".
int RunQuestionnaire(const std::string& argument);

// The text of "stamplog" and "writef" with its "%" codes and "|" expanded
// into out; 0 on a bad code (out holds what was built up to it).
int ExpandScriptText(const ScriptAnswers& answers, const std::string& text, std::string& out);

// The keyword of a stripped script line: its code 0-25 with the argument,
// or -1 for a word that is no keyword (or longer than 20 characters).
int LookupScriptKeyword(const std::string& line, std::string& argument);

// The answer that the first "Z" and digits of an argument name: 0-29, or
// -1 when there is none or the number is above 29.  end: just after it.
int ParseAnswerNumber(const std::string& argument, size_t* end = nullptr);

}  // namespace kv::caller

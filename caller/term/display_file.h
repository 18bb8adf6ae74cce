// Display files: the screens the sysop writes.
//
// The welcome and closed screens, help screens, bulletins and refusals are
// text files in TextDir, "<name>.ans" (with ANSI codes, shown to a caller
// with colour when it exists) or "<name>.asc" (plain).  A file is shown byte
// by byte as it stands, except:
//   TAB            8 blanks;
//   line feed      "\n\r", and a line counted for the page pause;
//   "#" first      the whole line is a comment, line feed included;
//   "~" and more   a macro code: a value of the call, the caller or the
//                  system, a colour, a paging switch or a command.
//
// Macro codes (the character after "~"; any other character is dropped):
//   ~~ a "~"        ~@ BbsName      ~a wait for a key  ~b/~c stop key off/on
//   ~d/~e pauses off/on             ~g bell  ~h backspace  ~i 8 blanks
//   ~j line feed    ~m carriage return   ~n ~o ~p nothing  ~w sleep 1 s
//   ~l clear the screen (when the caller wants it cleared)
//   ~r number of message areas defined
//   ~!N text N: the characters up to the next blank or line end are read,
//       their leading number is N; text N is shown in their place
//   ~fX a value of the caller, ~kX of the system or the call (display_file.cpp)
//   ~= attributes off, colours 7 on 0   ~+ blink
//   ~(C attributes off, foreground C (0-9, A-F)   ~)C background C (0-8)
//   ~xCOMMAND| runs the sysop's COMMAND, only with AllowShellEscapes; the
//       rest of that line is not shown either way.  The command is the
//       file's own text up to the "|" on that line: nothing the caller typed
//       or owns becomes part of it.  A line without "|" runs nothing.
//
// While a file is shown the caller may stop it ("S", unless the file
// switched stopping off with ~b) or pause it ("P", then any key), or, when
// the caller uses hot keys and a menu gave its keys, press one of the menu's
// keys, which ends the display and is handed back.  With the caller's page
// pause on, a screenful ends at the pause prompt: NoKey stops the display,
// "=" turns pausing off for the rest of the file, any other key goes on.
#pragma once

#include <cstdint>
#include <string>

namespace kv::caller {

// Not a key: the display ran to its end or was stopped, or the file was
// missing while keys were given.
constexpr int16_t kNoHotKey = 255;

// Shows a display file.  mode 0: name is a path; any other mode: name is a
// base name in TextDir, ".ans" or ".asc" added.  hotKeys: the first keyCount
// characters are a menu's keys, one per menu line (a blank, or the mark 254
// of a line the caller may not use, is a line without a key).
// Returns -1 when the file is missing and no keys were given (the caller
// then writes its fallback text); the position in hotKeys of the key that
// ended the display; kNoHotKey otherwise.
int16_t DisplayFile(int mode, const std::string& name, const std::string& hotKeys = "", int keyCount = 0);

// Writes today's weekday (texts 23, Sunday, to 29), its first three
// characters when shortForm is set.
void ShowWeekday(bool shortForm);

}  // namespace kv::caller

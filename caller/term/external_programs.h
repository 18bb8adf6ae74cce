// Other programs run from a call: doors from a menu, commands of display
// files and questionnaires, transfer protocols, the external editor.
//
// RunExternal is the one way kivo runs another program.  It expands the
// "*" codes of the command line, writes the drop file "exitinfo" with the
// call's state (exit_info.h), marks the line's entry while the program
// runs, and takes back afterwards what the program may change: the user
// record, the last-call and time-log records, the two door bytes, the
// credit, the highest message read, the page count, the paging flag and
// the door download allowance.
//
// The command keeps the shell (a sysop's door line may want pipes or
// redirections), so the values of the codes are what must never become
// shell syntax: each is put in as one single-quoted word, a "*" inside a
// value is never read as a code, and a code standing where quoting cannot
// hold (inside quotes of the line, after a backslash or a "$") refuses the
// whole command with a log line.  So does a line that expands beyond 511
// characters: it is never cut into another command.
//
// Codes ("*" and one character, any case):
//   *0 AreaDir of the current file area    *1 current message area, from 0
//   *B line speed (0 on the console)       *C "/bin/sh"
//   *F first name   *L last name           *G 1 with colour, else 0
//   *N line number  *P device name         *R user number
//   *T minutes left                        ** one "*"
//   *# clear the paging flag afterwards    *! credit the running time back
//   *& no drop file                        *Z the terminal's own modes
// Any other character after "*" is dropped with it; a "*" at the very end
// stays.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kv::caller {

constexpr size_t kCommandRoom = 511;

// What the codes stand for in this call.
struct CommandValues {
    std::string AreaDir;      // *0
    int MsgArea = 0;          // *1
    long Speed = 0;           // *B
    std::string FirstName;    // *F
    std::string LastName;     // *L
    bool Color = false;       // *G
    int Line = 0;             // *N
    std::string Device;       // *P
    long UserNumber = 0;      // *R
    long MinutesLeft = 0;     // *T
};

struct CommandFlags {
    bool ClearPaging = false;    // *#
    bool CreditTime = false;     // *!
    bool NoDropFile = false;     // *&
    bool TerminalModes = false;  // *Z
};

enum class Expansion { kDone, kTooLong, kCodeInQuotes };

// Expands command into out (at most kCommandRoom characters) and notes
// its flags.
Expansion ExpandCommand(std::string_view command, const CommandValues& values, std::string& out,
                        CommandFlags& flags);

// The values of the call now.
CommandValues CallCommandValues();

// Runs command (see above).  pause: the shell notice before and a key wait
// after; transfer: the line is a transfer line while the program runs and
// the result is the program's exit status (-1 when it could not be run);
// quiet: no log line and no external-program mark.  Otherwise 1 when the
// program ran, 0 when not (nothing runs for an empty or refused command).
int RunExternal(int pause, int transfer, int quiet, const std::string& command);

// The drop file of this line; written before a program, read back (and
// deleted) after it.  1 on success, 0 on failure.
std::string ExitInfoPath();
int WriteExitInfo();
int ReadExitInfo();

}  // namespace kv::caller

// Root's side of the board's work on a board that another user owns.
//
// That work runs as the board's owner in a process that execs a program of
// the owner's: the owner's other processes (a door, a transfer program, a
// caller who broke out of kivo) may trace it and take its descriptors as
// they like.  So it never gets a terminal of root's, neither among its
// descriptors nor as its controlling terminal: it runs in a session of its
// own, and root's process, which stays root, relays between root's
// terminal and what the work was given instead.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/cp437.h"

namespace kv::line {

// argv (argv[0] a path) as user uid of group gid, with standard input from
// /dev/null and its output and error through pipes whose text this process
// copies to its own, cleaned (TextCleaner).  SIGINT, SIGQUIT, SIGTERM and
// SIGHUP go on to it; at a second one this returns at once, 128 + that
// signal, and leaves it running alone.  Returns its exit status, 128 + the
// signal that ended it, 126 when it could not be started as that user,
// 127 when it could not be run.
int RunWithoutTerminal(uid_t uid, gid_t gid, const std::vector<std::string>& argv);

// argv as that user on a pseudo-terminal of its own (the user's, as a
// login's terminal is), with the modes, speed and size of this process's
// terminal, which is raw and relayed both ways while it runs and gets its
// modes back after.  A hang-up of this terminal, SIGHUP, SIGTERM, SIGINT
// and SIGQUIT hang up the other, and a second of those signals ends the
// wait for it.  Returns as RunWithoutTerminal; -1, with
// why, when there is no terminal here or no pseudo-terminal to be had.
int RunOnOwnTerminal(uid_t uid, gid_t gid, const std::vector<std::string>& argv, std::string& why);

// Waits for a child to end: its exit status, or 128 + the signal that
// ended it (1 when there is no such child).
int WaitFor(pid_t child);

// What a program of another user's writes, as root's terminal may show it:
// text, tab and line feed pass; every other control byte and every escape
// sequence's introducer becomes "?", so nothing drives the terminal.
// Towards a UTF-8 terminal, whole UTF-8 characters pass but the C1
// controls (U+0080 to U+009F); each broken sequence becomes one "?".  An
// 8-bit terminal gets "?" for every byte above 127.  A character cut
// between two pieces is held over to the next.
class TextCleaner {
public:
    explicit TextCleaner(bool utf8) : utf8_(utf8) {}
    std::string Clean(std::string_view bytes);
    // What is left when the text ends: "?" for a character cut short.
    std::string Finish();

private:
    bool utf8_;
    Utf8Reader reader_;
};

}  // namespace kv::line

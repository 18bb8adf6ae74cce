// kvline: the way into the board for every call, over ssh (sshd's forced
// command, and the login shell of the callers' account), at a terminal of
// the machine and from the run command.
//
//   kvline [--bin DIR] BOARD   a call on this terminal
//   kvline                     the same as the callers' account's login
//   kvline -c ANYTHING         shell: the board is the account's home,
//                              the command is never run
//   kvline --in-use BOARD      0 while a caller is on a line, else 1
//   kvline --owner DIR         run as root: who is to do the board's work
//   kvline --as-owner DIR COMMAND [ARG...]
//                              run as root: COMMAND (a path) as the owner of
//                              the board in DIR, with no terminal, its
//                              output relayed as text
//   kvline --as-owner-on-pty DIR COMMAND [ARG...]
//                              the same on a pseudo-terminal of its own,
//                              relayed to and from this terminal
//
// A call takes, under the board's line lock in BOARD/state, the lowest line
// of bbsline.ctl that nobody is on, writes this terminal into its entry
// (the file renamed into place whole), runs kivo there as a line in the
// board's directory, and frees the line however the call ends: its claim
// goes, and an entry in online.ctl that a killed kivo left is cleared.  A
// call without a terminal is refused.  Run as root, everything is done as
// the board's owner, on a pseudo-terminal of the owner's that
// root's process relays: root's terminal is never the owner's.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kv::line {

struct LineOptions {
    enum Mode { kCall, kAccountShell, kInUse, kOwner, kAsOwner, kAsOwnerOnPty } mode = kCall;
    std::string board;                // as given
    std::string bin;                  // the programs; empty: beside this one
    std::vector<std::string> command;  // kAsOwner, kAsOwnerOnPty
};
// false with a usage text in error.
bool ParseLineOptions(int argc, const char* const* argv, LineOptions& options, std::string& error);

// The environment of a call through the callers' account's shell: su and
// the like hand on whatever the local user who called them had set (a
// PATH of their own, BASH_ENV, the test clock), and the board's doors and
// scripts would run with it as the board's user.  Only the terminal's type
// and the locale pass; the rest is the account's own.
std::vector<std::string> AccountShellEnvironment(const char* const* env, const std::string& home,
                                                 const std::string& user, const std::string& shell);

// The start time of a process (clock ticks since boot, from /proc), or
// empty once it is gone: a process id with its start time names one
// process even after the id has gone to another.
std::string ProcessStartTime(pid_t pid);
// A claim file "PID START" of a line's entry program: true while that
// process runs.
bool ClaimLive(const std::string& path);

// Whether a caller is on line n of the board whose state directory is
// state: its entry program holds it, or a kivo started another way runs
// there.  The configuration must be in place (online.ctl in DataDir).
bool LineBusy(const std::string& state, int n);
// The lowest line of count that nobody is on; count when all are taken and
// another may be added, -1 when all 256 are taken.
int ChooseLine(const std::string& state, int count);

int LineMain(int argc, char** argv);

}  // namespace kv::line

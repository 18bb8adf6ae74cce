// kvconsole: the sysop's console.  Run by the sysop in a terminal of the
// sysop's own, as the board's user (or a member of the board's group):
//
//   kvconsole [BOARD]      BOARD: the board's directory (default: here)
//
// It makes a pseudo-terminal of its own, open to the board's group, names
// it in SysopConsole while it runs (so that pages ring there and the sysop
// chat meets the sysop there) and relays between it and the sysop's
// terminal.  Keys: a answers the page (or asks for a line) with a sysop
// chat, in which Ctrl-C ends the chat; m switches a line's monitor; w
// lists who is on; q quits.  On every way out but SIGKILL, SysopConsole is
// put back as it was.
#pragma once

#include <string>
#include <vector>

namespace kv::console {

// args without the program's name.  The exit status: 0 after q, 1 when the
// console could not start or its terminal went away, 128 + the signal that
// ended it, 2 for a bad command line.
int ConsoleMain(const std::vector<std::string>& args);

}  // namespace kv::console

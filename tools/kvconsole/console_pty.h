// The console's own pseudo-terminal: the lines open its far side by the
// name SysopConsole gives, write their pages and the chat there and read
// the sysop's keys from it; the console holds the near side.
#pragma once

#include <sys/types.h>

#include <string>

namespace kv::console {

struct ConsolePty {
    int Master = -1;    // the console's side, not blocking
    int Slave = -1;     // held open, so that a line closing it loses nothing
    std::string Name;   // below "/dev/": "pts/7"
};

// Makes one: raw (bytes pass as they are, nothing echoed), owned by the
// board's group with read and write for it, which is what a line takes
// for the sysop's console.  False, with why, on failure.
bool MakeConsolePty(gid_t boardGroup, ConsolePty& pty, std::string& why);
void CloseConsolePty(ConsolePty& pty);

}  // namespace kv::console

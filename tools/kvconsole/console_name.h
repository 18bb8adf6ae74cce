// SysopConsole in "kvconfig.bbs": the console names its own terminal there
// while it runs, and puts the name it found back when it ends.  The file is
// rewritten whole (a reader meets the old file or the new one), its other
// bytes as they were, and the running server reloads it, so that every
// line pages the console from the next page on.
#pragma once

#include <string>

namespace kv::console {

struct ConsoleClaim {
    std::string File;      // the configuration file rewritten
    std::string DataDir;   // where the server's command pipe lies
    std::string Previous;  // SysopConsole before the console took it
    std::string Ours;      // the console's terminal, below "/dev/"
};

enum class Reload { kDone, kNoServer, kFailed };

// Names ours in the configuration file that the board's programs load
// (the working directory's, else KIVOCNF's) and asks the server to reload.
// False, with why, when the file cannot be read or rewritten; the reload's
// outcome is in reload.
bool TakeConsole(const std::string& ours, ConsoleClaim& claim, Reload& reload, std::string& why);

// Puts Previous back, when the file still names ours (a console started
// after this one keeps its name), and asks for a reload.  False, with why,
// when the file could not be read or rewritten.
bool GiveBackConsole(const ConsoleClaim& claim, std::string& why);

}  // namespace kv::console

// What the system tells of a running process through /proc/PID/stat: its
// command name, its state and its start time.  A process number alone
// names a process only while it runs; with its start time it names one
// process even after the number has gone to another.
#pragma once

#include <sys/types.h>

#include <string>

namespace kv {

struct ProcessInfo {
    std::string name;       // the command's name, as "comm" holds it
    char state = 0;         // 'R', 'S', ... 'Z' for one that ended unreaped
    unsigned terminal = 0;  // its controlling terminal's device number, 0 none
    std::string startTime;  // clock ticks after boot, as the file writes it
};

// false when there is no such process to look at (gone, or hidden).
bool ReadProcessInfo(pid_t pid, ProcessInfo& info);

}  // namespace kv

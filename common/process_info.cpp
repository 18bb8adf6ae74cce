#include "common/process_info.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace kv {

bool ReadProcessInfo(pid_t pid, ProcessInfo& info) {
    if (pid <= 0) return false;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return false;
    // The command's name may hold blanks and parentheses: it runs from the
    // first "(" to the last ")", and the numbered fields follow.
    size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    std::istringstream fields(stat.substr(close + 1));
    // After the name: state, ppid, pgrp, session, tty_nr, ... and the start
    // time, the 20th of them.
    std::string field;
    ProcessInfo got;
    got.name = stat.substr(open + 1, close - open - 1);
    for (int i = 0; i < 20 && fields >> field; ++i) {
        if (i == 0) got.state = field.empty() ? 0 : field[0];
        if (i == 4) got.terminal = unsigned(std::strtoul(field.c_str(), nullptr, 10));
    }
    if (!fields || got.state == 0) return false;
    got.startTime = field;
    info = std::move(got);
    return true;
}

}  // namespace kv

#include "tools/kvprune/options.h"

#include <cstdio>
#include <string_view>

namespace kv::prune {
namespace {

constexpr const char* kVersionLine = "kvprune v1.0 - message base maintenance\n";

constexpr const char* kUsageLines[] = {
    "Usage: kvprune [h] [SWITCH] [-o]\n\n",
    "  where SWITCH mean:\n",
    "    -d'n' - 'n' numbers of days to keep message. (Default 40)\n",
    "    -r'n' - 'n' numbers of days to keep recvd message. (Default 40)\n",
    "    -b'n' - act only on base 'n', can be used more than once.\n",
    "    -m'n' - maximum messages per base (Default 200).\n",
    "    -f'F' - 'F' is log file name (default kivo0.log).\n",
    "    -t    - to make verbose logging.\n",
    "    -p    - pack the file after deletion (if any).\n",
    "    -k    - delete backup files after packing.\n",
    "    -n    - renumber the messages.\n",
    "    -z    - do not add Kvprune v0.1 kludge line while packing files.\n",
    "    -v    - print out version info.\n",
    "    -o    - use info from kvconfig.bbs.\n",
    "    -w    - wait until no caller is on line to pack or renumber.\n",
};

// A count given on the command line: decimal digits only, so that "-d-5" or
// "-m1O" is an error rather than a surprise.
bool ParseCount(std::string_view s, int& out) {
    if (s.empty() || s.size() > 9) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

bool ParseArea(std::string_view s, int& area) {
    return ParseCount(s, area) && area >= 1 && area <= kMsgAreaCount;
}

OptionOutcome Usage(int status, std::string reason) {
    return {OptionOutcome::kUsage, status, std::move(reason)};
}

OptionOutcome ZeroValue(char letter) {
    return Usage(1, std::string("Value of argument \"-") + letter + "\" cannot be ZERO");
}

}  // namespace

bool ParseAreaSelection(const std::string& value, std::bitset<kMsgAreaCount>& areas) {
    std::string_view v(value);
    std::bitset<kMsgAreaCount> chosen;
    if (size_t dash = v.find('-'); dash != std::string_view::npos) {
        int first = 0, last = 0;
        if (!ParseArea(v.substr(0, dash), first) || !ParseArea(v.substr(dash + 1), last) || first >= last)
            return false;
        for (int a = first; a <= last; ++a) chosen.set(size_t(a - 1));
    } else if (v.find(',') != std::string_view::npos) {
        // Split at commas and blanks; empty pieces between them do not count.
        size_t at = 0;
        while (at < v.size()) {
            size_t end = v.find_first_of(", ", at);
            if (end == std::string_view::npos) end = v.size();
            if (end > at) {
                int a = 0;
                if (!ParseArea(v.substr(at, end - at), a)) return false;
                chosen.set(size_t(a - 1));
            }
            at = end + 1;
        }
        if (chosen.none()) return false;
    } else {
        int a = 0;
        if (!ParseArea(v, a)) return false;
        chosen.set(size_t(a - 1));
    }
    areas |= chosen;
    return true;
}

OptionOutcome ParseOptions(const std::vector<std::string>& args, PruneOptions& opts) {
    if (args.empty() || args[0][0] == 'h' || args[0][0] == 'H') return Usage(1, "");
    for (const std::string& arg : args) {
        if (arg.empty() || arg[0] != '-') break;
        char letter = arg.size() > 1 ? arg[1] : '-';
        std::string value = arg.size() > 2 ? arg.substr(2) : std::string();
        switch (letter) {
        case 'd':
            if (!ParseCount(value, opts.keepDays) || opts.keepDays == 0) return ZeroValue('d');
            break;
        case 'r':
            if (!ParseCount(value, opts.keepReceivedDays) || opts.keepReceivedDays == 0) return ZeroValue('r');
            break;
        case 'b':
            if (!ParseAreaSelection(value, opts.areas)) return ZeroValue('b');
            break;
        case 'm':
            if (!ParseCount(value, opts.maxMessages)) return Usage(2, "Bad argument -> m");
            break;
        case 'f':
            if (value.empty()) return Usage(2, "Bad argument -> f");
            opts.logName = value;
            break;
        case 't': opts.verbose = true; break;
        case 'p': opts.pack = true; break;
        case 'k': opts.keepBackups = false; break;
        case 'n': opts.renumber = true; break;
        case 'z': opts.pidLine = false; break;
        case 'o': opts.useAreaLimits = true; break;
        case 'w': opts.waitForLines = true; break;
        case 'D': break;
        case 'v': return {OptionOutcome::kVersion, 0, ""};
        default: return Usage(2, std::string("Bad argument -> ") + letter);
        }
    }
    return {};
}

void PrintVersion() { std::fputs(kVersionLine, stdout); }

void PrintUsage(const std::string& reason) {
    std::fputs(kVersionLine, stderr);
    if (!reason.empty()) std::printf("%s.\n\a", reason.c_str());
    for (const char* line : kUsageLines) std::fputs(line, stdout);
    std::fflush(stdout);
}

}  // namespace kv::prune

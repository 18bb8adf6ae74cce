// kvprune's command line: the settings of one run and how they are read.
#pragma once

#include <bitset>
#include <string>
#include <vector>

#include "common/config_record.h"

namespace kv::prune {

// The settings of one run, with their defaults.
struct PruneOptions {
    int keepDays = 40;                       // -d, not 0
    int keepReceivedDays = 40;               // -r, not 0
    int maxMessages = 200;                   // -m, 0: the age rule
    std::bitset<kMsgAreaCount> areas;        // -b, areas 0-99; none: every area
    bool useAreaLimits = false;              // -o
    std::string logName;                     // -f; empty: the configured line log
    bool verbose = false;                    // -t
    bool pack = false;                       // -p
    bool keepBackups = true;                 // -k clears it
    bool renumber = false;                   // -n
    bool pidLine = true;                     // -z clears it
    bool waitForLines = false;               // -w: wait while callers are on line
};

// What the command line asks for: a run, or an exit with a status after the
// usage (with a reason when there is one) or the version line.
struct OptionOutcome {
    enum Kind { kRun, kUsage, kVersion } kind = kRun;
    int status = 0;
    std::string reason;
};

// Reads the arguments after the program name.  Parsing stops at the first
// argument that does not begin with '-'.
OptionOutcome ParseOptions(const std::vector<std::string>& args, PruneOptions& opts);

// Reads a -b value (areas counted from 1 to 100) into the set; false when
// the value is unreadable, holds 0 or an area above 100.
bool ParseAreaSelection(const std::string& value, std::bitset<kMsgAreaCount>& areas);

// The version line on standard error, then the usage on standard output.
void PrintUsage(const std::string& reason);
void PrintVersion();

}  // namespace kv::prune

#include "tools/kvprune/prune_main.h"

#include <cstdio>

#include "common/runtime.h"
#include "tools/kvprune/maintenance.h"
#include "tools/kvprune/options.h"
#include "tools/kvprune/prune_config.h"
#include "tools/kvprune/prune_log.h"

namespace kv::prune {

int PruneMain(const std::vector<std::string>& args) {
    KeepNewFilesFromOthers();
    PruneOptions opts;
    OptionOutcome outcome = ParseOptions(args, opts);
    if (outcome.kind == OptionOutcome::kUsage) {
        PrintUsage(outcome.reason);
        return outcome.status;
    }
    if (outcome.kind == OptionOutcome::kVersion) {
        PrintVersion();
        return 0;
    }
    // A scheduled run must be able to tell that nothing was done.
    if (!LoadPruneConfig()) {
        std::fputs("Cannot load Kivo configuration file, please check!\n", stderr);
        return 1;
    }
    OpenPruneLog(PruneLogPath(opts.logName));
    PruneLog("------------- kvprune - v0.1 ----------------");
    PruneLogF("Beginning of operation * Verbose mode: %s", opts.verbose ? "ON" : "OFF");
    int status = PurgeMessages(opts);
    PruneLog("End of operation");
    PruneLog("------------------------------------------\n");
    return status;
}

}  // namespace kv::prune

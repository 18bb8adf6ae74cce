// A line's time log "timelog.bbs", read and drawn as the usage graph.
#include "caller/core/time_log.h"
#include "caller/core/usage_graph.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    std::string path = TimeLogPath(0);
    kv::fuzz::WriteScratchFile(path.substr(path.rfind('/') + 1), data, size);
    ShowUsageGraph("0");
    return 0;
}

// The line list "bbsline.ctl": read whole, and a device looked up in it.
#include "caller/core/call_state.h"
#include "caller/core/startup.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    kv::fuzz::WriteScratchFile("bbsline.ctl", data, size);
    std::vector<LineTableEntry> lines;
    ReadLineTable(lines);
    for (const char* device : {"pts/3", "tty1", "console"}) {
        Call().DeviceName = device;
        LookupLine();
    }
    return 0;
}

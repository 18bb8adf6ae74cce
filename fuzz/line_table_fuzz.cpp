// The line list "bbsline.ctl": read whole, a device looked up in it, and
// the entry program's rewrite of one entry, which must name the new device
// there and leave every other entry as it read.
#include <algorithm>
#include <cstdlib>

#include "caller/core/call_state.h"
#include "caller/core/startup.h"
#include "common/line_table.h"
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

    std::string_view text(reinterpret_cast<const char*>(data), size);
    // The entry program writes an entry that is there or the one after the last.
    int line = size > 0 ? int(data[0] % (lines.size() + 1)) : 0;
    std::vector<LineTableEntry> after = kv::ParseLineTable(kv::SetLineDevice(text, line, "pts/9"));
    if (lines.size() < size_t(kv::kLineTableMax) && after.size() != std::max(lines.size(), size_t(line) + 1))
        std::abort();
    if (size_t(line) < after.size() && size_t(line) < size_t(kv::kLineTableMax) && after[size_t(line)].Device != "pts/9")
        std::abort();
    for (size_t i = 0; i < lines.size() && i < after.size(); ++i)
        if (int(i) != line && (after[i].Device != lines[i].Device || after[i].Speed != lines[i].Speed))
            std::abort();
    return 0;
}

// The limits file "limits.ctl": read as kivo and kvroster read it, and a
// caller's line taken into the call for each line speed.
#include "caller/core/limits.h"
#include "common/limits_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    kv::fuzz::WriteScratchFile(kv::kLimitsFile, data, size);
    std::vector<kv::LevelLimits> lines;
    kv::ReadLimitsFile(true, lines);
    kv::ReadLimitsFile(false, lines);
    for (const kv::LevelLimits& l : lines) kv::caller::LoadLimits(l.Level, 2400);
    kv::caller::LoadLimits(0, 0);
    return 0;
}

// The limits file "limits.ctl": read as kivo and kvroster read it, and a
// caller's line taken into the call for every level it names and each
// line speed.  kvroster's reading skips only comment lines; the call takes
// the first line of its level (the defaults without one), its minutes and
// download limit for the speed within the call's 16-bit fields, and its
// ratios as they stand.
#include <algorithm>
#include <limits>

#include "caller/term/call_state.h"
#include "caller/term/limits.h"
#include "common/limits_file.h"
#include "fuzz/fuzz_support.h"

using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    kv::fuzz::WriteScratchFile(kv::kLimitsFile, data, size);
    std::vector<kv::LevelLimits> all, plain;
    Check(kv::ReadLimitsFile(false, all) && kv::ReadLimitsFile(true, plain), "the limits file could not be read");
    Check(plain.size() <= all.size(), "skipping comments gave more lines");
    auto fit = [](int32_t v) {
        return int16_t(std::clamp<int32_t>(v, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
    };
    std::vector<int32_t> levels = {0, 12345};
    for (size_t i = 0; i < all.size() && i < 16; ++i) levels.push_back(all[i].Level);
    for (int32_t level : levels) {
        kv::LevelLimits want;
        for (const kv::LevelLimits& l : all)
            if (l.Level == level) {
                want = l;
                break;
            }
        for (long bps : {0L, 300L, 1200L, 2400L, 4800L, 38400L}) {
            Check(kv::caller::LoadLimits(level, bps) == 1, "a readable limits file was not taken");
            const kv::caller::CallState& c = kv::caller::Call();
            Check(c.CallMinutes == fit(want.Minutes), "the call's minutes are not its level's");
            Check(c.DownloadLimitKB == fit(kv::caller::DownloadLimitFor(want, bps)),
                  "the call's download limit is not its level's for the speed");
            Check(c.FileRatio == want.FileRatio && c.ByteRatio == want.ByteRatio, "the call's ratios are not its level's");
        }
    }
    return 0;
}

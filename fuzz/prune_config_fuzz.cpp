// kvprune's configuration: the first byte is the length of a command line
// (words split at blanks) that follows it; the rest is "kvconfig.bbs" in
// the working directory.  The file loads exactly when it holds a whole
// record, and the record kvprune then runs with encodes back as the file's
// first 50000 bytes lay (texts cut at their first NUL).  A run's options
// never keep messages for 0 days.  The purge rule, under those options and
// that record, never touches an area outside the selection or outside the
// base, purges an older message whenever a younger one of the same area
// goes and never more for fewer live messages, and takes a configured
// limit or keep count of 0 or less as no limit at all.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/config_record.h"
#include "common/runtime.h"
#include "fuzz/fuzz_records.h"
#include "fuzz/fuzz_support.h"
#include "tools/kvprune/maintenance.h"
#include "tools/kvprune/options.h"
#include "tools/kvprune/prune_config.h"

using namespace kv;
using namespace kv::prune;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool unset = (unsetenv("KIVOCNF"), true);
    (void)unset;
    if (size == 0) return 0;
    const size_t n = std::min<size_t>(data[0], size - 1);
    std::vector<std::string> args;
    std::string_view line = fuzz::Bytes(data + 1, n);
    for (size_t at = 0; at <= line.size();) {
        size_t end = std::min(line.find(' ', at), line.size());
        if (end > at) args.emplace_back(line.substr(at, end - at));
        at = end + 1;
    }
    std::string_view file = fuzz::Bytes(data + 1 + n, size - 1 - n);
    fuzz::WriteScratchFile("kvconfig.bbs", file);

    // kvprune reads the file in its working directory.
    const int back = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Check(back >= 0 && chdir(fuzz::ScratchDir().c_str()) == 0, "harness: no scratch directory");
    const bool loaded = LoadPruneConfig();
    Check(fchdir(back) == 0, "harness: the working directory is gone");
    close(back);
    Check(loaded == (file.size() >= kConfigFileSize), "a whole record was refused, or a short one taken");
    if (!loaded) return 0;
    ConfigBytes slot{};
    EncodeConfig(Config(), slot.data());
    Check(std::vector<uint8_t>(slot.begin(), slot.begin() + kConfigFileSize) ==
              fuzz::CanonicalRecord<ConfigRecord>(reinterpret_cast<const uint8_t*>(file.data())),
          "the configuration does not encode back as the file held it");

    PruneOptions opts;
    OptionOutcome outcome = ParseOptions(args, opts);
    if (outcome.kind != OptionOutcome::kRun) return 0;
    Check(opts.keepDays != 0 && opts.keepReceivedDays != 0, "a run keeps messages for 0 days");

    AreaCounts live{};
    for (size_t a = 0; a < live.size(); ++a) live[a] = int32_t(a * 7 % 300);
    for (int16_t area = -2; area <= int16_t(kMsgAreaCount) + 1; ++area) {
        MsgHeader h;
        h.MsgArea = area;
        for (uint8_t status : {uint8_t(0), uint8_t(MSG_RECEIVED)}) {
            h.Status = status;
            const bool inBase = area >= 0 && area < int16_t(kMsgAreaCount);
            const bool chosen = inBase && (opts.areas.none() || opts.areas.test(size_t(area)));
            bool earlier = false;
            for (long age : {0L, 1L, 30L, 400L, 40000L}) {
                bool purged = ShouldPurge(h, opts, live, age);
                Check(!purged || chosen, "a message outside the selection was purged");
                Check(purged || !earlier, "an older message kept where a younger one goes");
                earlier = purged;
                if (!inBase) continue;
                AreaCounts fewer = live;
                fewer[size_t(area)] = 0;
                Check(!ShouldPurge(h, opts, fewer, age) || purged, "fewer live messages purged more");
                if (opts.useAreaLimits) {
                    const MsgAreaDef& def = Config().MsgAreas[size_t(area)];
                    const long keep = status ? def.KeepReceivedDays : def.KeepDays;
                    if (def.MaxMessages <= 0 && keep <= 0) Check(!purged, "a configured 0 or less purged as a limit");
                }
            }
        }
    }
    return 0;
}

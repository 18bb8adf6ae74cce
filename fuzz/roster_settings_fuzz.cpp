// kvroster's settings file "kvconfig.kvr": read as the editor reads it, and
// what it decoded written and read again unchanged.  Whatever the file
// holds, the values the editor indexes its tables or the base with are
// within their ranges: a layout it has, levels it can set, a letter area
// of the base.
#include "common/config_record.h"
#include "fuzz/fuzz_support.h"
#include "roster/settings.h"

using namespace kv::roster;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureConfig();
    std::string path = kv::fuzz::WriteScratchFile(kSettingsFile, data, size);
    bool fromDefaults = false;
    RosterSettings s = ReadSettingsFile(path, fromDefaults);
    SettingsBytes once = EncodeSettings(s);
    Check(EncodeSettings(DecodeSettings(once.data())) == once, "the settings do not read back as written");
    Check(s.DefaultLayout < kLayoutCount, "a layout the editor does not have");
    Check(s.UnvalidatedLevel >= 0 && s.UnvalidatedLevel <= kMaxUnvalidatedLevel && s.ValidatedLevel >= 0 &&
              s.ValidatedLevel <= kMaxValidatedLevel,
          "a level beyond what the editor sets");
    Check(s.LetterArea >= 1 && s.LetterArea <= int16_t(kv::kMsgAreaCount), "a letter area outside the base");
    return 0;
}

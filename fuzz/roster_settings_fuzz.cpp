// kvroster's settings file "kvconfig.kvr": read as the editor reads it, and
// what it decoded written and read again unchanged.
#include "fuzz/fuzz_support.h"
#include "roster/settings.h"

using namespace kv::roster;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureConfig();
    std::string path = kv::fuzz::WriteScratchFile(kSettingsFile, data, size);
    bool fromDefaults = false;
    RosterSettings s = ReadSettingsFile(path, fromDefaults);
    SettingsBytes once = EncodeSettings(s);
    if (EncodeSettings(DecodeSettings(once.data())) != once) __builtin_trap();
    return 0;
}

// A display file with its macro codes, shown to a caller with colour and
// ANSI on, pauses on and a menu's hot keys given.  "~w" sleeps a second by
// design; inputs with it are left out so the fuzzer does not crawl.
#include <cstring>
#include <string_view>

#include "caller/core/call_state.h"
#include "caller/core/display_file.h"
#include "common/user_record.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    if (std::string_view(reinterpret_cast<const char*>(data), size).find("~w") != std::string_view::npos) return -1;
    CallState& c = Call();
    c.AnsiOn = c.ColorOn = true;
    c.User.Name = "Terry Fuzz";
    c.User.Options = kv::USER_PAGE_BREAK | kv::USER_CLEAR_SCREEN;
    c.User.Options2 = kv::USER_HOT_KEYS;
    std::string path = kv::fuzz::WriteScratchFile("fuzz.ans", data, size);
    DisplayFile(0, path);
    DisplayFile(0, path, "ABC", 3);
    return 0;
}

// A display file with its macro codes, shown to a caller with colour and
// ANSI on, pauses on, hot keys and a menu's keys given, and keys typed
// while it shows (the first byte is their count; they follow it, the file
// after them).  The display ends with one of the menu's keys only when that
// key was typed, and with no other value; a file shown without keys is
// never taken for a missing one; and ~x runs nothing, as the board allows
// no shell escapes.  "~w" sleeps a second by design; inputs with it are
// left out so the fuzzer does not crawl.
#include <algorithm>
#include <cctype>
#include <string_view>

#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "common/user_record.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    if (size == 0) return 0;
    const size_t typed = std::min<size_t>(data[0], size - 1);
    std::string_view keys = kv::fuzz::Bytes(data + 1, typed);
    std::string_view file = kv::fuzz::Bytes(data + 1 + typed, size - 1 - typed);
    if (file.find("~w") != std::string_view::npos) return -1;
    CallState& c = Call();
    c.AnsiOn = c.ColorOn = true;
    c.User.Name = "Terry Fuzz";
    c.User.Options = kv::USER_PAGE_BREAK | kv::USER_CLEAR_SCREEN;
    c.User.Options2 = kv::USER_HOT_KEYS;
    std::string path = kv::fuzz::WriteScratchFile("fuzz.ans", file);

    const std::string menuKeys = "AB C";  // the third line has no key
    for (bool withKeys : {false, true}) {
        kv::fuzz::TypeKeys(keys, 1);
        int16_t result = kNoHotKey;
        try {
            result = withKeys ? DisplayFile(0, path, menuKeys, 4) : DisplayFile(0, path);
        } catch (const kv::fuzz::KeysRanOut&) {
            continue;  // waiting at a pause or a ~a for a key nobody types
        }
        kv::fuzz::StopTyping();
        Check(result != -1, "a file that is there was taken for a missing one");
        if (result == kNoHotKey) continue;
        Check(withKeys && result >= 0 && result < 4 && menuKeys[size_t(result)] != ' ',
              "the display ended with no key of the menu");
        const char key = menuKeys[size_t(result)];
        Check(std::any_of(keys.begin(), keys.end(), [&](char k) { return std::toupper(uint8_t(k)) == key; }),
              "the display ended with a key nobody typed");
    }
    kv::fuzz::StopTyping();
    Check(DisplayFile(1, "no such file") == -1, "a missing file was shown");
    Check(DisplayFile(1, "no such file", menuKeys, 4) == kNoHotKey, "a missing file ended with a key");
    return 0;
}

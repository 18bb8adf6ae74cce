// kivo's key reader on a UTF-8 line: the bytes a caller's terminal sends
// (the first byte sets how many reach one read, so sequences split across
// reads), read key by key through the reader every prompt uses.  The keys
// must be those of the well-formed sequences, in order; nothing of a
// refused sequence is a key, the keys after one are kept, and the bell
// rings for it.
#include <vector>

#include "caller/term/call_state.h"
#include "caller/term/terminal.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::KeysRanOut;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall();
    if (size == 0) return 0;
    CallState& c = Call();
    c.Utf8Terminal = true;
    c.LocalMode = false;
    c.OutputDelay = 0;
    kv::fuzz::CapturedOutput out;
    // The caller ends with Enter, so no sequence is left under way.
    std::string typed(kv::fuzz::Bytes(data + 1, size - 1));
    typed += '\r';
    kv::fuzz::TypeKeys(typed, 1 + data[0] % 7);
    std::vector<int> keys, gaps;
    try {
        for (;;) {
            int key = GetKeyNoTimeout();
            std::string rung = out.Take();
            gaps.push_back(int(rung.size()));
            kv::fuzz::Check(rung.find_first_not_of('\a') == std::string::npos, "the reader wrote more than bells");
            keys.push_back(key);
        }
    } catch (const KeysRanOut&) {
    }
    kv::fuzz::StopTyping();
    gaps.push_back(int(out.Take().size()));

    // NUL is no key on this line.
    std::vector<kv::fuzz::Utf8Item> want;
    for (const kv::fuzz::Utf8Item& item : kv::fuzz::ReferenceUtf8Keys(typed, true))
        if (!(item.key && item.value == 0)) want.push_back(item);
    kv::fuzz::CheckKeysAgainstReference(want, keys, gaps);
    return 0;
}

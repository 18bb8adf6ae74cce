// kvroster's key reader on a UTF-8 terminal, apart from curses: what the
// reads give, in order.  A byte 0xFF is an escape: 0xFF 0x00 a read that
// timed out on a quiet line, 0xFF 0xFF the byte 0xFF itself, 0xFF n any
// other curses key code.  The keys must be those of the well-formed
// sequences with the key codes among them; a refused sequence (one cut off
// by a key code or by the quiet too) gives no key, takes none of the keys
// after it, and beeps.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "roster/screen.h"

namespace {

int gBeeps = 0;
void CountBeep() { ++gBeeps; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::roster::Utf8Keys reader(CountBeep);
    gBeeps = 0;
    std::vector<int> keys, gaps;
    std::vector<kv::fuzz::Utf8Item> want;
    std::string stretch;  // bytes since the last key code or quiet read
    auto take = [&](int read) {
        int key = reader.Take(read);
        if (key < 0) return;
        gaps.push_back(gBeeps);
        gBeeps = 0;
        keys.push_back(key);
    };
    auto endStretch = [&](bool cut) {
        for (const kv::fuzz::Utf8Item& item : kv::fuzz::ReferenceUtf8Keys(stretch, cut)) want.push_back(item);
        stretch.clear();
    };
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0xFF || i + 1 == size || data[i + 1] == 0xFF) {
            stretch += char(data[i]);
            take(data[i]);
            i += data[i] == 0xFF && i + 1 < size;
            continue;
        }
        const int code = data[++i] == 0 ? ERR : KEY_MIN + data[i];
        endStretch(true);
        take(code);
        if (code != ERR) want.push_back({true, code});
    }
    // Enter at the end: nothing left under way.
    stretch += '\r';
    take('\r');
    endStretch(true);
    gaps.push_back(gBeeps);

    kv::fuzz::CheckKeysAgainstReference(want, keys, gaps);
    return 0;
}

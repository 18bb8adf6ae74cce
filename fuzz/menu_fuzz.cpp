// A menu file: its records decoded, the keys and codes of its lines taken
// for a caller, each menu change's argument followed, and the menu drawn.
// The drawing clears the AutoRun flags first: an AutoRun line runs its
// command (a door, a transfer), which is no part of reading the file.
#include <span>

#include "caller/core/call_state.h"
#include "caller/core/menus.h"
#include "common/menu_record.h"
#include "fuzz/fuzz_support.h"

using namespace kv;
using namespace kv::caller;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    std::vector<MenuRecord> records = DecodeMenuFile(data, size);
    if (records.empty()) return 0;
    CallState& c = Call();
    c.AnsiOn = c.ColorOn = true;
    c.User.Options2 = USER_HOT_KEYS;
    c.User.SecurityLevel = 100;

    int n = int(records.size()) - 1;
    std::span<const MenuRecord> lines(records.data() + 1, size_t(n));
    std::string keys;
    std::vector<int16_t> codes;
    MenuLineKeys(n, keys, codes, lines);
    FilterMenuLines(keys, codes, n, lines);
    MenuStack stack;
    stack.Entries[0] = kTopMenu;
    for (const MenuRecord& line : lines)
        if (line.Command >= kMenuGoTo && line.Command <= kMenuRestart) ChangeMenu(stack, line, line.Command);

    for (MenuRecord& r : records) r.AutoRun = 0;
    MenuLineKeys(n, keys, codes, lines);
    FilterMenuLines(keys, codes, n, lines);
    RunFullScreenMenu(keys, codes, n, records);
    PrintMenuText(records[0]);
    return 0;
}

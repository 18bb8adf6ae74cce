// A menu file with keys typed at it: the first byte is the number of keys,
// which follow it; the rest is the file.  Its records decoded, the keys and
// codes of its lines taken for a caller, each menu change's argument
// followed, the menu drawn and its prompt answered, with hot keys and
// without.  Keys and codes stand one per line; a menu change keeps the
// stack within its 24 entries, each one file name of at most ten
// characters and ".mnu" (no '/': it names no file outside MenuDir); a
// choice is a line of the menu the caller may use, chosen by a key that
// was typed.  The drawing clears the AutoRun flags first: an AutoRun line
// runs its command (a door, a transfer), which is no part of reading the
// file.
#include <cctype>
#include <span>

#include "caller/call/menus.h"
#include "caller/term/call_state.h"
#include "common/menu_record.h"
#include "fuzz/fuzz_support.h"

using namespace kv;
using namespace kv::caller;
using kv::fuzz::Check;

namespace {

void CheckStack(const MenuStack& stack) {
    Check(stack.Depth >= 0 && stack.Depth < kMenuStackSize, "the menu stack ran out of its entries");
    const std::string& name = stack.Current();
    Check(name.size() >= 4 && name.size() <= kMenuNameMax + 4 && name.compare(name.size() - 4, 4, ".mnu") == 0 &&
              name.find('/') == std::string::npos,
          "a menu entry that is no menu file's name");
}

void CheckChoice(int chosen, int n, const std::string& keys, std::string_view typed) {
    if (chosen == kNoChoice) return;
    Check(chosen >= 0 && chosen < n && chosen < int(keys.size()), "a choice beyond the menu's lines");
    const uint8_t key = uint8_t(keys[size_t(chosen)]);
    Check(key != kHiddenLine && key != ' ' && key != 0, "a line without a key for this caller was chosen");
    bool typedIt = false;
    for (char k : typed) typedIt = typedIt || std::toupper(uint8_t(k)) == std::toupper(key);
    Check(typedIt, "a line was chosen by a key nobody typed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    if (size == 0) return 0;
    const size_t count = std::min<size_t>(data[0], size - 1);
    std::string_view typed = kv::fuzz::Bytes(data + 1, count);
    std::vector<MenuRecord> records = DecodeMenuFile(data + 1 + count, size - 1 - count);
    if (records.empty()) return 0;
    CallState& c = Call();
    c.AnsiOn = c.ColorOn = true;
    c.User.SecurityLevel = 100;

    int n = int(records.size()) - 1;
    std::span<const MenuRecord> lines(records.data() + 1, size_t(n));
    std::string keys;
    std::vector<int16_t> codes;
    MenuLineKeys(n, keys, codes, lines);
    FilterMenuLines(keys, codes, n, lines);
    Check(keys.size() == size_t(n) && codes.size() == size_t(n), "not one key and one code per line");
    MenuStack stack;
    stack.Entries[0] = kTopMenu;
    for (const MenuRecord& line : lines) {
        Check(MenuFileName(line.Argument).find('/') == std::string::npos, "a menu name that leaves the menus");
        if (line.Command >= kMenuGoTo && line.Command <= kMenuRestart) {
            ChangeMenu(stack, line, line.Command);
            CheckStack(stack);
        }
    }

    for (MenuRecord& r : records) r.AutoRun = 0;
    for (bool hot : {true, false}) {
        c.User.Options2 = hot ? USER_HOT_KEYS : 0;
        MenuLineKeys(n, keys, codes, lines);
        FilterMenuLines(keys, codes, n, lines);
        kv::fuzz::TypeKeys(typed, 1);
        try {
            CheckChoice(RunFullScreenMenu(keys, codes, n, records), n, keys, typed);
            CheckChoice(ReadMenuKey(hot, n, keys, records[0]), n, keys, typed);
        } catch (const kv::fuzz::KeysRanOut&) {
        }
        kv::fuzz::StopTyping();
    }
    PrintMenuText(records[0]);
    return 0;
}

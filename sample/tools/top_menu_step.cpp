// The sample board's top menu "top.mnu" in MenuDir, until the menus have a
// readable source of their own: a prompt record and one line, "G" for log
// off.  kivo refuses to start without a top menu.  Records of 172 bytes:
// +0 command (prompt: foreground), +4 int32 level (prompt: background),
// +13 text[75], +88 hot key, +89 argument[80], +169/+170 line colours.
#include <array>
#include <string>

#include "common/record_io.h"
#include "sample/tools/builders.h"

namespace fs = std::filesystem;

namespace kv::sample {
namespace {

constexpr size_t kMenuRecordSize = 172;
using MenuBytes = std::array<uint8_t, kMenuRecordSize>;

MenuBytes MenuLine(uint8_t command, int32_t level, const char* text, char key, uint8_t fg, uint8_t bg) {
    MenuBytes r{};
    r[0] = command;
    PutLE32(&r[4], uint32_t(level));
    PutText(&r[13], 75, text);
    r[88] = uint8_t(key);
    r[169] = fg;
    r[170] = bg;
    return r;
}

bool StepTopMenu(BoardContext& b) {
    fs::path path = fs::path(b.config.MenuDir) / "top.mnu";
    if (fs::exists(path)) return true;  // a menu source of the board wrote it
    const MenuBytes records[] = {
        MenuLine(14, 0, "Your choice: ", 0, 15, 0),        // prompt: yellow on black
        MenuLine(9, 0, "G - Goodbye (log off)", 'G', 7, 0),
    };
    std::string bytes;
    for (const auto& r : records) bytes.append(reinterpret_cast<const char*>(r.data()), r.size());
    return WriteWholeFile(path, bytes.data(), bytes.size());
}

BoardStepRegistrar top_menu_step(40, "top menu", StepTopMenu);

}  // namespace
}  // namespace kv::sample

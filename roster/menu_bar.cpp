#include "roster/menu_bar.h"

#include <fmt/printf.h>

#include "roster/screen.h"
#include "roster/widgets.h"

namespace kv::roster {

int RunMenuBar(const std::vector<MenuItem>& table, int columns, WINDOW* w, int row, int startRow, int startItem,
               bool isMain, const MainMenuKeys& keys) {
    keypad(w, TRUE);
    const int rows = int(table.size()) / columns;
    int r = startRow, item = startItem;
    auto draw = [&] {
        for (int i = 0; i < columns; ++i) {
            const MenuItem& m = table[size_t(r * columns + i)];
            PutText(w, row, i * 12 + 6, fmt::sprintf("%-12.10s", m.label), i == item ? A_REVERSE : A_NORMAL);
        }
        wrefresh(w);
    };
    auto describe = [&] { ShowStatusMessage(table[size_t(r * columns + item)].description); };
    // Runs an item; its result, with the bar drawn again.
    auto run = [&](int index) {
        ClearStatusLine(false);
        int result = table[size_t(index)].handler();
        draw();
        return result;
    };
    describe();
    for (;;) {
        draw();
        int key = ReadWindowKey(w);
        int before = r * columns + item;
        int result = 0;
        switch (key) {
        case kTab: case ' ': case KEY_RIGHT: item = (item + 1) % columns; break;
        case KEY_LEFT: case KEY_BTAB: item = (item + columns - 1) % columns; break;
        case '+': case KEY_DOWN: r = (r + 1) % rows; break;
        case '-': case KEY_UP: r = (r + rows - 1) % rows; break;
        case kEnter: result = run(r * columns + item); break;
        case Ctrl('L'):
            if (!isMain) break;
            TouchAll();
            RepaintScreen();
            break;
        case '[': case KEY_PPAGE: case ']': case KEY_NPAGE: case '{': case KEY_HOME: case '}': case KEY_END: {
            if (!isMain) {
                Beep();
                break;
            }
            int target = (key == '[' || key == KEY_PPAGE)   ? keys.previous
                         : (key == ']' || key == KEY_NPAGE) ? keys.next
                         : (key == '{' || key == KEY_HOME)  ? keys.top
                                                            : keys.bottom;
            if (target >= 0) result = run(target);
            break;
        }
        case kEsc:
            if (!isMain) return -1;
            if (ConfirmQuit() == -2) {
                ShowStatusMessage("Thank you for using 'kvroster'");
                return -2;
            }
            break;
        default: break;
        }
        if (result == -1 || result == -2) return result;
        if (r * columns + item != before) describe();
    }
}

}  // namespace kv::roster

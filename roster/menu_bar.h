// The menu bar: rows of labels in a window, one current, its description
// in the status line, Enter running the item's handler.
#pragma once

#include <functional>
#include <vector>

#include "roster/curses_wide.h"

namespace kv::roster {

struct MenuItem {
    const char* label;
    const char* description;
    std::function<int()> handler;  // -1 or -2 ends the menu with that result
};

// The main menu's page keys run these items of its table.
struct MainMenuKeys {
    int previous = -1, next = -1, top = -1, bottom = -1;
};

// Runs the bar over table (rows of `columns` items) on row `row` of window.
// isMain: Esc asks ConfirmQuit and the page keys and Ctrl-L work; else Esc
// ends the menu with -1 and the page keys beep.
int RunMenuBar(const std::vector<MenuItem>& table, int columns, WINDOW* w, int row, int startRow, int startItem,
               bool isMain, const MainMenuKeys& keys = {});

}  // namespace kv::roster

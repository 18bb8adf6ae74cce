// Runs one of kvroster's widgets alone on the terminal and prints what it
// returned, so a test can drive it with keys:
//   kvroster_probe line TYPE ESCABORTS FIRSTREPLACES WIDTH TEXT
//   kvroster_probe prompt WIDTH TEXT
//   kvroster_probe choice LETTERMODE TEXT LETTERS
//   kvroster_probe pick COUNT VISIBLE
//   kvroster_probe area KIND
//   kvroster_probe bits BYTE
//   kvroster_probe number MAXIMUM VALUE
//   kvroster_probe quit
// The output after the screen ends is "RESULT <number> [<text>]", an Esc in
// the text shown as "<ESC>".
// The board's kvconfig.bbs is read from the working directory.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fmt/printf.h>

#include "roster/roster_main.h"
#include "roster/screen.h"
#include "roster/session.h"
#include "roster/widgets.h"

using namespace kv::roster;

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.empty()) return 2;
    auto arg = [&](size_t i) { return i < a.size() ? a[i] : std::string(); };
    auto num = [&](size_t i) { return std::atoi(arg(i).c_str()); };
    LoadRosterConfig();
    std::setlocale(LC_ALL, "");
    std::string why;
    if (!InitCurses(why)) return 3;
    DrawFrame();
    int result = 0;
    std::string text;
    WINDOW* list = Windows().list;
    const std::string& w = a[0];
    try {
        if (w == "line") {
            text = arg(5);
            result = LineEditor(list, 5, 2, A_REVERSE, num(1), num(2) != 0, num(3) != 0, num(4), text);
        } else if (w == "prompt") {
            text = arg(2);
            result = PopupPrompt(10, 22, "Jump to which record? (0..9)", A_BOLD, num(1), text);
        } else if (w == "choice") {
            result = PopupChoice(10, 20, num(1) != 0, arg(2), arg(3));
        } else if (w == "pick") {
            std::vector<std::string> items;
            for (int i = 0; i < num(1); ++i) items.push_back(fmt::sprintf("Item %02d", i));
            result = PickList("Items", -1, 5, 20, 12, num(2), items);
        } else if (w == "area") {
            result = PickArea(num(1), 8, 22);
        } else if (w == "bits") {
            uint8_t b = uint8_t(num(1));
            State().settings.FlagDescriptions[1][0] = "First flag of B";
            result = EditFlagBits(list, 5, 10, b, 1);
            text = std::to_string(b);
        } else if (w == "number") {
            long v = num(2);
            result = EditLongField(list, 5, 10, 5, "%-5ld", num(1), v);
            text = std::to_string(v);
        } else if (w == "quit") {
            result = ConfirmQuit();
        }
    } catch (const TerminalLost&) {
        result = -99;
    }
    EndScreen();
    std::string shown;
    for (char c : text) shown += c == 27 ? std::string("<ESC>") : std::string(1, c);
    std::printf("RESULT %d [%s]\n", result, shown.c_str());
    return 0;
}

#include "roster/setup.h"

#include <functional>
#include <vector>

#include <fmt/printf.h>

#include "common/runtime.h"
#include "roster/main_menu.h"
#include "roster/menu_bar.h"
#include "roster/screen.h"
#include "roster/session.h"
#include "roster/widgets.h"

namespace kv::roster {
namespace {

// A bold '>' moved over the given rows at column col; Enter marks the
// settings changed and edits the row, Esc leaves.  other gets the keys the
// cursor does not take and says whether it took them.
void RunCursorRows(WINDOW* w, const std::vector<int>& rows, int col, const std::function<void(int)>& onEnter,
                   const std::function<bool(int)>& other = {}) {
    keypad(w, TRUE);
    int at = 0;
    const int n = int(rows.size());
    for (;;) {
        PutText(w, rows[size_t(at)], col, ">", A_BOLD);
        wrefresh(w);
        int key = ReadWindowKey(w);
        PutText(w, rows[size_t(at)], col, " ");
        switch (key) {
        case KEY_DOWN: case ' ': case Ctrl('D'): at = (at + 1) % n; break;
        case KEY_UP: case Ctrl('U'): at = (at + n - 1) % n; break;
        case kEnter:
            State().settingsChanged = true;
            onEnter(at);
            break;
        case kEsc: return;
        default:
            if (!other || !other(key)) Beep();
            break;
        }
    }
}

// A title in reverse video, centred on a bar of the given width.
void PutTitleBar(WINDOW* w, int row, int col, int width, const std::string& title) {
    std::string bar(size_t(width), ' ');
    bar.replace(size_t((width - int(title.size())) / 2), title.size(), title);
    PutText(w, row, col, bar, A_REVERSE);
}

int EditFlagDescriptions() {
    RosterSettings& s = State().settings;
    Popup p(12, 74, 5, 3);
    WINDOW* w = p.w;
    int set = 0;
    auto draw = [&] {
        // The bar starts at column 1; the set's letter stands at column 42.
        std::string head(72, ' ');
        head.replace(25, 17, fmt::sprintf("Selected flag : %c", 'A' + set));
        PutText(w, 1, 1, head, A_REVERSE);
        for (int b = 0; b < 8; ++b) {
            PutText(w, 2 + b, 2, fmt::sprintf("bit %d: ", b + 1));
            PutText(w, 2 + b, 9, fmt::sprintf("%-60.60s", s.FlagDescriptions[size_t(set)][size_t(b)]));
        }
        PutTitleBar(w, 10, 1, 72, "<PgUp/PgDn> Change  <Arrows> Move  <Enter> Edit  <Esc> End");
        wrefresh(w);
    };
    draw();
    RunCursorRows(
        w, {2, 3, 4, 5, 6, 7, 8, 9}, 1,
        [&](int bit) {
            std::string& d = s.FlagDescriptions[size_t(set)][size_t(bit)];
            std::string work = d;
            if (LineEditor(w, 2 + bit, 9, A_REVERSE, kAnyText, false, false, 60, work)) d = work;
            draw();
        },
        [&](int key) {
            if (key == KEY_PPAGE || key == '{') set = (set + 3) % 4;
            else if (key == KEY_NPAGE || key == '}') set = (set + 1) % 4;
            else return false;
            draw();
            return true;
        });
    return 0;
}

int EditValidation() {
    RosterSettings& s = State().settings;
    Popup main(16, 74, 3, 3), newUser(6, 14, 5, 58), validated(6, 14, 12, 58);
    WINDOW* w = main.w;
    WINDOW* sets[2] = {newUser.w, validated.w};
    FlagGroups* quartets[2] = {&s.NewUserFlags, &s.ValidatedFlags};
    static const char* const kLabels[] = {
        "New user level ....... : ", "Validated level ...... : ", "New user flags ....... : ",
        "Validated flags ...... : ", "Validated message area : ", "Validated message path : ",
        "Private message ...... : ",
    };
    auto draw = [&] {
        PutText(w, 1, 55, "  New User  ", A_BOLD);
        PutText(w, 8, 55, " Validated  ", A_BOLD);
        for (int i = 0; i < 7; ++i) PutText(w, 2 + 2 * i, 3, kLabels[i]);
        PutText(w, 2, 28, fmt::sprintf("%-5ld", long(s.UnvalidatedLevel)), A_BOLD);
        PutText(w, 4, 28, fmt::sprintf("%-5ld", long(s.ValidatedLevel)), A_BOLD);
        int area = s.LetterArea - 1;
        PutText(w, 10, 28, fmt::sprintf("%-28s", fmt::sprintf("%d - %s", area + 1, Config().MsgAreas[size_t(area)].AreaName)),
                A_BOLD);
        PutText(w, 13, 3, fmt::sprintf("%-50.50s", s.LetterPath), A_BOLD);
        PutText(w, 14, 28, s.PrivateLetter ? "Yes" : "No ", A_BOLD);
        wrefresh(w);
        for (int k = 0; k < 2; ++k) {
            box(sets[k], 0, 0);
            for (int g = 0; g < 4; ++g) {
                PutText(sets[k], 1 + g, 1, std::string(1, char('A' + g)));
                ShowFlagBits(sets[k], 1 + g, 4, (*quartets[k])[size_t(g)]);
            }
            wrefresh(sets[k]);
        }
    };
    draw();
    RunCursorRows(w, {2, 4, 6, 8, 10, 12, 14}, 2, [&](int row) {
        long v = 0;
        switch (row) {
        case 0:
        case 1: {
            int32_t& level = row == 0 ? s.UnvalidatedLevel : s.ValidatedLevel;
            v = level;
            EditLongField(w, 2 + 2 * row, 28, 5, "%-5ld", row == 0 ? kMaxUnvalidatedLevel : kMaxValidatedLevel, v);
            level = int32_t(v);
            break;
        }
        case 2:
        case 3: {
            WINDOW* small = sets[row - 2];
            FlagGroups& q = *quartets[row - 2];
            RunCursorRows(small, {1, 2, 3, 4}, 2, [&](int g) {
                EditFlagBits(small, 1 + g, 4, q[size_t(g)], g);
                ClearStatusLine(false);
            });
            break;
        }
        case 4: {
            int chosen = PickArea(0, 8, 22);
            if (chosen >= 0) s.LetterArea = int16_t(chosen + 1);
            break;
        }
        case 5: {
            std::string work = s.LetterPath;
            if (LineEditor(w, 13, 3, A_REVERSE, kAnyText, false, false, 50, work)) s.LetterPath = work;
            break;
        }
        case 6: ToggleYesNo(w, 14, 28, s.PrivateLetter); break;
        }
        draw();
    });
    return 0;
}

int EditQuestionnairePath() {
    RosterSettings& s = State().settings;
    Popup p(6, 74, 9, 3);
    WINDOW* w = p.w;
    PutText(w, 1, 2, "Enter the complete path and name of newuser questionnaire", A_BOLD);
    std::string work = s.QuestionnairePath;
    if (LineEditor(w, 3, 2, A_REVERSE, kAnyText, false, false, 68, work) && work != s.QuestionnairePath) {
        s.QuestionnairePath = work;
        State().settingsChanged = true;
    }
    return 0;
}

int EditUtilities() {
    RosterSettings& s = State().settings;
    Popup p(13, 74, 5, 3);
    WINDOW* w = p.w;
    PutTitleBar(w, 1, 1, 72, "Externals Utilities Setup");
    auto draw = [&] {
        for (int i = 0; i < 10; ++i) {
            PutText(w, 2 + i, 2, fmt::sprintf("%d-", (i + 1) % 10));
            PutText(w, 2 + i, 4, fmt::sprintf("%-68.68s", s.UtilityCommands[size_t(i)]), A_BOLD);
        }
        wrefresh(w);
    };
    draw();
    RunCursorRows(w, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 1, [&](int i) {
        std::string work = s.UtilityCommands[size_t(i)];
        if (LineEditor(w, 2 + i, 4, A_REVERSE, kAnyText, false, false, 68, work)) s.UtilityCommands[size_t(i)] = work;
        draw();
    });
    return 0;
}

int EditMiscellaneous() {
    RosterSettings& s = State().settings;
    Popup p(13, 74, 5, 3);
    WINDOW* w = p.w;
    PutTitleBar(w, 1, 1, 72, "Miscellaneous Parameters");
    auto draw = [&] {
        PutText(w, 2, 2, "Show password in view mode  : ");
        PutText(w, 2, 32, s.ShowPassword ? "Yes" : "No ", A_BOLD);
        PutText(w, 3, 2, "Default browse window layout: ");
        PutText(w, 3, 32, kLayoutDescriptions[s.DefaultLayout % kLayoutCount], A_BOLD);
        wrefresh(w);
    };
    draw();
    RunCursorRows(w, {2, 3}, 1, [&](int row) {
        if (row == 0) {
            ToggleYesNo(w, 2, 32, s.ShowPassword);
        } else {
            s.DefaultLayout = uint8_t((s.DefaultLayout + 1) % kLayoutCount);
            State().layout = s.DefaultLayout;
        }
        draw();
    });
    return 0;
}

// The setup window and its menu bar; the save question comes while the
// window still stands.
void RunSetupWindow() {
    Popup p(19, 78, 1, 1);
    PutTitleBar(p.w, 1, 2, 74, "Kvroster Configuration Utility");
    wrefresh(p.w);
    const std::vector<MenuItem> table = {
        {"  Flags", "Edit flags description", EditFlagDescriptions},
        {"  Valid", "Validation's specific parameters", EditValidation},
        {"  Quest.", "New user questionnaire path", EditQuestionnairePath},
        {"  Utils", "Utilities setup", EditUtilities},
        {"  Misc.", "Miscellaneous parameters", EditMiscellaneous},
        {"  Quit", "Return to main menu", [] { return -1; }},
    };
    RunMenuBar(table, 6, Windows().status, 0, 0, 0, false);
    if (State().settingsChanged) {
        if (PopupChoice(10, 20, true, "Do you want to save the configuration", "YN") == 'Y' && !SaveRosterSettings())
            PopupAck(10, 20, "Cannot save the configuration");
        State().settingsChanged = false;
    }
}

}  // namespace

int RosterSetup() {
    ClearStatusLine(false);
    ShowStatusMessage("");
    RunSetupWindow();
    RedrawMainScreen();
    return 0;
}

}  // namespace kv::roster

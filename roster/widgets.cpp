#include "roster/widgets.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <fmt/printf.h>

#include "common/runtime.h"
#include "common/strings.h"
#include "roster/screen.h"
#include "roster/session.h"

namespace kv::roster {
namespace {

int Upper(int key) { return (key >= 'a' && key <= 'z') ? key - 32 : key; }

// The visible length of a template with '^' bold marks.
int MarkedLength(const std::string& text) { return int(std::count_if(text.begin(), text.end(), [](char c) { return c != '^'; })); }

int PopupColumn(int col, int cols) { return std::max(0, std::min(col, COLS - cols)); }

void DrawEdit(WINDOW* w, int row, int col, int width, const LineEdit& e) {
    mvwprintw(w, row, col, "%*s", width, "");
    PutText(w, row, col, e.text());
    wmove(w, row, col + std::min(e.cursor(), width - 1));
    wrefresh(w);
}

}  // namespace

// A popup that would reach past the screen's right edge (a long name in its
// text) moves left so that it fits: curses makes no window that does not.
//
// What lies under a popup may be a dialog that is still open (the setup
// window under its sub-screens, a form under its question).  Repainting
// the frame's windows would draw them over that dialog, so the popup keeps
// the screen's own cells (the virtual screen, as the program last put it)
// and gives them back.
Popup::Popup(int lines, int cols, int row, int col)
    : w(newwin(lines, cols, row, PopupColumn(col, cols))), under_(newwin(lines, cols, row, PopupColumn(col, cols))) {
    if (under_ != nullptr &&
        copywin(newscr, under_, row, PopupColumn(col, cols), 0, 0, lines - 1, cols - 1, FALSE) == ERR) {
        delwin(under_);
        under_ = nullptr;
    }
    if (under_ != nullptr) leaveok(under_, TRUE);  // the cursor stays where the dialog had it
    keypad(w, TRUE);
    box(w, 0, 0);
}

Popup::~Popup() {
    delwin(w);
    if (under_ == nullptr) {
        // Nothing was kept: the frame is all that can be put back.
        TouchAll();
        return;
    }
    touchwin(under_);
    wrefresh(under_);
    delwin(under_);
}

namespace {

bool RunLineEditor(WINDOW* w, int row, int col, attr_t attr, int type, bool escapeAborts, bool firstKeyReplaces,
                   int width, std::string& buffer, bool& typed) {
    keypad(w, TRUE);
    curs_set(1);
    wattron(w, attr);
    LineEdit e(buffer, width, type, escapeAborts, firstKeyReplaces);
    DrawEdit(w, row, col, width, e);
    LineEdit::Outcome out = LineEdit::kGoOn;
    while (out == LineEdit::kGoOn) {
        bool beep = false;
        try {
            out = e.Feed(ReadWindowKey(w), beep);
        } catch (...) {
            wattroff(w, attr);
            throw;
        }
        if (beep) Beep();
        if (out == LineEdit::kAborted) mvwprintw(w, row, col, "%*s", width, "");
        else DrawEdit(w, row, col, width, e);
    }
    wattroff(w, attr);
    curs_set(0);
    wrefresh(w);
    buffer = e.text();
    typed = e.typed();
    return out == LineEdit::kAccepted;
}

}  // namespace

bool LineEditor(WINDOW* w, int row, int col, attr_t attr, int type, bool escapeAborts, bool firstKeyReplaces,
                int width, std::string& buffer) {
    bool typed = false;
    return RunLineEditor(w, row, col, attr, type, escapeAborts, firstKeyReplaces, width, buffer, typed);
}

bool EditTypedNumber(WINDOW* w, int row, int col, int width, std::string& text) {
    bool typed = false;
    return RunLineEditor(w, row, col, A_REVERSE, kAnyText, true, true, width, text, typed) && typed;
}

bool PopupPrompt(int row, int col, const std::string& prompt, attr_t attr, int width, std::string& buffer) {
    Popup p(4, std::max(int(prompt.size()), width) + 4, row, col);
    PutText(p.w, 1, 2, prompt, attr);
    return LineEditor(p.w, 2, 2, A_NORMAL, kAnyText, false, false, width, buffer);
}

std::string ChoiceBrackets(bool letterMode, const std::string& letters) {
    if (letterMode && letters.size() == 2)
        return std::string(1, char(Upper(letters[0]))) + "/" + char(ToLowerChar(letters[1]));
    return letters;
}

int PopupChoice(int row, int col, bool letterMode, const std::string& text, const std::string& letters) {
    Popup popup(4, MarkedLength(text) + 4, row, col);
    WINDOW* p = popup.w;
    PutMarked(p, 1, 2, text);
    std::string question = letters.empty() ? "Hit any key to continue: "
                                            : fmt::sprintf("Your choice [%s] : ", ChoiceBrackets(letterMode, letters));
    PutText(p, 2, 2, question);
    if (!letters.empty() && letterMode) PutText(p, 2, 15, std::string(1, letters[0]), A_BOLD);
    const int answerCol = 2 + int(question.size());
    for (;;) {
        wmove(p, 2, answerCol);
        wrefresh(p);
        int key = ReadWindowKey(p);
        if (letters.empty()) return key;
        int up = Upper(key);
        bool printable = up >= 32 && up < 127;
        if (printable) PutText(p, 2, answerCol, std::string(1, char(up)));
        if (letterMode && key == kEnter) return Upper(letters[0]);
        if (printable && letters.find(char(up)) != std::string::npos) return up;
        if (letterMode && !printable) Beep();
    }
}

void PopupAck(int row, int col, const std::string& text) { PopupChoice(row, col, false, text, ""); }

int PickList(const std::string& title, int start, int row, int col, int width, int visible,
             const std::vector<std::string>& items) {
    const int count = int(items.size());
    if (count == 0) return -1;
    const int rows = std::min(visible, count);
    Popup popup(rows + 2, width + 4, row - 1, col - 2);
    WINDOW* p = popup.w;
    int cur = start < 0 ? 0 : std::min(start, count - 1);
    int top = std::max(0, std::min(cur, count - rows));
    auto draw = [&] {
        werase(p);
        box(p, 0, 0);
        if (!title.empty()) {
            std::string t = " " + title + " ";
            PutText(p, 0, std::max(0, (width + 4 - int(t.size())) / 2), t, A_BOLD);
        }
        for (int i = 0; i < rows; ++i) {
            std::string line = fmt::sprintf(" %-*s ", width, items[size_t(top + i)]);
            line.resize(size_t(width + 2), ' ');
            PutText(p, 1 + i, 1, line, top + i == cur ? A_REVERSE : A_NORMAL);
        }
        wrefresh(p);
    };
    auto moveTo = [&](int to) {
        cur = std::clamp(to, 0, count - 1);
        if (cur < top) top = cur;
        if (cur >= top + rows) top = cur - rows + 1;
    };
    for (;;) {
        draw();
        int key = ReadWindowKey(p);
        if (key == kEnter) return cur;
        if (key == kEsc) return -1;
        switch (key) {
        case Ctrl('D'): case kTab: case ' ': case '+': case KEY_DOWN:
            if (cur == count - 1) Beep();
            else moveTo(cur + 1);
            break;
        case Ctrl('U'): case '-': case KEY_UP: case KEY_BTAB:
            if (cur == 0) Beep();
            else moveTo(cur - 1);
            break;
        case '[': case KEY_PPAGE:
            if (cur == 0) Beep();
            else moveTo(cur - rows);
            break;
        case ']': case KEY_NPAGE:
            if (cur == count - 1) Beep();
            else moveTo(cur + rows);
            break;
        case '{': case KEY_HOME:
            if (cur == 0) Beep();
            else moveTo(0);
            break;
        case '}': case KEY_END:
            if (cur == count - 1) Beep();
            else moveTo(count - 1);
            break;
        default:
            if ((key >= 'A' && key <= 'Z') || key == '\\' || (key >= '^' && key <= 'z')) {
                // The items begin with a blank in most lists: the first
                // character that is not one is what a letter looks for.
                auto first = [&](int i) {
                    std::string_view s = SkipBlanks(items[size_t(i)]);
                    return s.empty() ? 0 : int(static_cast<unsigned char>(s[0]));
                };
                const bool back = key < first(cur);
                for (int i = cur + (back ? -1 : 1); i >= 0 && i < count; i += back ? -1 : 1) {
                    if (first(i) == key) {
                        moveTo(i);
                        break;
                    }
                }
            }
            break;
        }
    }
}

std::vector<AreaEntry> AreaEntries(int kind) {
    std::vector<AreaEntry> out;
    const ConfigRecord& c = Config();
    if (kind == 1) {
        for (size_t i = 0; i < c.FileAreas.size(); ++i)
            if (c.FileAreas[i].AreaDefined != 0)
                out.push_back({int(i), fmt::sprintf("%-3d - %s", int(i) + 1, c.FileAreas[i].AreaName)});
    } else {
        for (size_t i = 0; i < c.MsgAreas.size(); ++i)
            if (c.MsgAreas[i].AreaDefined != 0)
                out.push_back({int(i), fmt::sprintf("%-3d - %s", int(i) + 1, c.MsgAreas[i].AreaName)});
    }
    return out;
}

int PickArea(int kind, int row, int col) {
    std::vector<AreaEntry> areas = AreaEntries(kind);
    std::vector<std::string> texts;
    for (const AreaEntry& a : areas) texts.push_back(a.text);
    int visible = texts.size() < 6 ? int(texts.size()) : 5;
    int chosen = PickList(kind == 1 ? "Files area" : "Messages area", -1, row, col, 28, visible, texts);
    return chosen < 0 ? -1 : areas[size_t(chosen)].index;
}

std::string FlagBitsText(uint8_t byte) {
    std::string s;
    for (int b = 0; b < 8; ++b) s += (byte & (1 << b)) ? '1' : '0';
    return s;
}

void ShowFlagBits(WINDOW* w, int row, int col, uint8_t byte) { PutText(w, row, col, FlagBitsText(byte)); }

int EditFlagBits(WINDOW* w, int row, int col, uint8_t& byte, int set) {
    keypad(w, TRUE);
    curs_set(1);
    uint8_t work = byte;
    int pos = 0;
    for (;;) {
        const std::string& d = State().settings.FlagDescriptions[size_t(set & 3)][size_t(pos)];
        ShowStatusMessage(d.empty() ? "Undefined flag" : d);
        ShowFlagBits(w, row, col, work);
        wmove(w, row, col + pos);
        wrefresh(w);
        int key = ReadWindowKey(w);
        switch (key) {
        case ' ':
            work ^= uint8_t(1 << pos);
            pos = (pos + 1) % 8;
            break;
        case 'R': case 'r': case KEY_RIGHT: pos = (pos + 1) % 8; break;
        case 'L': case 'l': case KEY_LEFT: pos = (pos + 7) % 8; break;
        case Ctrl('D'): case kEnter: case KEY_END:
            byte = work;
            ShowFlagBits(w, row, col, byte);
            curs_set(0);
            wrefresh(w);
            return 1;
        case kEsc:
            ShowFlagBits(w, row, col, byte);
            curs_set(0);
            wrefresh(w);
            return 0;
        default: Beep(); break;
        }
    }
}

void ToggleYesNo(WINDOW* w, int row, int col, uint8_t& flag) {
    flag = flag ? 0 : 1;
    PutText(w, row, col, flag ? "Yes" : "No ", A_BOLD);
    wrefresh(w);
}

bool EditStringField(WINDOW* w, int row, int col, bool capitalise, int width, std::string& text) {
    std::string work = text;
    bool ok = LineEditor(w, row, col, A_REVERSE, kAnyText, true, false, width, work);
    mvwprintw(w, row, col, "%*s", width, "");
    if (ok) {
        if (capitalise) CapitalizeName(work);
        text = work;
    }
    PutText(w, row, col, text, A_BOLD);
    wrefresh(w);
    return ok;
}

bool ParseClamped(const std::string& typed, long maximum, long& value) {
    std::string_view t = SkipBlanks(typed);
    if (t.empty()) return false;
    errno = 0;
    char* end = nullptr;
    std::string s(t);
    long v = std::strtol(s.c_str(), &end, 10);
    if (end == s.c_str()) return false;
    if (errno == ERANGE) v = v < 0 ? 0 : maximum;
    value = std::clamp(v, 0L, maximum);
    return true;
}

bool EditLongField(WINDOW* w, int row, int col, int width, const char* format, long maximum, long& value) {
    std::string work = fmt::sprintf(format, value);
    TrimRight(work);
    bool stored = EditTypedNumber(w, row, col, width, work) && ParseClamped(work, maximum, value);
    mvwprintw(w, row, col, "%*s", width, "");
    PutText(w, row, col, fmt::sprintf(format, value), A_BOLD);
    wrefresh(w);
    return stored;
}

int ConfirmQuit() {
    Popup popup(4, 40, 10, 20);
    WINDOW* p = popup.w;
    PutText(p, 1, 7, "About to leave kvroster", A_BOLD);
    PutText(p, 2, 7, "Are you sure [Y/n] : ");
    PutText(p, 2, 21, "Y", A_BOLD);
    for (;;) {
        wmove(p, 2, 28);
        wrefresh(p);
        int key = Upper(ReadWindowKey(p));
        if (key == kEnter || key == 'Y') return -2;
        if (key == 'N') {
            PutText(p, 2, 28, "N");
            wrefresh(p);
            return 0;
        }
        Beep();
    }
}

}  // namespace kv::roster

#include "roster/browse.h"

#include <algorithm>

#include <fmt/printf.h>

#include "roster/commands.h"
#include "roster/find.h"
#include "roster/main_menu.h"
#include "roster/record_form.h"
#include "roster/screen.h"
#include "roster/session.h"
#include "roster/validate.h"
#include "roster/widgets.h"

namespace kv::roster {
namespace {

void DrawRow(int pos, int row, attr_t attr) {
    BrowseState& b = Browser();
    UserRecord r;
    // A record that cannot be read leaves its row as it was drawn before.
    if (!b.base.FetchAt(pos, r)) return;
    ListRow lr = FormatListRow(b.base.index()[size_t(pos)].Marked != 0, r, State().layout);
    WINDOW* w = Windows().list;
    PutText(w, 5 + row, 1, lr.text, attr);
    wattron(w, attr);
    if (lr.marked) PutGlyph(w, 5 + row, 2, Glyph::kCheck);
    if (lr.deleted) PutGlyph(w, 5 + row, 3, Glyph::kPhi);
    wattroff(w, attr);
}

void RedrawAfterForm(int& cursorRow) {
    BrowseState& b = Browser();
    const int records = b.base.count();
    if (records > kPageRows && b.currentPos >= records - 13)
        cursorRow = std::max(0, b.currentPos - (records - kPageRows));
    ShowListPage(b.currentPos - cursorRow);
}

// The jump popup: a record position typed, or -1.
int AskJump(int first) {
    BrowseState& b = Browser();
    std::string typed = first >= 0 ? std::string(1, char(first)) : std::string();
    std::string prompt = fmt::sprintf("Jump to which record? (0..%ld)", long(b.base.count() - 1));
    if (!PopupPrompt(10, 22, prompt, A_BOLD, 4, typed)) return -1;
    long n = -1;
    if (!ParseClamped(typed, 0x7fffffff, n)) return -1;
    return int(n);
}

}  // namespace

BrowseState& Browser() {
    static BrowseState b;
    return b;
}

void ShowCurrentLine(int pos) {
    BrowseState& b = Browser();
    WINDOW* w = Windows().list;
    int passwordAt = 0;
    const bool show = State().settings.ShowPassword != 0;
    std::string line = CurrentLineText(pos, b.current, show, passwordAt);
    line.resize(76, ' ');
    PutText(w, 2, 1, line, A_BOLD);
    if (!show) {
        wattron(w, A_BOLD);
        for (int i = 0; i < 15; ++i) PutGlyph(w, 2, 1 + passwordAt + i, Glyph::kShade);
        wattroff(w, A_BOLD);
    }
    wrefresh(w);
}

void ShowListPage(int top) {
    BrowseState& b = Browser();
    const int records = b.base.count();
    if (records > 11 && records < top + kPageRows) top = records - kPageRows;
    top = std::max(0, top);
    b.top = top;
    WINDOW* w = Windows().list;
    for (int i = 0; i < kPageRows; ++i) {
        if (top + i < records) DrawRow(top + i, i, A_NORMAL);
        else PutText(w, 5 + i, 1, fmt::sprintf("%-75.75s", ""));
    }
    wrefresh(w);
}

void ShowColumnHeader(int layout) {
    WINDOW* w = Windows().list;
    PutText(w, 4, 1, ColumnHeader(layout), A_REVERSE);
    wrefresh(w);
}

int ShowRecord(int pos) {
    BrowseState& b = Browser();
    if (b.base.FetchAt(pos, b.current)) {
        ShowCurrentLine(pos);
        ShowListPage(pos);
    }
    return 1;
}

int NextLayout() {
    State().layout = State().layout >= 4 ? 0 : State().layout + 1;
    ShowColumnHeader(State().layout);
    ShowListPage(Browser().top);
    return 0;
}

int NextPage() {
    BrowseState& b = Browser();
    const int last = b.base.count() - 1;
    if (b.currentPos >= last) {
        Beep();
        return 0;
    }
    b.currentPos = std::min(last, b.currentPos + kPageRows);
    ShowRecord(b.currentPos);
    return 0;
}

int PreviousPage() {
    BrowseState& b = Browser();
    if (b.currentPos <= 0) {
        Beep();
        return 0;
    }
    b.currentPos = std::max(0, b.currentPos - kPageRows);
    ShowRecord(b.currentPos);
    return 0;
}

int TopRecord() {
    BrowseState& b = Browser();
    if (b.currentPos == 0) {
        Beep();
        return 0;
    }
    b.currentPos = 0;
    ShowRecord(0);
    return 0;
}

int BottomRecord() {
    BrowseState& b = Browser();
    const int last = b.base.count() - 1;
    if (b.currentPos >= last) {
        Beep();
        return 0;
    }
    b.currentPos = last;
    ShowRecord(last);
    return 0;
}

int ResetLimits() {
    BrowseState& b = Browser();
    if (b.base.count() == 0) return 0;
    UserRecord original;
    if (!b.base.FetchAt(b.currentPos, original)) return 0;
    UserRecord r = original;
    r.CallsToday = 0;
    r.TodayKb = 0;
    r.MinutesToday = 0;
    b.base.WriteBack(b.base.index()[size_t(b.currentPos)].RecordNumber, original, r);
    b.current = r;
    std::string text = fmt::sprintf("Limits of %.25s cleared", Unmarked(r.Name));
    PopupAck(10, 38 - int(text.size()) / 2, text);
    ShowListPage(b.top);
    return 0;
}

int BrowseList() {
    BrowseState& b = Browser();
    WINDOW* w = Windows().list;
    ShowHelpLine(kHelpBrowse);
    keypad(w, TRUE);
    b.base.TakeInNewRecords();
    if (b.base.count() == 0) {
        ShowStatusMessage("No user record to browse");
        ShowHelpLine(kHelpMenu);
        return 0;
    }
    int cursor = std::clamp(b.currentPos - b.top, 0, kPageRows - 1);
    for (;;) {
        const int records = b.base.count();
        const int last = records - 1;
        // The cursor row is where the page shows the current entry.  A page
        // asked to start before 0, or past where a full last page starts,
        // starts elsewhere (a short list, a page back from the second page),
        // and a row taken from the request alone lights another record.
        if (b.currentPos < b.top || b.currentPos >= b.top + kPageRows) ShowListPage(b.currentPos - cursor);
        cursor = b.currentPos - b.top;
        b.base.FetchAt(b.currentPos, b.current);
        ShowCurrentLine(b.currentPos);
        DrawRow(b.currentPos, cursor, A_REVERSE);
        wrefresh(w);
        int key = ReadWindowKey(w);
        if (key != Ctrl('L')) DrawRow(b.currentPos, cursor, A_NORMAL);
        switch (key) {
        case kEsc:
            ShowHelpLine(kHelpMenu);
            return 0;
        case kEnter: case 'E': case 'e':
            EditRecordForm(0);
            ShowStatusMessage("Browse the list to select a record");
            RedrawAfterForm(cursor);
            break;
        case Ctrl('L'):
            TouchAll();
            RepaintScreen();
            break;
        case Ctrl('U'): case KEY_UP:
            if (b.currentPos == 0) {
                Beep();
                break;
            }
            --b.currentPos;
            if (cursor == 0) ShowListPage(b.currentPos);
            else --cursor;
            break;
        case ' ':
        case Ctrl('D'): case KEY_DOWN:
            if (key == ' ') {
                uint8_t& m = b.base.index()[size_t(b.currentPos)].Marked;
                m = m ? 0 : 1;
                DrawRow(b.currentPos, cursor, A_NORMAL);
            }
            if (b.currentPos >= last) {
                if (key != ' ') Beep();
                break;
            }
            ++b.currentPos;
            if (cursor == kPageRows - 1) ShowListPage(b.currentPos - cursor);
            else ++cursor;
            break;
        case 'D': case 'd': {
            UserRecord edited = b.current;
            edited.Options ^= USER_DELETED;
            b.base.WriteBack(b.base.index()[size_t(b.currentPos)].RecordNumber, b.current, edited);
            b.current = edited;
            break;
        }
        case 'T': case 't': NextLayout(); break;
        case '[': case KEY_PPAGE:
            if (b.currentPos == 0) {
                Beep();
                break;
            }
            b.currentPos -= kPageRows;
            if (b.currentPos <= 0) {
                b.currentPos = 0;
                cursor = 0;
            }
            ShowListPage(b.currentPos - cursor);
            break;
        case ']': case KEY_NPAGE:
            if (b.currentPos >= last) {
                Beep();
                break;
            }
            b.currentPos += kPageRows;
            if (b.currentPos >= last) {
                b.currentPos = last;
                cursor = records <= kPageRows ? last : kPageRows - 1;
            } else if (b.currentPos > last - kPageRows) {
                cursor = b.currentPos - (records - kPageRows);
            }
            ShowListPage(b.currentPos - cursor);
            break;
        case '{': case KEY_HOME:
            if (b.currentPos == 0) {
                Beep();
                break;
            }
            b.currentPos = 0;
            cursor = 0;
            ShowListPage(0);
            break;
        case '}': case KEY_END:
            if (b.currentPos >= last) {
                Beep();
                break;
            }
            b.currentPos = last;
            cursor = records <= kPageRows ? last : kPageRows - 1;
            ShowListPage(records - kPageRows);
            break;
        case KEY_F(2):
            EditExtendedRecord(0);
            break;
        default:
            if ((key >= '0' && key <= '9') || key == KEY_F(3)) {
                int n = AskJump(key == KEY_F(3) ? -1 : key);
                if (n < 0 || n >= records || n == b.currentPos) {
                    Beep();
                    break;
                }
                b.currentPos = n;
                cursor = n < records - 13 ? 0 : std::max(0, n - (records - kPageRows));
                ShowListPage(n - cursor);
                break;
            }
            if (key == 'F' || key == 'f') {
                if (FindRecord(true)) {
                    cursor = 0;
                    RedrawAfterForm(cursor);
                }
                break;
            }
            if (key == Ctrl('O') || key == KEY_IC) {
                AddBlankRecord();
                break;
            }
            if (key == 'V' || key == 'v') {
                ValidateUsers(false);
                break;
            }
            Beep();
            break;
        }
    }
}

}  // namespace kv::roster

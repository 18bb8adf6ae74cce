#include "roster/find.h"

#include <string>
#include <vector>

#include <fmt/printf.h>

#include "common/runtime.h"
#include "roster/browse.h"
#include "roster/screen.h"
#include "roster/user_ops.h"
#include "roster/widgets.h"

namespace kv::roster {
namespace {

SearchCriteria& Criteria() {
    static SearchCriteria c;
    return c;
}

const std::vector<std::string> kFieldTexts = {
    " User name  ", " Location   ", " Password   ", " Data phone ", " Home phone ", " Last date  ", " Flags      ",
    " Security   ", " Calls      ", " U/L files  ", " U/L kbytes ", " D/L files  ", " D/L kbytes ", " Last read  ",
    " Posted     ",
};
const std::vector<std::string> kOperatorTexts = {
    " Less than             ", " Less than or equal    ", " Greater than          ",
    " Greater than or equal ", " Equal                 ", " Different             ",
};
const char* const kOperatorWords[] = {"Less than", "Less than or equal", "Greater than", "Greater than or equal",
                                      "Equal to", "Different than"};
const char* const kFieldWords[] = {"Level ", "# of Calls ", "UL files ", "UL kbytes ", "DL files ", "DL kbytes ",
                                   "Last read ", "Msgs posted "};

// The index holds the keys of the criteria's field.
bool KeysFor(int field) {
    UserBase& base = Browser().base;
    if (base.keyType() == field + 1) return true;
    return base.FillIndexKeys(field, true);
}

void ResetCriteria() {
    Criteria().Operator = 0;
    Criteria().Field = -1;
}

void EnterTextValue(WINDOW* w, int field) {
    SearchCriteria& c = Criteria();
    werase(w);
    box(w, 0, 0);
    static const char* const kPrompt[] = {"Enter the name or alias to look for", "Enter location to look for",
                                          "Enter password to look for"};
    int width = 35;
    if (field <= kFindPassword) {
        PutText(w, 3, 3, kPrompt[field], A_BOLD);
        static const char* const kPart[] = {"name", "location", "password"};
        PutText(w, 5, 3, fmt::sprintf("You can enter part of the %s", kPart[field]));
        PutText(w, 6, 3, "(? and * are ok)");
        width = field == 0 ? 35 : field == 1 ? 25 : 15;
    } else if (field <= kFindHomePhone) {
        PutText(w, 3, 3, fmt::sprintf("Enter %s phone number to look for", field == kFindDataPhone ? "data" : "home"),
                A_BOLD);
        PutText(w, 5, 3, "You can enter part of the number");
        PutText(w, 6, 3, "(? and * are ok)");
        width = 20;
    } else {
        PutText(w, 3, 3, "Enter date to look for", A_BOLD);
        const int order = Config().DateOrder;
        PutText(w, 5, 3, fmt::sprintf("Enter date using this format: %s",
                                      order == 0 ? "YY/MM/DD" : order == 1 ? "MM/DD/YY" : "DD/MM/YY"));
        width = 8;
    }
    PutText(w, 10, 3, "Enter value or hit <Esc> to abort");
    std::string value;
    bool ok = LineEditor(w, 4, 3, A_REVERSE, field == kFindDate ? kDateText : kAnyText, false, false, width, value);
    c.Value = ok ? value : std::string();
    c.Operator = ok && !value.empty() ? 0 : -1;
}

void EnterFlagValue(WINDOW* w) {
    SearchCriteria& c = Criteria();
    int letter = PopupChoice(8, 20, false, "Which flag set to look for", "QABCD");
    if (letter == 'Q') {
        c.Operator = -1;
        return;
    }
    c.FlagSet = uint8_t(letter - 'A');
    werase(w);
    box(w, 0, 0);
    PutText(w, 3, 3, fmt::sprintf("Enter the %c flag value wanted", letter), A_BOLD);
    PutText(w, 10, 3, "Space to toggle, <End> accept, <Esc> abort");
    c.FlagValue = 0;
    ShowFlagBits(w, 4, 10, 0);
    c.Operator = EditFlagBits(w, 4, 10, c.FlagValue, c.FlagSet) ? 0 : -1;
}

void EnterNumberValue(WINDOW* w, int field) {
    SearchCriteria& c = Criteria();
    PutText(w, 2, 3, "Select an operator      ", A_BOLD);
    PutText(w, 5, 1, std::string(48, ' '));
    PutText(w, 6, 1, std::string(48, ' '));
    PutText(w, 8, 4, "Use the arrows to move bar");
    PutText(w, 9, 4, "Hit <ESC> to abort        ");
    wrefresh(w);
    c.Operator = PickList("", -1, 8, 40, 23, 6, kOperatorTexts);
    if (c.Operator < 0) return;
    werase(w);
    box(w, 0, 0);
    std::string summary = std::string("Find ") + kFieldWords[field - kFindLevel] + kOperatorWords[c.Operator];
    PutText(w, 3, 3, summary, A_BOLD);
    PutText(w, 10, 3, "Enter a numerical value or <Esc> to abort");
    std::string value;
    if (!LineEditor(w, 3, 3 + int(summary.size()) + 2, A_REVERSE, kDigits, false, true, 6, value) || value.empty()) {
        c.Field = -1;
        c.Operator = -1;
        c.Value.clear();
        return;
    }
    c.Value = value;
}

}  // namespace

void EnterSearchCriteria() {
    SearchCriteria& c = Criteria();
    c.DirectionAsked = false;
    c.Value.clear();
    Popup p(12, 50, 7, 15);
    WINDOW* w = p.w;
    PutText(w, 2, 4, "Select a search criteria", A_BOLD);
    PutText(w, 5, 4, "Use the arrows to move bar");
    PutText(w, 6, 4, "Hit <ESC> to abort        ");
    wrefresh(w);
    c.Field = PickList("", -1, 8, 51, 12, 10, kFieldTexts);
    if (c.Field < 0) return;
    if (c.Field <= kFindDate) EnterTextValue(w, c.Field);
    else if (c.Field == kFindFlags) EnterFlagValue(w);
    else EnterNumberValue(w, c.Field);
}

int FindRecord(bool fromBrowse) {
    SearchCriteria& c = Criteria();
    BrowseState& b = Browser();
    ShowHelpLine(kHelpNone);
    if (c.Operator == -1) c.Operator = 0;
    if (c.Field == -1 || PopupChoice(10, 23, true, "Search using the previous criteria?", "YN") != 'Y')
        EnterSearchCriteria();
    int found = 0;
    if (c.Field == -1 || c.Operator == -1) {
        c.Field = -1;
    } else if (KeysFor(c.Field)) {
        for (;;) {
            int hit = SearchFrom(b.base, c, b.currentPos);
            if (hit >= 0) {
                c.DirectionAsked = false;
                b.currentPos = hit;
                b.base.FetchAt(hit, b.current);
                ShowCurrentLine(hit);
                ShowListPage(hit);
                found = 1;
                break;
            }
            const bool room = c.Direction == 0 ? b.currentPos > 0 : b.currentPos < b.base.count() - 1;
            if (!c.DirectionAsked && room) {
                std::string q = fmt::sprintf("No record found in %s dir, change direction?",
                                             c.Direction == 0 ? "FORWARD" : "REVERSE");
                if (PopupChoice(10, 12, true, q, "NY") == 'Y') {
                    c.Direction = 1 - c.Direction;
                    c.DirectionAsked = true;
                    continue;
                }
                break;
            }
            PopupAck(10, 18, "No record matching your criteria");
            ResetCriteria();
            break;
        }
    }
    ShowHelpLine(fromBrowse ? kHelpBrowse : kHelpMenu);
    return found;
}

int FindFromMenu() {
    FindRecord(false);
    return 0;
}

int MarkRecords() {
    BrowseState& b = Browser();
    const UserRecord saved = b.current;
    int answer = PopupChoice(10, 21, true, "Quit/Mark/Unmark/Selected/Current", "QMUSC");
    std::vector<IndexEntry>& index = b.base.index();
    if (answer == 'C' && !index.empty()) {
        uint8_t& m = index[size_t(b.currentPos)].Marked;
        m = m ? 0 : 1;
    } else if (answer == 'M' || answer == 'U') {
        for (IndexEntry& e : index) e.Marked = answer == 'M';
    } else if (answer == 'S') {
        EnterSearchCriteria();
        SearchCriteria& c = Criteria();
        if (c.Field != -1 && c.Operator != -1 && KeysFor(c.Field)) MarkMatching(b.base, c);
        ResetCriteria();
    }
    ShowListPage(b.top);
    b.current = saved;
    TouchAll();
    return 0;
}

void ClearSearchCriteria() { ResetCriteria(); }

}  // namespace kv::roster

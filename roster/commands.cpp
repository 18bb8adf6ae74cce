#include "roster/commands.h"

#include <string>
#include <vector>

#include <fmt/printf.h>

#include "common/runtime.h"
#include "roster/browse.h"
#include "roster/find.h"
#include "roster/screen.h"
#include "roster/user_ops.h"
#include "roster/widgets.h"

namespace kv::roster {
namespace {

bool AnyMarked() {
    for (const IndexEntry& e : Browser().base.index())
        if (e.Marked) return true;
    return false;
}

// The refusal of the rewriting commands while a caller is on line, at the
// column of its command.  A missing "online.ctl" is said and then taken as
// nobody on line.
struct OnLineRefusal {
    const char* text;
    int col;
};

bool RefusedOnLine(const OnLineRefusal& refusal) {
    bool missing = false;
    bool someone = SomeoneOnLine(missing);
    if (missing) PopupAck(10, 17, "Cannot open online file! Run the BBS!");
    if (someone) PopupAck(10, refusal.col, refusal.text);
    return someone;
}

// The rewrite in index order, with its list of dropped users when packing;
// then the index afresh and the first record shown.
void RewriteUserFiles(bool pack, const OnLineRefusal& refusal) {
    BrowseState& b = Browser();
    std::vector<int32_t> order;
    for (const IndexEntry& e : b.base.index()) order.push_back(e.RecordNumber);
    RewriteResult r = RewriteUsers(order, pack);
    if (r.callerOnLine) {
        PopupAck(10, refusal.col, refusal.text);
    } else if (!r.ok) {
        PopupAck(10, 14, "Problems to rewrite the file, no rewriting done");
    } else if (pack) {
        Popup frame(14, 74, 6, 3);
        PutText(frame.w, 0, 2, " List of deleted users: ");
        wrefresh(frame.w);
        WINDOW* list = newwin(12, 72, 7, 4);
        scrollok(list, TRUE);
        keypad(list, TRUE);
        for (const DroppedUser& d : r.dropped) {
            AddText(list, fmt::sprintf("%-30.30s of %-25.25s (#%ld)\n", d.name, d.location, long(d.position)));
        }
        waddstr(list, fmt::sprintf("\n  %d Users deleted\n  Hit any key to continue: ", int(r.dropped.size())).c_str());
        wrefresh(list);
        ReadWindowKey(list);
        werase(list);
        wrefresh(list);
        delwin(list);
    }
    b.base.BuildIndex();
    ClearSearchCriteria();
    b.currentPos = 0;
    TouchAll();
    ShowRecord(0);
}

}  // namespace

int DeleteUsers() {
    BrowseState& b = Browser();
    if (b.base.count() == 0) return 0;
    const UserRecord saved = b.current;
    int answer = AnyMarked() ? PopupChoice(10, 24, true, "Delete Marked or Selected user", "QMS") : 'S';
    auto toggle = [&](int pos) {
        UserRecord r;
        if (!b.base.FetchAt(pos, r)) return;
        UserRecord changed = r;
        changed.Options ^= USER_DELETED;
        b.base.WriteBack(b.base.index()[size_t(pos)].RecordNumber, r, changed);
    };
    if (answer == 'M') {
        const int count = b.base.count();
        for (int i = 0; i < count; ++i)
            if (b.base.index()[size_t(i)].Marked) toggle(i);
    } else if (answer == 'S') {
        toggle(b.currentPos);
    }
    b.base.FetchAt(b.currentPos, b.current);
    if (answer == 'Q') b.current = saved;
    ShowListPage(b.top);
    ShowCurrentLine(b.currentPos);
    return 0;
}

int PackUsers() {
    static const OnLineRefusal kRefusal{"Cannot pack file while someone is online", 18};
    if (RefusedOnLine(kRefusal)) return 0;
    if (PopupChoice(10, 18, true, "Do you really want to pack user's file?", "YN") != 'Y') return 0;
    RewriteUserFiles(true, kRefusal);
    return 0;
}

int SortUsers() {
    BrowseState& b = Browser();
    static const OnLineRefusal kRefusal{"Cannot sort file while someone is online", 18};
    if (RefusedOnLine(kRefusal)) return 0;
    static const std::vector<std::string> kOrders = {" Security Level/Name ", " No. of calls/Name   ",
                                                     " Msgs Posted/Name    ", " Last Date/Time      ",
                                                     " Location/Name       ", " Abort, no sort      "};
    int order = -1;
    {
        Popup p(12, 50, 7, 15);
        PutText(p.w, 1, 13, "Select the sort criteria");
        PutText(p.w, 10, 12, "<Esc> Abort <Enter> Select");
        wrefresh(p.w);
        order = PickList("", -1, 10, 30, 21, 6, kOrders);
        if (order >= 0 && SortKeyType(order) >= 0) {
            werase(p.w);
            box(p.w, 0, 0);
            wrefresh(p.w);
            if (PopupChoice(10, 26, true, "Do you want to continue?", "YN") != 'Y') order = -1;
            else PutText(p.w, 6, 14, "One moment please ...");
            wrefresh(p.w);
        }
    }
    const int keyType = SortKeyType(order);
    if (order < 0 || keyType < 0) {
        ShowRecord(b.currentPos);
        return 0;
    }
    b.base.TakeInNewRecords();
    NameTable names;
    if (b.base.FillIndexKeys(keyType, false, &names)) SortIndex(b.base.index(), keyType, Config().DateOrder, names);
    RewriteUserFiles(false, kRefusal);
    return 0;
}

int AddBlankRecord() {
    BrowseState& b = Browser();
    if (PopupChoice(10, 20, true, "Do you want to add a blank record?", "YN") != 'Y') return 0;
    if (AppendBlankRecord() >= 0) {
        PopupAck(10, 23, "One blank record have been added");
        b.base.TakeInNewRecords();
    } else {
        PopupAck(10, 23, "Problem to add record(s) in file(s)");
    }
    ShowRecord(b.top);
    return 0;
}

int MoveUser() {
    BrowseState& b = Browser();
    static const OnLineRefusal kRefusal{"Cannot move record while someone is online", 17};
    if (RefusedOnLine(kRefusal)) return 0;
    if (b.base.count() == 0) return 0;
    int a = -1, after = -1;
    {
        Popup p(10, 50, 8, 15);
        WINDOW* w = p.w;
        PutText(w, 1, 2, "Enter record number to move : ");
        PutText(w, 8, 2, "<Esc> or <Cr> on nothing to abort");
        std::string typed = std::to_string(b.currentPos);
        long v = 0;
        if (!LineEditor(w, 1, 32, A_REVERSE, kDigits, false, true, 5, typed) || !ParseClamped(typed, 99999, v)) return 0;
        a = int(v);
        if (a == 0) {
            werase(w);
            box(w, 0, 0);
            wrefresh(w);
            PopupAck(11, 24, "Cannot move record no. zero!");
            return 0;
        }
        // A position the index does not hold changes nothing.
        if (a >= b.base.count()) {
            Beep();
            return 0;
        }
        UserRecord r;
        b.base.FetchAt(a, r);
        PutText(w, 3, 2, "User name: ");
        PutText(w, 3, 14, r.Name, A_BOLD);
        PutText(w, 4, 2, "Location : ");
        PutText(w, 4, 14, r.Location, A_BOLD);
        PutText(w, 6, 2, "Move the record after which : ");
        typed.clear();
        if (!LineEditor(w, 6, 32, A_REVERSE, kDigits, false, true, 5, typed) || !ParseClamped(typed, 99999, v)) return 0;
        after = int(v);
    }
    if (MoveEntry(b.base.index(), a, after)) {
        ShowListPage(b.top);
        RewriteUserFiles(false, kRefusal);
    }
    TouchAll();
    return 0;
}

namespace {

// The plan of a flag set: 1 when accepted and it changes a bit.
int EditFlagPlan(int set, FlagPlan& plan) {
    plan.fill(kLeave);
    Popup p(6, 60, 10, 10);
    WINDOW* w = p.w;
    PutText(w, 1, 2, fmt::sprintf("Setup of Flag %c", 'A' + set));
    PutText(w, 4, 2, "<Space> toggle Off/On/Leave  <Esc> abort  <Enter> accept");
    int at = 0;
    static const char kShown[] = {'L', '0', '1'};
    for (;;) {
        for (int i = 0; i < 8; ++i) PutText(w, 1, 22 + i, std::string(1, kShown[plan[size_t(i)]]), A_REVERSE);
        wmove(w, 1, 22 + at);
        wrefresh(w);
        int key = ReadWindowKey(w);
        switch (key) {
        case ' ': plan[size_t(at)] = PlanEntry((plan[size_t(at)] + 1) % 3); break;
        case KEY_RIGHT: at = (at + 1) % 8; break;
        case KEY_LEFT: at = (at + 7) % 8; break;
        case kEnter:
            for (PlanEntry e : plan)
                if (e != kLeave) return 1;
            return 0;
        case kEsc: return 0;
        default: Beep(); break;
        }
    }
}

}  // namespace

int GlobalEdit() {
    BrowseState& b = Browser();
    if (RefusedOnLine({"Cannot edit file while someone is online", 18})) return 0;
    static const std::vector<std::string> kFields = {
        " Flag A      ", " Flag B      ", " Flag C      ", " Flag D      ", " Deleted     ",
        " ClearScreen ", " PageBreak   ", " Ansi        ", " Ignore      ", " Editor      ",
        " Disturb     ", " HotKey      ", " Escape      ", " Mesg. Area  ", " File Area   ",
    };
    ShowStatusMessage("Select the field to modify");
    GlobalChange change;
    change.field = PickList("", -1, 9, 33, 13, 8, kFields);
    if (change.field < 0) return 0;
    bool markedOnly = false;
    if (AnyMarked()) {
        int answer = PopupChoice(10, 14, true, "Do you want to modify Marked, All users or Quit", "MAQ");
        if (answer == 'Q') return 0;
        markedOnly = answer == 'M';
    }
    bool apply = false;
    if (change.field <= 3) {
        apply = EditFlagPlan(change.field, change.plan) == 1;
    } else if (change.field >= 13) {
        change.area = PickArea(change.field == 13 ? 0 : 1, 10, 26);
        apply = change.area >= 0;
    } else {
        int answer = PopupChoice(10, 25, true, "Set this bit On/oFf/Quit", "OFQ");
        change.on = answer == 'O';
        apply = answer != 'Q';
    }
    if (apply) ApplyGlobalEdit(b.base, markedOnly, change);
    ShowListPage(b.top);
    b.base.FetchAt(b.currentPos, b.current);
    ShowCurrentLine(b.currentPos);
    TouchAll();
    return 0;
}

}  // namespace kv::roster

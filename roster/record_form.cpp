#include "roster/record_form.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include <fmt/printf.h>

#include "common/files.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "roster/browse.h"
#include "roster/screen.h"
#include "roster/session.h"
#include "roster/widgets.h"

namespace kv::roster {
namespace {

enum FieldKind { kText, kNumber, kEscapeLength, kEscapeBytes };

// One field of the form: where its label and value stand and how it is
// edited.  Numbers go through get/set so each lands in its own field at its
// own width, whatever the width of the editor.
struct FormField {
    const char* label;
    int labelRow, labelCol, row, col;
    FieldKind kind;
    int width;
    const char* format;
    long maximum;
    bool capitalise;
    std::string UserRecord::*text;
    std::function<long(const UserRecord&)> get;
    std::function<void(UserRecord&, long)> set;
};

template <class T>
std::function<long(const UserRecord&)> Get(T UserRecord::*f) {
    return [f](const UserRecord& r) { return long(r.*f); };
}
template <class T>
std::function<void(UserRecord&, long)> Set(T UserRecord::*f) {
    return [f](UserRecord& r, long v) { r.*f = T(v); };
}

FormField Text(const char* label, int lr, int lc, int r, int c, int width, bool cap, std::string UserRecord::*f) {
    return {label, lr, lc, r, c, kText, width, "%s", 0, cap, f, nullptr, nullptr};
}
template <class T>
FormField Number(const char* label, int lr, int lc, int r, int c, int width, const char* fmt, long max, T UserRecord::*f) {
    return {label, lr, lc, r, c, kNumber, width, fmt, max, false, nullptr, Get(f), Set(f)};
}

const std::vector<FormField>& FormFields() {
    static const std::vector<FormField> fields = [] {
        using U = UserRecord;
        std::vector<FormField> f = {
            Text("Name:", 1, 3, 1, 9, 35, true, &U::Name),
            Text("Password:", 1, 45, 1, 55, 15, true, &U::Password),
            Text("Location:", 2, 3, 2, 13, 25, true, &U::Location),
            Number("Level........:", 2, 45, 2, 60, 5, "%-5ld", 64000, &U::SecurityLevel),
            Number("Credit.......:", 3, 3, 3, 18, 5, "%-5ld", 99999, &U::Credit),
            Number("Pending......:", 3, 45, 3, 60, 5, "%-5ld", 64000, &U::Pending),
            Text("Data phone...:", 4, 3, 4, 18, 20, false, &U::DataPhone),
            Text("Last date....:", 4, 45, 4, 60, 8, false, &U::LastCallDate),
            Text("Home phone...:", 5, 3, 5, 18, 20, false, &U::HomePhone),
            Text("Last time....:", 5, 45, 5, 60, 8, false, &U::LastCallTime),
            Number("Msgs posted..:", 6, 3, 6, 18, 5, "%-5ld", 99999, &U::MessagesPosted),
            Number("Read thru....:", 6, 45, 6, 60, 5, "%-5ld", 99999, &U::HighestRead),
            Number("Uploads (F)..:", 7, 3, 7, 18, 6, "%-6ld", 999999, &U::UploadedFiles),
            Number("Uploads (K)..:", 7, 45, 7, 60, 6, "%-6ld", 999999, &U::UploadedKb),
            Number("Downloads (F):", 8, 3, 8, 18, 6, "%-6ld", 999999, &U::DownloadedFiles),
            Number("Downloads (K):", 8, 45, 8, 60, 6, "%-6ld", 999999, &U::DownloadedKb),
            Number("No. of calls.:", 9, 3, 9, 18, 6, "%-6ld", 999999, &U::TotalCalls),
            Number("Today calls..:", 9, 45, 9, 60, 3, "%-3ld", 999, &U::CallsToday),
            Number("Today K......:", 10, 3, 10, 18, 5, "%-5ld", 32000, &U::TodayKb),
            Number("Today minutes:", 10, 45, 10, 60, 3, "%-3ld", 999, &U::MinutesToday),
            Number("Screen length:", 11, 3, 11, 18, 2, "%-2ld", 70, &U::ScreenLength),
            Number("Pwd change...:", 11, 45, 11, 60, 3, "%-3ld", 999, &U::PasswordCalls),
            Number("Escape len:", 12, 3, 12, 15, 2, "%-2ld", 15, &U::ClearScreenLength),
        };
        f.back().kind = kEscapeLength;
        FormField bytes{"Escape val:", 13, 3, 13, 15, kEscapeBytes, 3, "%3ld", 255, false, nullptr, nullptr, nullptr};
        f.push_back(bytes);
        return f;
    }();
    return fields;
}

UserRecord& Current() { return Browser().current; }

void DrawEscapeValues(WINDOW* w) {
    UserRecord& r = Current();
    TrimClearScreenCodes(r);
    std::string s;
    for (size_t i = 0; i < r.ClearScreenLength; ++i) s += fmt::sprintf("%3d,", int(r.ClearScreenCodes[i]));
    if (!s.empty()) s.pop_back();
    PutText(w, 13, 15, fmt::sprintf("%-60s", s), A_BOLD);
}

void DrawAttributes(WINDOW* w) {
    PutText(w, 16, 3, "Del Cls Brk Ans Ign Edi Dis Hot Esc");
    for (int i = 0; i < 9; ++i)
        PutText(w, 17, 4 + 4 * i, HasOption(Current(), i) ? "1" : "0", A_BOLD);
}

void DrawFlagSets(WINDOW* w) {
    for (int g = 0; g < 4; ++g) {
        PutText(w, 14 + g, 45, fmt::sprintf("Flag %c.......:", 'A' + g));
        PutText(w, 14 + g, 60, FlagBitsText(Current().Flags[size_t(g)]), A_BOLD);
    }
}

void DrawForm(WINDOW* w) {
    const UserRecord& r = Current();
    for (const FormField& f : FormFields()) {
        PutText(w, f.labelRow, f.labelCol, f.label);
        if (f.kind == kEscapeBytes) continue;
        std::string v = f.kind == kText ? fmt::sprintf("%-*s", f.width, r.*f.text) : fmt::sprintf(f.format, f.get(r));
        PutText(w, f.row, f.col, v, A_BOLD);
    }
    DrawEscapeValues(w);
    DrawAttributes(w);
    DrawFlagSets(w);
    wrefresh(w);
}

void EditField(WINDOW* w, const FormField& f) {
    UserRecord& r = Current();
    switch (f.kind) {
    case kText: EditStringField(w, f.row, f.col, f.capitalise, f.width, r.*f.text); break;
    case kNumber:
    case kEscapeLength: {
        long v = f.get(r);
        if (EditLongField(w, f.row, f.col, f.width, f.format, f.maximum, v)) f.set(r, v);
        if (f.kind == kEscapeLength) DrawEscapeValues(w);
        break;
    }
    case kEscapeBytes:
        for (int i = 0; i < r.ClearScreenLength; ++i) {
            long v = r.ClearScreenCodes[size_t(i)];
            std::string work = fmt::sprintf("%ld", v);
            bool typed = EditTypedNumber(w, 13, 15 + 4 * i, 3, work);
            if (work == "\x1b") break;  // aborted
            if (typed && ParseClamped(work, 255, v)) r.ClearScreenCodes[size_t(i)] = uint8_t(v);
            DrawEscapeValues(w);
        }
        DrawEscapeValues(w);
        break;
    }
    wrefresh(w);
}

bool IsOnLine(int32_t recordNumber) {
    std::vector<int32_t> users = CallersOnLine();
    return std::find(users.begin(), users.end(), recordNumber) != users.end();
}

// The form's key loop for one record; the key that ended it.
int FormKeyLoop(WINDOW* w, bool& modified, const std::string& statusText) {
    int at = 0;
    for (;;) {
        const int last = Current().ClearScreenLength == 0 ? 22 : 23;
        if (at > last) at = last;
        const FormField& f = FormFields()[size_t(at)];
        PutText(w, f.row, f.col - 1, ">", A_BOLD);
        wrefresh(w);
        int key = ReadWindowKey(w);
        PutText(w, f.row, f.col - 1, " ");
        switch (key) {
        case kTab: case KEY_RIGHT: at = at >= last ? 0 : at + 1; break;
        case KEY_DOWN: at = at + 2 > last ? 0 : at + 2; break;
        case KEY_LEFT: case KEY_BTAB: at = at <= 0 ? last : at - 1; break;
        case KEY_UP: case Ctrl('U'): at = at - 2 < 0 ? last : at - 2; break;
        case '{': case KEY_HOME: at = 0; break;
        case '}': case KEY_END: at = last; break;
        case kEnter:
            modified = true;
            EditField(w, f);
            break;
        case Ctrl('L'):
            werase(w);
            box(w, 0, 0);
            DrawForm(w);
            RepaintScreen();
            break;
        case 'A': case 'a': modified = EditAttributes(w) || modified; break;
        case 'F': case 'f': modified = EditFlagSets(w, statusText) || modified; break;
        case 'C': case 'c': modified = EditLastRead(w, true) || modified; break;
        case KEY_F(2):
            modified = EditExtendedRecord(2, true) || modified;
            touchwin(w);
            wrefresh(w);
            break;
        case 'L': case 'l': EditLastRead(w, false); break;
        case 'R': case 'r':
            Current().CallsToday = 0;
            Current().TodayKb = 0;
            Current().MinutesToday = 0;
            modified = true;
            DrawForm(w);
            break;
        case kEsc: case KEY_PPAGE: case KEY_NPAGE: case '[': case ']': return key;
        default: Beep(); break;
        }
    }
}

}  // namespace

int EditRecordForm(int mode) {
    BrowseState& b = Browser();
    b.base.TakeInNewRecords();
    if (b.base.count() == 0) return 0;
    {
        Popup p(19, 78, 2, 1);
        WINDOW* w = p.w;
        ShowHelpLine(kHelpForm);
        for (;;) {
            b.base.FetchAt(b.currentPos, b.current);
            const UserRecord copy = b.current;
            const int32_t number = b.base.index()[size_t(b.currentPos)].RecordNumber;
            bool modified = false;
            werase(w);
            box(w, 0, 0);
            DrawForm(w);
            std::string status = fmt::sprintf("Editing Record no. %ld of %ld", long(b.currentPos), long(b.base.count()));
            if (IsOnLine(number)) status += " - on line now";
            ShowStatusMessage(status);
            int key = FormKeyLoop(w, modified, status);
            if (modified) {
                if (PopupChoice(10, 25, true, "Save ^MODIFIED^ record", "YN") == 'Y') b.base.WriteBack(number, copy, b.current);
                else b.current = copy;
            }
            if (key == kEsc) break;
            const int last = b.base.count() - 1;
            if (key == KEY_PPAGE || key == '[') b.currentPos = b.currentPos == 0 ? last : b.currentPos - 1;
            else b.currentPos = b.currentPos >= last ? 0 : b.currentPos + 1;
        }
    }
    if (mode == 2) ShowRecord(b.currentPos);
    ShowHelpLine(mode == 2 ? kHelpMenu : kHelpBrowse);
    return 0;
}

int EditAttributes(WINDOW* w) {
    int at = 0, edited = 0;
    for (;;) {
        PutText(w, 17, 3 + 4 * at, ">", A_BOLD);
        wrefresh(w);
        int key = ReadWindowKey(w);
        PutText(w, 17, 3 + 4 * at, " ");
        switch (key) {
        case kTab: case KEY_RIGHT: at = (at + 1) % 9; break;
        case KEY_LEFT: case KEY_BTAB: at = (at + 8) % 9; break;
        case kEnter: case ' ':
            Current().*kOptionBits[at].byte ^= kOptionBits[at].mask;
            edited = 1;
            DrawAttributes(w);
            break;
        case kEsc: wrefresh(w); return edited;
        default: Beep(); break;
        }
    }
}

int EditFlagSets(WINDOW* w, const std::string& statusText) {
    int at = 0, edited = 0;
    for (;;) {
        PutText(w, 14 + at, 59, ">", A_BOLD);
        wrefresh(w);
        int key = ReadWindowKey(w);
        PutText(w, 14 + at, 59, " ");
        switch (key) {
        case kTab: case KEY_DOWN: at = (at + 1) % 4; break;
        case KEY_UP: case KEY_BTAB: at = (at + 3) % 4; break;
        case kEnter:
            if (EditFlagBits(w, 14 + at, 60, Current().Flags[size_t(at)], at)) edited = 1;
            ShowStatusMessage(statusText);
            break;
        case kEsc: wrefresh(w); return edited;
        default: Beep(); break;
        }
    }
}

int EditLastRead(WINDOW* caller, bool combined) {
    BrowseState& b = Browser();
    LastReadRecord work;
    const int32_t number = b.base.count() > 0 ? b.base.index()[size_t(b.currentPos)].RecordNumber : 0;
    if (!combined) b.base.FetchLastRead(number, work);
    const LastReadRecord original = work;
    int edited = 0;
    {
        Popup p(11, 26, 8, 27);
        WINDOW* w = p.w;
        PutText(w, 0, 1, combined ? " Combined " : " LastRead ", A_BOLD);
        PutText(w, 9, 1, " Up/Dn/Arrows/Enter/Esc ", A_REVERSE);
        int area = 0;
        auto draw = [&] {
            const int page = area / 25;
            for (int i = 0; i < 25; ++i) {
                int a = page * 25 + i;
                PutText(w, 3 + i / 5, 3 + 4 * (i % 5), fmt::sprintf("%3d", a + 1), a == area ? A_REVERSE : A_NORMAL);
            }
            const MsgAreaDef& def = Config().MsgAreas[size_t(area)];
            if (def.AreaDefined != 0) {
                PutText(w, 1, 2, fmt::sprintf("%-23.15s", def.AreaName));
                if (combined) PutText(w, 1, 18, IsAreaSelected(Current().ScanAreas, area) ? "ON " : "OFF", A_BOLD);
                else PutText(w, 1, 18, fmt::sprintf("%-5ld", long(work.LastRead[size_t(area)])), A_BOLD);
            } else {
                PutText(w, 1, 2, fmt::sprintf("%-23.23s", "Not in use"));
            }
            wrefresh(w);
        };
        for (;;) {
            draw();
            int key = ReadWindowKey(w);
            const int page = area / 25, inPage = area % 25, row = inPage / 5, col = inPage % 5;
            switch (key) {
            case kEnter:
                if (Config().MsgAreas[size_t(area)].AreaDefined == 0) {
                    Beep();
                    break;
                }
                if (combined) {
                    FlipAreaSelection(Current().ScanAreas, area);
                } else {
                    long v = work.LastRead[size_t(area)];
                    if (EditLongField(w, 1, 18, 5, "%-ld", 99999, v)) work.LastRead[size_t(area)] = uint32_t(v);
                }
                edited = 1;
                break;
            case KEY_DOWN: area = row == 4 ? ((page + 1) % 4) * 25 : area + 5; break;
            case KEY_UP: area = row == 0 ? ((page + 3) % 4) * 25 : area - 5; break;
            case KEY_RIGHT: area = col == 4 ? area - 4 : area + 1; break;
            case KEY_LEFT: area = col == 0 ? area + 4 : area - 1; break;
            case KEY_NPAGE: area = ((page + 1) % 4) * 25; break;
            case KEY_PPAGE: area = ((page + 3) % 4) * 25; break;
            case kEsc:
                if (!combined && edited && PopupChoice(10, 26, true, "Save the modifications ?", "YN") == 'Y')
                    b.base.WriteBackLastRead(number, original, work);
                touchwin(caller);
                return edited;
            default: Beep(); break;
            }
        }
    }
}

int EditExtendedRecord(int mode, bool fromForm) {
    BrowseState& b = Browser();
    b.base.TakeInNewRecords();
    if (b.base.count() == 0) return 0;
    if (!fromForm) b.base.FetchAt(b.currentPos, b.current);
    const UserRecord saved = b.current;
    const int32_t number = b.base.index()[size_t(b.currentPos)].RecordNumber;
    // The aliases of all records, for the uniqueness test.
    b.base.FillIndexKeys(kKeyAlias, false);
    b.current = saved;
    bool modified = false;
    {
        Popup p(12, 64, 7, 8);
        WINDOW* w = p.w;
        static const char* const kLabels[] = {
            "Date of First Call       :", "End of Subscription Date :", "Ammount Paid so far      :",
            "Current File Area        :", "Current Mesg Area        :", "UUCP Alias               :",
            "Comment                  :",
        };
        const int rows[] = {2, 3, 4, 5, 6, 7, 9, 10};
        auto draw = [&] {
            UserRecord& r = Current();
            if (mode == 0) {
                PutText(w, 0, 2, " User: ");
                PutText(w, 0, 9, fmt::sprintf("%.25s ", r.Name), A_BOLD);
            }
            for (int i = 0; i < 7; ++i) PutText(w, 2 + i, 3, kLabels[i]);
            const int fileArea = std::clamp<int>(r.FileArea, 0, int(kFileAreaCount) - 1);
            const int msgArea = std::clamp<int>(r.MsgArea, 0, int(kMsgAreaCount) - 1);
            PutText(w, 2, 30, fmt::sprintf("%-8s", r.FirstCallDate), A_BOLD);
            PutText(w, 3, 30, fmt::sprintf("%-8s", r.SubscriptionEnd), A_BOLD);
            PutText(w, 4, 30, fmt::sprintf("%-10.2f", double(r.AmountPaid)), A_BOLD);
            PutText(w, 5, 30, fmt::sprintf("%-20.20s (%d)", Config().FileAreas[size_t(fileArea)].AreaName, fileArea + 1),
                    A_BOLD);
            PutText(w, 6, 30, fmt::sprintf("%-20.20s (%d)", Config().MsgAreas[size_t(msgArea)].AreaName, msgArea + 1),
                    A_BOLD);
            PutText(w, 7, 30, fmt::sprintf("%-8.8s", r.Alias), A_BOLD);
            PutText(w, 9, 3, fmt::sprintf("%-58.58s", r.Comment1), A_BOLD);
            PutText(w, 10, 3, fmt::sprintf("%-58.58s", r.Comment2), A_BOLD);
            wrefresh(w);
        };
        draw();
        int at = 0;
        bool done = false;
        while (!done) {
            PutText(w, rows[at], 2, ">", A_BOLD);
            wrefresh(w);
            int key = ReadWindowKey(w);
            PutText(w, rows[at], 2, " ");
            UserRecord& r = Current();
            switch (key) {
            case KEY_DOWN: at = (at + 1) % 8; break;
            case KEY_UP: at = (at + 7) % 8; break;
            case Ctrl('L'):
                werase(w);
                box(w, 0, 0);
                draw();
                RepaintScreen();
                break;
            case kEsc: case KEY_END: done = true; break;
            case kEnter:
                modified = true;
                switch (at) {
                case 0: EditStringField(w, 2, 30, false, 8, r.FirstCallDate); break;
                case 1: EditStringField(w, 3, 30, false, 8, r.SubscriptionEnd); break;
                case 2: {
                    std::string work = fmt::sprintf("%.2f", double(r.AmountPaid));
                    if (EditTypedNumber(w, 4, 30, 8, work)) r.AmountPaid = AmountFromText(work);
                    break;
                }
                case 3: {
                    int a = PickArea(1, 10, 26);
                    if (a >= 0) r.FileArea = int16_t(a);
                    break;
                }
                case 4: {
                    int a = PickArea(0, 10, 26);
                    if (a >= 0) r.MsgArea = int16_t(a);
                    break;
                }
                case 5: {
                    const std::string start = r.Alias.empty() ? SuggestAlias(r.Name) : r.Alias;
                    for (;;) {
                        std::string work = start;
                        if (!LineEditor(w, 7, 30, A_REVERSE, kAnyText, true, false, 8, work)) break;
                        LowerCase(work);
                        int owner = work.empty() ? -1 : AliasOwner(b.base, work, b.currentPos);
                        if (owner >= 0) {
                            PopupAck(10, 19, fmt::sprintf("This ^ALIAS^ is already in use (record #%ld)", long(owner)));
                            continue;
                        }
                        r.Alias = work;
                        b.base.index()[size_t(b.currentPos)].Key.fill(0);
                        SetKey(b.base.index()[size_t(b.currentPos)].Key, kKeyAlias, r);
                        break;
                    }
                    break;
                }
                case 6: EditStringField(w, 9, 3, false, 58, r.Comment1); break;
                case 7: EditStringField(w, 10, 3, false, 58, r.Comment2); break;
                }
                draw();
                break;
            default: Beep(); break;
            }
        }
    }
    if (!fromForm && modified) {
        if (PopupChoice(10, 25, true, "Save ^MODIFIED^ record", "YN") == 'Y') b.base.WriteBack(number, saved, b.current);
        else b.current = saved;
    }
    TouchAll();
    return modified ? 1 : 0;
}

int EditRecordFromMenu() { return EditRecordForm(2); }
int CommentFromMenu() { return EditExtendedRecord(2); }
int LastReadFromMenu() {
    EditLastRead(Windows().list, false);
    TouchAll();
    return 0;
}

}  // namespace kv::roster

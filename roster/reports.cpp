#include "roster/reports.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

#include <fmt/printf.h>

#include "common/dates.h"
#include "common/files.h"
#include "common/runtime.h"
#include "roster/browse.h"
#include "roster/menu_bar.h"
#include "roster/roster_log.h"
#include "roster/screen.h"
#include "roster/widgets.h"

namespace kv::roster {
namespace {

constexpr int kRecordsPerPage = 54;
constexpr int kScreenWidth = 76;
constexpr int kScreenRows = 15;
constexpr const char* kPrinterCommand = "/usr/bin/lp > /dev/null";

struct FieldDef {
    const char* title;
    const char* heading;
    int width;
};
constexpr FieldDef kFieldDefs[kReportFields] = {
    {"Name", "Name", 12},          {"Location", "Loc", 11},        {"Password", "Pwd", 7},
    {"Data phone", "Data #", 0},   {"Home phone", "Home #", 0},    {"Last Date", "Date", 8},
    {"Last Time", "Time", 8},      {"Flag A", "A", 8},             {"Flag B", "B", 8},
    {"Flag C", "C", 8},            {"Flag D", "D", 8},             {"Credit", "Cre", 6},
    {"Pending", "Pnd", 6},         {"Msgs posted", "Posted", 6},   {"Lastread", "Read", 6},
    {"Security", "Lvl", 5},        {"No of calls", "Calls", 6},    {"Uploads (#)", "UL #", 6},
    {"Downloads (#)", "DL #", 6},  {"Uploads (k)", "UL k", 6},     {"Downloads (k)", "DL k", 6},
    {"Today kBytes", "Tdy k", 6},  {"Scr length", "ScrLen", 2},    {"Pwd change", "PwdChg", 4},
    {"Today call", "Tdy call", 3}, {"Today min.", "Tdy min", 4},
};
constexpr int kMinTextWidth = 5;
constexpr int kHeadingsWrap = 72;  // the headings go on to row 4 past this column
constexpr int kHeadingsEnd = 76;

std::string TextField(const std::string& text, int width) { return fmt::sprintf("%-*.*s ", width, width, text); }

std::string FlagField(uint8_t set) {
    std::string s;
    for (int bit = 0; bit < 8; ++bit) s += (set & (1u << bit)) ? 'X' : '-';
    return s + ' ';
}

long NumberOf(const UserRecord& u, int field) {
    switch (field) {
    case 11: return u.Credit;
    case 12: return u.Pending;
    case 13: return u.MessagesPosted;
    case 14: return u.HighestRead;
    case 15: return u.SecurityLevel;
    case 16: return long(u.TotalCalls);
    case 17: return long(u.UploadedFiles);
    case 18: return long(u.DownloadedFiles);
    case 19: return long(u.UploadedKb);
    case 20: return long(u.DownloadedKb);
    case 21: return long(u.TodayKb);
    case 22: return long(u.ScreenLength);
    case 23: return long(u.PasswordCalls);
    case 24: return u.CallsToday;
    default: return u.MinutesToday;
    }
}

std::string FieldText(const ReportField& f, int field, const UserRecord& u) {
    switch (field) {
    case 0: return TextField(u.Name, f.Width);
    case 1: return TextField(u.Location, f.Width);
    case 2: return TextField(u.Password, f.Width);
    case 3: return TextField(u.DataPhone, f.Width);
    case 4: return TextField(u.HomePhone, f.Width);
    case 5: return TextField(u.LastCallDate, f.Width);
    case 6: return TextField(u.LastCallTime, f.Width);
    case 7: case 8: case 9: case 10: return FlagField(u.Flags[size_t(field - 7)]);
    default: return fmt::sprintf("%*ld ", f.Width, NumberOf(u, field));
    }
}

}  // namespace

ReportSettings NewReport(int records, int phoneWidth) {
    ReportSettings r;
    r.records = records;
    for (int i = 0; i < kReportFields; ++i) {
        ReportField& f = r.fields[size_t(i)];
        f.Title = kFieldDefs[i].title;
        f.Heading = kFieldDefs[i].heading;
        f.Width = (i == 3 || i == 4) ? phoneWidth : kFieldDefs[i].width;
    }
    ResetReport(r);
    return r;
}

void ResetReport(ReportSettings& r) {
    for (int i = 0; i < kReportFields; ++i) {
        ReportField& f = r.fields[size_t(i)];
        f.Selected = false;
        f.Order = -1;
        if (i <= 2) f.Width = kFieldDefs[i].width;
    }
    r.pageWidth = 80;
    r.usedWidth = 0;
    r.chosen = 0;
    r.destination = kToScreen;
}

int MaxFieldWidth(int field) { return field == 0 ? 35 : field == 1 ? 25 : 15; }

bool FieldFits(const ReportSettings& r, int field, int width) {
    (void)field;
    return r.usedWidth + width <= r.pageWidth;
}

void ChooseField(ReportSettings& r, int field) {
    ReportField& f = r.fields[size_t(field)];
    if (f.Selected) return;
    f.Selected = true;
    f.Order = r.chosen;
    r.usedWidth += f.Width + 1;
    ++r.chosen;
}

void UnchooseField(ReportSettings& r, int field) {
    ReportField& f = r.fields[size_t(field)];
    if (!f.Selected) return;
    for (ReportField& other : r.fields)
        if (other.Order > f.Order) --other.Order;
    f.Selected = false;
    f.Order = -1;
    r.usedWidth -= f.Width + 1;
    --r.chosen;
}

std::vector<int> ChosenFields(const ReportSettings& r) {
    std::vector<int> order(size_t(r.chosen), -1);
    for (int i = 0; i < kReportFields; ++i) {
        int o = r.fields[size_t(i)].Order;
        if (r.fields[size_t(i)].Selected && o >= 0 && o < r.chosen) order[size_t(o)] = i;
    }
    order.erase(std::remove(order.begin(), order.end(), -1), order.end());
    return order;
}

std::string FormatReportHeader(const ReportSettings& r, int width) {
    std::string line(size_t(std::max(0, width)), ' ');
    size_t at = 0;
    for (int i : ChosenFields(r)) {
        const ReportField& f = r.fields[size_t(i)];
        if (at >= line.size()) break;
        std::string heading = f.Heading.substr(0, size_t(std::max(0, f.Width)));
        line.replace(at, std::min(heading.size(), line.size() - at), heading.substr(0, line.size() - at));
        at += size_t(f.Width + 1);
    }
    return line;
}

std::string FormatReportLine(const ReportSettings& r, const UserRecord& u) {
    std::string line;
    for (int i : ChosenFields(r)) line += FieldText(r.fields[size_t(i)], i, u);
    if (line.size() > size_t(r.pageWidth)) line.resize(size_t(r.pageWidth));
    return line;
}

std::string PaginatedReport(const ReportSettings& r, const std::vector<UserRecord>& users, const std::string& date,
                            const std::string& time, const std::string& systemName) {
    const bool wide = r.pageWidth == 132;
    const std::string header = FormatReportHeader(r, r.pageWidth);
    const std::string title = fmt::sprintf("Listing of %s Users", systemName);
    const int titleWidth = int(title.size()) / 2 + (wide ? 58 : 32);
    const std::string footer = fmt::sprintf("\n\n%*s\n", wide ? 78 : 52, "Produced with 'kvroster'") + '\f';
    std::string out;
    int page = 0, onPage = 0;
    auto startPage = [&] {
        ++page;
        out += fmt::sprintf("\n\n%s%*d\n", date, r.pageWidth - 8, page);
        out += fmt::sprintf("%s%*s\n\n", time, titleWidth, title);
        out += header + "\n";
    };
    for (const UserRecord& u : users) {
        if (onPage == 0) startPage();
        out += FormatReportLine(r, u) + "\n";
        // A full page is closed at once, so a count that fills its last
        // page exactly leaves no empty page behind.
        if (++onPage == kRecordsPerPage) {
            out += footer;
            onPage = 0;
        }
    }
    if (page == 0) startPage();
    if (onPage > 0 || users.empty()) out += footer;
    return out;
}

namespace {

// The generator's screen and its commands.
class ReportScreen {
public:
    ReportScreen(WINDOW* w, ReportSettings& r) : w_(w), r_(r) {}

    void Draw() {
        werase(w_);
        box(w_, 0, 0);
        PutText(w_, 1, 1, fmt::sprintf("%-76s", fmt::sprintf("%*s", (76 + 25) / 2, "Kvroster Report Generator")),
                A_REVERSE);
        const char* labels[] = {"Fields   :", "Rec Count:", "Max Width:", "Rep Width:", "Location :"};
        for (int i = 0; i < 5; ++i) PutText(w_, 3 + 2 * i, 2, labels[i], A_BOLD);
        for (int i = 0; i < kReportFields; ++i) {
            DrawTitle(i, A_NORMAL);
            DrawMark(i);
        }
        DrawValues();
    }

    void DrawValues() {
        // The headings of the chosen fields on rows 3 and 4.
        for (int row = 3; row <= 4; ++row) PutText(w_, row, 13, std::string(kHeadingsEnd - 13, ' '));
        int row = 3, col = 13;
        std::vector<int> order = ChosenFields(r_);
        for (size_t n = 0; n < order.size(); ++n) {
            std::string text = r_.fields[size_t(order[n])].Heading;
            if (col + int(text.size()) > kHeadingsWrap && row == 3) {
                row = 4;
                col = 13;
            }
            if (n + 1 < order.size()) text += ',';
            if (col + int(text.size()) > kHeadingsEnd) text.resize(size_t(std::max(0, kHeadingsEnd - col)));
            PutText(w_, row, col, text);
            col += int(text.size());
        }
        PutText(w_, 5, 13, fmt::sprintf("%d  ", r_.records));
        PutText(w_, 7, 13, fmt::sprintf("%-3d", r_.pageWidth));
        PutText(w_, 9, 13, fmt::sprintf("%-3d", r_.usedWidth));
        static const char* kPlaces[] = {"File   ", "Screen ", "Printer"};
        PutText(w_, 11, 13, kPlaces[r_.destination]);
        if (r_.destination == kToFile) {
            PutText(w_, 13, 2, "File name:", A_BOLD);
            PutText(w_, 13, 13, fmt::sprintf("%-30.30s", r_.fileName));
        } else {
            PutText(w_, 13, 2, std::string(41, ' '));
        }
        wrefresh(w_);
    }

    int Select() {
        ShowStatusMessage("Use <Arrows> to move, <Space> to toggle, <Esc> return to menu");
        int cur = 0;
        for (;;) {
            DrawTitle(cur, A_REVERSE);
            PutText(w_, 17, 2, fmt::sprintf("Field length: %-3d", r_.fields[size_t(cur)].Width));
            wmove(w_, Row(cur), Col(cur));
            wrefresh(w_);
            const int key = ReadWindowKey(w_);
            DrawTitle(cur, A_NORMAL);
            switch (key) {
            case Ctrl('D'): case kTab: case KEY_DOWN: cur = (cur + 1) % kReportFields; break;
            case Ctrl('U'): case KEY_UP: case KEY_BTAB: cur = (cur + kReportFields - 1) % kReportFields; break;
            case KEY_LEFT: case KEY_RIGHT: cur = (cur + 13) % kReportFields; break;
            case Ctrl('L'):
                TouchAll();
                touchwin(w_);
                wrefresh(w_);
                RepaintScreen();
                break;
            case kEsc: case KEY_END:
                PutText(w_, 17, 2, std::string(20, ' '));
                return 0;
            case kEnter: case ' ':
                if (Toggle(cur)) cur = (cur + 1) % kReportFields;
                ShowStatusMessage("Use <Arrows> to move, <Space> to toggle, <Esc> return to menu");
                break;
            default: Beep(); break;
            }
        }
    }

    int Width() {
        if (r_.destination == kToScreen) {
            PopupAck(10, 18, "Cannot change width for on-screen reports");
        } else {
            r_.pageWidth = r_.pageWidth == 80 ? 132 : 80;
            DrawValues();
        }
        return 0;
    }

    int Location() {
        ShowStatusMessage("<Space> to toggle location - <Esc> when done");
        for (;;) {
            wmove(w_, 11, 12);
            wrefresh(w_);
            const int key = ReadWindowKey(w_);
            if (key == kEsc) return 0;
            if (key != kEnter && key != ' ') {
                Beep();
                continue;
            }
            r_.destination = r_.destination == kToScreen ? kToPrinter : r_.destination == kToPrinter ? kToFile : kToScreen;
            if (r_.destination == kToFile) {
                std::string name = r_.fileName;
                if (!PopupPrompt(14, 2, "Enter report file name", A_REVERSE, 30, name) || TrimmedEmpty(name))
                    name = kReportFile;
                r_.fileName = name;
            }
            if (r_.destination == kToScreen) r_.pageWidth = 80;
            DrawValues();
        }
    }

    int Reset() {
        ResetReport(r_);
        Draw();
        return 0;
    }

    int Execute() {
        if (r_.chosen == 0) {
            PopupAck(10, 23, "You must select record(s) to proceed");
            return 0;
        }
        std::vector<UserRecord> users = Records();
        if (r_.destination == kToScreen) ShowOnScreen(users);
        else Print(users);
        Beep();
        touchwin(w_);
        wrefresh(w_);
        return 0;
    }

private:
    static int Row(int field) { return 5 + field % 13; }
    static int Col(int field) { return field < 13 ? 45 : 62; }
    static bool TrimmedEmpty(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

    void DrawTitle(int field, attr_t attr) {
        PutText(w_, Row(field), Col(field) - 1, fmt::sprintf(" %-13.13s ", r_.fields[size_t(field)].Title), attr);
    }
    void DrawMark(int field) {
        PutText(w_, Row(field), Col(field) - 2, r_.fields[size_t(field)].Selected ? "*" : " ");
    }

    // Chooses or drops a field; false when it did not fit.
    bool Toggle(int field) {
        ReportField& f = r_.fields[size_t(field)];
        if (f.Selected) {
            UnchooseField(r_, field);
        } else {
            if (!FieldFits(r_, field, f.Width)) {
                PopupAck(10, 23, "No enough space for that field");
                return false;
            }
            DrawMarkAs(field, "*");
            if (field <= 2) AdjustWidth(field);
            ChooseField(r_, field);
        }
        DrawMark(field);
        DrawValues();
        return true;
    }
    void DrawMarkAs(int field, const char* mark) { PutText(w_, Row(field), Col(field) - 2, mark); }

    // '+' and '-' on the width of a text field before it is chosen; it
    // never grows past what the page still holds.
    void AdjustWidth(int field) {
        ShowStatusMessage("Press '+' and '-' to change field length or <Enter> to accept");
        int& width = r_.fields[size_t(field)].Width;
        PutText(w_, 17, 15, "[", A_BOLD);
        PutText(w_, 17, 18, "]", A_BOLD);
        for (;;) {
            PutText(w_, 17, 16, fmt::sprintf("%-2d", width));
            wmove(w_, 17, 16);
            wrefresh(w_);
            const int key = ReadWindowKey(w_);
            if (key == kEnter) break;
            if (key == '+' && width < MaxFieldWidth(field) && FieldFits(r_, field, width + 1)) ++width;
            else if (key == '-' && width > kMinTextWidth) --width;
            else Beep();
        }
        PutText(w_, 17, 15, " ");
        PutText(w_, 17, 18, " ");
    }

    std::vector<UserRecord> Records() {
        BrowseState& b = Browser();
        const bool markedOnly = r_.records < b.base.count();
        std::vector<UserRecord> users;
        for (const IndexEntry& e : b.base.index()) {
            if (markedOnly && !e.Marked) continue;
            UserRecord u;
            if (b.base.FetchUserRecord(e.RecordNumber, u)) users.push_back(u);
        }
        return users;
    }

    void ShowOnScreen(const std::vector<UserRecord>& users) {
        WINDOW* head = newwin(1, kScreenWidth, 2, 2);
        WINDOW* list = newwin(kScreenRows + 1, kScreenWidth, 3, 2);
        keypad(list, TRUE);
        scrollok(list, TRUE);
        PutText(head, 0, 0, FormatReportHeader(r_, kScreenWidth), A_REVERSE);
        wrefresh(head);
        werase(list);
        int row = 0;
        bool nonstop = false, stopped = false;
        try {
            for (const UserRecord& u : users) {
                if (row == kScreenRows && !nonstop) {
                    PutText(list, kScreenRows, 0, "More [Y/n/=]: ", A_BOLD);
                    wrefresh(list);
                    const int key = ReadWindowKey(list);
                    if (key == 'n' || key == 'N') {
                        stopped = true;
                        break;
                    }
                    if (key == '=') {
                        nonstop = true;
                    } else {
                        werase(list);
                        row = 0;
                    }
                }
                const std::string line = fmt::sprintf("%.75s", FormatReportLine(r_, u));
                if (nonstop) {
                    scroll(list);
                    PutText(list, kScreenRows, 0, line);
                } else {
                    PutText(list, row++, 0, line);
                }
                wrefresh(list);
            }
            if (!stopped) {
                if (nonstop) scroll(list);
                PutText(list, kScreenRows, 0, std::string(kScreenWidth - 1, ' '));
                PutText(list, kScreenRows, 0, "Hit any key to continue: ", A_BOLD);
                wrefresh(list);
                ReadWindowKey(list);
            }
        } catch (...) {
            delwin(list);
            delwin(head);
            throw;
        }
        delwin(list);
        delwin(head);
        TouchAll();
        touchwin(w_);
        wrefresh(w_);
    }

    void Print(const std::vector<UserRecord>& users) {
        ShowStatusMessage("One moment please ...");
        const std::string text = PaginatedReport(r_, users, DateString(), TimeString(), Config().BbsName);
        if (r_.destination == kToPrinter) {
            FILE* lp = popen(kPrinterCommand, "we");
            if (lp == nullptr) {
                RosterLog("Cannot start the printer: %s", kPrinterCommand);
                return;
            }
            // A printer program that is missing or ends early must not take
            // the editor with it; the child started with the usual SIGPIPE.
            struct sigaction ignore {}, old {};
            ignore.sa_handler = SIG_IGN;
            sigaction(SIGPIPE, &ignore, &old);
            size_t written = std::fwrite(text.data(), 1, text.size(), lp);
            int status = pclose(lp);
            sigaction(SIGPIPE, &old, nullptr);
            if (written != text.size() || status != 0) RosterLog("The printer took the report only in part");
            // Whatever the printer said went over the screen.
            clearok(curscr, TRUE);
            TouchAll();
            return;
        }
        // The file: never through a symbolic link, and only a regular file
        // is truncated and written (the report usually goes to /tmp).
        int fd = open(r_.fileName.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        struct stat st {};
        if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fd, 0) != 0 ||
            !WriteFully(fd, text.data(), text.size())) {
            RosterLog("Cannot write the report to %s", r_.fileName);
            PopupAck(10, 23, "Cannot write the report file");
        }
        if (fd >= 0) close(fd);
    }

    WINDOW* w_;
    ReportSettings& r_;
};

}  // namespace

int RunReports() {
    BrowseState& b = Browser();
    ClearStatusLine(false);
    Popup generator(19, 78, 1, 1);
    WINDOW* w = generator.w;
    int records = b.base.count();
    int marked = 0;
    for (const IndexEntry& e : b.base.index()) marked += e.Marked ? 1 : 0;
    if (marked > 0 && PopupChoice(10, 23, true, "Use Marked or All user's records?", "MA") == 'M') records = marked;
    ReportSettings settings = NewReport(records, int(Config().PhoneTemplate.size()));
    ReportScreen screen(w, settings);
    screen.Draw();
    const std::vector<MenuItem> table = {
        {"  Select", "Select/Unselect fields", [&] { return screen.Select(); }},
        {"  Width", "Toggle 80/132 column reports", [&] { return screen.Width(); }},
        {"  Location", "Select report location", [&] { return screen.Location(); }},
        {"  Reset", "Reset everything", [&] { return screen.Reset(); }},
        {"  Execute", "Print/Show the current report", [&] { return screen.Execute(); }},
        {"  Quit", "Return to main menu", [] { return -1; }},
    };
    for (;;) {
        RunMenuBar(table, 6, Windows().status, 0, 0, 0, false);
        if (settings.chosen == 0 || PopupChoice(10, 23, true, "Do you want to quit this report?", "YN") == 'Y') break;
        touchwin(w);
        wrefresh(w);
    }
    ShowHelpLine(kHelpMenu);
    return 0;
}

}  // namespace kv::roster

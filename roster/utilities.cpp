#include "roster/utilities.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <fmt/printf.h>

#include "common/shell_quote.h"
#include "common/strings.h"
#include "common/users.h"
#include "roster/screen.h"
#include "roster/session.h"
#include "roster/widgets.h"

namespace kv::roster {
namespace {

constexpr int kUtilityRows = 10;
constexpr int kUtilityWidth = 70;
constexpr size_t kUtilityLineMax = 131;

// Up to ten lines of the utility's output, each cut to 131 characters
// with its trailing blanks removed.
std::vector<std::string> ReadOutputLines(FILE* from) {
    std::vector<std::string> lines;
    char buf[kUtilityLineMax + 1];
    while (int(lines.size()) < kUtilityRows && std::fgets(buf, sizeof buf, from) != nullptr) {
        std::string line(buf);
        TrimRight(line);
        lines.push_back(line);
    }
    return lines;
}

// One page of output from column offset; false when Esc ended the paging.
bool ShowOutputPage(WINDOW* w, const std::vector<std::string>& lines, bool last) {
    size_t longest = 0;
    for (const std::string& l : lines) longest = std::max(longest, l.size());
    size_t offset = 0;
    for (;;) {
        for (size_t i = 0; i < lines.size(); ++i) {
            std::string part = offset < lines[i].size() ? lines[i].substr(offset) : std::string();
            PutText(w, 1 + int(i), 1, fmt::sprintf("%-70.70s", part));
        }
        const char* prompt = longest > size_t(kUtilityWidth) ? "   Press <Space> to see more  <Esc> Abort  <Return> Continue"
                             : last ? "   Press Any key to continue"
                                    : "   Press <Esc> Abort or Any other key to continue";
        PutText(w, 11, 1, prompt, A_BOLD);
        wrefresh(w);
        int key = ReadWindowKey(w);
        ClearWindow(w, true);
        if (key == kEsc) return false;
        if (longest <= size_t(kUtilityWidth) || key != ' ') return true;
        offset = offset + kUtilityWidth >= longest ? 0 : offset + 20;
    }
}

}  // namespace

std::string UtilityCommand(const std::string& line, const std::string& answer) {
    size_t bang = line.find('!');
    if (bang == std::string::npos) return line;
    return line.substr(0, bang) + ShellQuote(answer) + line.substr(bang + 1);
}

std::string UtilityProgram(const std::string& command) { return command.substr(0, command.find(' ')); }

void RunUtility(WINDOW* w, int digit) {
    const size_t entry = digit == '0' ? 9 : size_t(digit - '1');
    const std::string line = State().settings.UtilityCommands[entry];
    std::string answer;
    if (line.find('!') != std::string::npos) {
        if (!PopupPrompt(10, 26, "Enter command to execute", A_REVERSE, 24, answer) || answer.empty()) return;
    }
    const std::string command = UtilityCommand(line, answer);
    const std::string program = UtilityProgram(command);
    // The utility's complaints belong with its output, not over the screen.
    FILE* from = program.empty() || access(program.c_str(), X_OK) != 0
                     ? nullptr
                     : popen(("exec 2>&1; " + command).c_str(), "re");
    if (from == nullptr) {
        PopupAck(10, 16, "Cannot execute this utility, please check!");
        return;
    }
    std::vector<std::string> page = ReadOutputLines(from);
    while (!page.empty()) {
        std::vector<std::string> next = ReadOutputLines(from);
        if (!ShowOutputPage(w, page, next.empty())) break;
        page = std::move(next);
    }
    pclose(from);
    ClearWindow(w, true);
}

int RunUtilities() {
    Popup cw(13, 76, 6, 2);
    WINDOW* w = cw.w;
    wrefresh(w);
    for (;;) {
        const RosterSettings& s = State().settings;
        for (int i = 0; i < kUtilityRows; ++i) {
            PutText(w, 1 + i, 2, fmt::sprintf("%d-", (i + 1) % 10));
            PutText(w, 1 + i, 4, fmt::sprintf("%-68.68s", s.UtilityCommands[size_t(i)]));
        }
        PutText(w, 11, 1, "   Enter the number to execute or <Esc | CR> to abort :", A_REVERSE);
        wmove(w, 11, 57);
        wrefresh(w);
        int key = ReadWindowKey(w);
        if (key == kEnter || key == '\r' || key == kEsc) break;
        if (key >= '0' && key <= '9') {
            ClearWindow(w, true);
            RunUtility(w, key);
        }
    }
    return 0;
}

std::vector<LevelCount> LoadLevels() {
    std::vector<LevelLimits> lines;
    std::vector<LevelCount> levels;
    if (!ReadLimitsFile(true, lines)) return levels;
    for (const LevelLimits& l : lines) levels.push_back({long(l.Level), 0});
    std::stable_sort(levels.begin(), levels.end(),
                     [](const LevelCount& a, const LevelCount& b) { return a.level > b.level; });
    return levels;
}

bool CountUsers(UserTotals& t) {
    return ScanUsers([&t](int, const UserRecord& r) {
        ++t.records;
        if (r.Options & USER_DELETED) ++t.deleted;
        for (LevelCount& l : t.levels) {
            if (l.level == r.SecurityLevel) {
                ++l.users;
                break;
            }
        }
        t.calls += long(r.TotalCalls);
        t.posted += long(r.MessagesPosted);
        t.uploadFiles += long(r.UploadedFiles);
        t.uploadKb += long(r.UploadedKb);
        t.downloadFiles += long(r.DownloadedFiles);
        t.downloadKb += long(r.DownloadedKb);
        return true;
    });
}

double AveragePerUser(long total, long records) { return records == 0 ? 0.0 : double(total) / double(records); }

namespace {

void StatisticsTitle(WINDOW* w) {
    PutText(w, 1, 1, "    kvroster   User's database statistics    ", A_REVERSE);
    wattron(w, A_REVERSE);
    PutGlyph(w, 1, 14, Glyph::kSquare);
    wattroff(w, A_REVERSE);
}

int StatisticsPrompt(WINDOW* w, int row) {
    PutText(w, row, 2, "Hit any key to continue : ");
    wrefresh(w);
    return ReadWindowKey(w);
}

}  // namespace

int ShowStatistics() {
    UserTotals t;
    t.levels = LoadLevels();
    if (t.levels.empty()) {
        PopupAck(10, 20, "Cannot read/get limits and level");
        return 0;
    }
    CountUsers(t);
    Popup cw(12, 50, 7, 15);
    WINDOW* w = cw.w;
    wrefresh(w);
    StatisticsTitle(w);
    std::string count = fmt::sprintf("%ld user(s) in the file", t.records);
    if (t.deleted > 0) count += fmt::sprintf(", %ld deleted", t.deleted);
    PutText(w, 3, 2, count);
    PutText(w, 5, 2, "Level are defined as:");
    bool escaped = false;
    for (size_t i = 0; i < t.levels.size() && !escaped; ++i) {
        PutText(w, 6 + int(i % 4), 2, fmt::sprintf("Level %-6ld      %ld user(s)", t.levels[i].level, t.levels[i].users));
        if (i % 4 == 3 && i + 1 < t.levels.size()) {
            escaped = StatisticsPrompt(w, 10) == kEsc;
            for (int row = 6; row <= 9; ++row) PutText(w, row, 2, fmt::sprintf("%-46.46s", ""));
        }
    }
    if (escaped || StatisticsPrompt(w, 10) == kEsc) return 0;
    ClearWindow(w, true);
    StatisticsTitle(w);
    PutText(w, 2, 1, " Action               Count     Average/User   ");
    const struct {
        const char* label;
        long total;
    } rows[] = {
        {" Download (files)  ", t.downloadFiles}, {" Download (kbyte)  ", t.downloadKb},
        {" Upload (files)    ", t.uploadFiles},   {" Upload (kbyte)    ", t.uploadKb},
        {" No. of calls      ", t.calls},         {" Msgs posted       ", t.posted},
    };
    for (int i = 0; i < 6; ++i)
        PutText(w, 3 + i, 1,
                fmt::sprintf("%s%8ld        %9.2f", rows[i].label, rows[i].total, AveragePerUser(rows[i].total, t.records)));
    StatisticsPrompt(w, 10);
    return 0;
}

std::string OnlineRow(const OnlineCaller& c, const UserRecord& r) {
    return fmt::sprintf("%-4d %-25.25s %-25.25s %s %ld", c.Line, r.Name, r.Location, c.Entry.LogonTime, long(r.TotalCalls));
}

int ShowOnline() {
    std::vector<OnlineCaller> callers;
    if (!ListOnlineCallers(callers) || callers.empty()) {
        PopupAck(10, 23, "There's no currently logged user");
        return 0;
    }
    Popup cw(13, 76, 6, 2);
    WINDOW* w = cw.w;
    wrefresh(w);
    auto header = [w] {
        PutText(w, 1, 1, " Line  Name                      Location                  Time     Calls ", A_REVERSE);
    };
    header();
    for (size_t i = 0; i < callers.size(); ++i) {
        UserRecord r;
        if (!ReadUserRecord(callers[i].Entry.User, r)) r = UserRecord{};
        PutText(w, 2 + int(i % 9), 3, OnlineRow(callers[i], r));
        if (i % 9 == 8 && i + 1 < callers.size()) {
            PutText(w, 11, 2, "Hit any key to continue - <Esc> to abort : ", A_BOLD);
            wrefresh(w);
            if (ReadWindowKey(w) == kEsc) return 0;
            ClearWindow(w, true);
            header();
        }
    }
    PutText(w, 11, 2, "Hit any key to continue : ", A_BOLD);
    wrefresh(w);
    ReadWindowKey(w);
    return 0;
}

}  // namespace kv::roster

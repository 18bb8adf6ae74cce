#include "tools/kvconsole/lines_view.h"

#include <unistd.h>

#include <cerrno>

#include <fmt/format.h>

#include "common/user_record.h"
#include "common/users.h"

namespace kv::console {
namespace {

std::string Cut(std::string text, size_t width) {
    if (text.size() > width) text.resize(width);
    return text;
}

// A column of PC text: fmt would count its bytes as UTF-8.
std::string Column(std::string text, size_t width) {
    text.resize(width, ' ');
    return text;
}

std::string Who(const LineView& v) { return std::to_string(v.Line) + " " + v.Name; }

}  // namespace

LineView ViewOfEntry(int line, const OnlineEntry& e) {
    LineView v;
    v.Line = line;
    v.Pid = e.Pid;
    v.Flags = e.Flags;
    v.User = e.User;
    v.Since = e.LogonTime.substr(0, 5);
    UserRecord u;
    if (e.User < 0) v.Name = "(logging on)";
    else if (ReadUserRecord(e.User, u) && !u.Name.empty()) v.Name = u.Name;
    else v.Name = "user #" + std::to_string(e.User);
    return v;
}

bool ReadLines(std::vector<LineView>& lines, std::string* why) {
    lines.clear();
    // The first line of the board makes the file: until then nobody is on.
    if (access(OnlinePath().c_str(), F_OK) != 0 && errno == ENOENT) return true;
    std::vector<OnlineEntry> entries;
    if (!ReadOnlineFile(entries, why)) return false;
    for (size_t i = 0; i < entries.size(); ++i)
        if (LineInUse(entries[i])) lines.push_back(ViewOfEntry(int(i), entries[i]));
    return true;
}

int PagingLine(const std::vector<LineView>& lines) {
    for (const LineView& v : lines)
        if (v.Pages()) return v.Line;
    return -1;
}

const LineView* FindLine(const std::vector<LineView>& lines, int line) {
    for (const LineView& v : lines)
        if (v.Line == line) return &v;
    return nullptr;
}

std::string PagingRow(const std::vector<LineView>& lines, size_t width) {
    std::string row;
    for (const LineView& v : lines)
        if (v.Pages()) row += (row.empty() ? "Paging: line " : ", line ") + Who(v);
    if (row.empty()) row = "No line pages.";
    return Cut(row, width);
}

std::string OnLineRow(const std::vector<LineView>& lines, size_t width) {
    if (lines.empty()) return Cut("Nobody is on line.", width);
    std::string row = "On line:";
    for (const LineView& v : lines) {
        row += (&v == &lines.front() ? " " : ", ") + Who(v);
        if (v.Flags & LINE_MONITORED) row += " (monitored)";
    }
    return Cut(row, width);
}

std::string StateWords(uint8_t flags) {
    static const struct {
        uint8_t bit;
        const char* word;
    } kStates[] = {
        {LINE_PAGING, "paging"},          {LINE_MONITORED, "monitored"}, {LINE_EXTERNAL, "in a door"},
        {LINE_TRANSFER, "transferring"},  {LINE_CHAT, "in a line chat"}, {LINE_WRITING, "writing"},
        {LINE_NODISTURB, "do not disturb"},
    };
    std::string words;
    for (const auto& s : kStates)
        if (flags & s.bit) words += (words.empty() ? "" : ", ") + std::string(s.word);
    return words;
}

std::vector<std::string> WhoTable(const std::vector<LineView>& lines) {
    if (lines.empty()) return {"Nobody is on line."};
    std::vector<std::string> rows = {fmt::format("{:<5} {:<7} {:<25} {:<5}  {}", "Line", "PID", "Caller", "Since", "State")};
    for (const LineView& v : lines)
        rows.push_back(fmt::format("{:<5} {:<7} ", v.Line, v.Pid) + Column(v.Name, 25) +
                       fmt::format(" {:<5}  {}", v.Since, StateWords(v.Flags)));
    return rows;
}

}  // namespace kv::console

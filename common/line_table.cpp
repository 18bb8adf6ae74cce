#include "common/line_table.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "common/strings.h"

namespace kv {
namespace {

// Calls each(line) for every line of text, the line feed cut off; a last
// line without one counts as a line.
template <class Each>
void ForEachLine(std::string_view text, Each each) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!each(line)) return;
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

bool IsComment(std::string_view line) { return !line.empty() && line[0] == '#'; }

}  // namespace

std::vector<LineTableEntry> ParseLineTable(std::string_view text) {
    std::vector<LineTableEntry> lines;
    ForEachLine(text, [&](std::string_view raw) {
        if (lines.size() >= size_t(kLineTableMax)) return false;
        if (IsComment(raw)) return true;
        std::string line(raw.substr(0, 78));
        TrimRight(line);
        size_t comma = line.find(',');
        LineTableEntry e;
        e.Device = line.substr(0, comma);
        if (comma != std::string::npos) {
            e.Speed = std::atol(line.c_str() + comma + 1);
            size_t second = line.find(',', comma + 1);
            e.Delay = second == std::string::npos ? 0 : std::atoi(line.c_str() + second + 1);
        }
        lines.push_back(e);
        return true;
    });
    return lines;
}

bool ReadLineTable(const std::string& path, std::vector<LineTableEntry>& lines) {
    lines.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    lines = ParseLineTable(text);
    return true;
}

int CountLineEntries(std::string_view text) {
    int n = 0;
    ForEachLine(text, [&](std::string_view line) {
        if (!IsComment(line)) ++n;
        return true;
    });
    return n;
}

std::string SetLineDevice(std::string_view text, int n, std::string_view device) {
    std::string out;
    int entry = 0;
    ForEachLine(text, [&](std::string_view line) {
        if (!IsComment(line) && entry++ == n) {
            size_t comma = line.find(',');
            out.append(device);
            out.append(comma == std::string_view::npos ? std::string_view(",0,0") : line.substr(comma));
        } else {
            out.append(line);
        }
        out += '\n';
        return true;
    });
    if (entry <= n) {
        out.append(device);
        out += ",0,0\n";
    }
    return out;
}

}  // namespace kv

// The board's lines, "bbsline.ctl" in DataDir: one text line per line of
// the board, "device,speed,delay", where the device is the terminal below
// "/dev/", the speed the least the line requires (0 none) and the delay
// paces its output.  Lines beginning with "#" are comments; the others are
// the lines 0, 1, 2, ... of the system, at most 256 of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv {

inline constexpr const char* kLineTableFile = "bbsline.ctl";
inline constexpr int kLineTableMax = 256;

struct LineTableEntry {
    std::string Device;  // below "/dev/"
    long Speed = 0;
    int Delay = 0;
};

// The entries of the file's text in order (at most 256).
std::vector<LineTableEntry> ParseLineTable(std::string_view text);
// The same from the file; false when it cannot be read.
bool ReadLineTable(const std::string& path, std::vector<LineTableEntry>& lines);

// How many entries the text holds, beyond the 256 read too.
int CountLineEntries(std::string_view text);

// The text with the device of entry n set to device: the rest of that
// entry and every other line as they were.  With n entries before it, the
// entry is added at the end as "device,0,0".  Every line of the result
// ends in a line feed.
std::string SetLineDevice(std::string_view text, int n, std::string_view device);

}  // namespace kv
